#ifndef ORVELLA_SERVER_MAILDELIVERY_H
#define ORVELLA_SERVER_MAILDELIVERY_H

#include "mailspool.h"
#include "smtpsender.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

// Delay before the nth retry (from 1): the first delay, doubled for each
// further attempt, at most an hour.
std::chrono::seconds retryDelay(int attempt, std::chrono::seconds first);

// Delivers the spool's mails one at a time on a thread of its own, oldest
// first, from start-up on (so mails left by an earlier run go too). A mail
// leaves the spool only once the SMTP server took it; one refused for good,
// or still undelivered after retryFor, is moved aside. Each goes through
// the spool's sending/ folder, and is not sent at all when it cannot be
// moved there; when a step after the SMTP server's answer cannot be written
// (a read-only spool), the mail is never sent again and the step is tried
// again until it can be.
class MailDelivery
{
public:
    MailDelivery(const MailSpool &spool, SmtpSettings smtp, std::chrono::seconds firstRetry,
                 std::chrono::seconds retryFor);
    ~MailDelivery();

    void start();
    void stop();
    // A new mail is in the spool.
    void wake();

private:
    struct Schedule {
        int attempts = 0;
        WallTime next;
    };
    // A mail in sending/ whose last step could not be written yet.
    enum class Unsettled { Sent, BackToSpool, Aside };
    void run();
    void deliver(const std::string &name, Schedule &schedule);
    void settle();
    bool finish(const std::string &name, Unsettled step, std::string &error);

    const MailSpool &m_spool;
    SmtpSettings m_smtp;
    std::chrono::seconds m_firstRetry;
    std::chrono::seconds m_retryFor;
    std::map<std::string, Schedule> m_schedule;
    std::map<std::string, Unsettled> m_unsettled;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_woken = true;
    bool m_stopping = false;
    std::thread m_thread;
};

#endif
