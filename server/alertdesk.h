#ifndef ORVELLA_SERVER_ALERTDESK_H
#define ORVELLA_SERVER_ALERTDESK_H

#include "alertmail.h"
#include "allowlist.h"
#include "holdoffbook.h"
#include "mailbudget.h"
#include "mailspool.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>

struct AlertSettings {
    AllowList allow;
    std::chrono::seconds holdOff{300};
    int maxPerHour = 60;
    std::string from;
};

// Turns the stream of alert requests into few mails: checks the address,
// keeps the hold-offs and the hourly cap, and puts every mail it decides on
// into the spool. A thread of its own sends the summaries when hold-offs end.
class AlertDesk
{
public:
    struct Answer {
        int status;
        std::string body; // "queued", "held" or "refused"
        std::string note; // for the log
    };

    AlertDesk(AlertSettings settings, MailSpool &spool, std::function<void()> mailQueued);
    ~AlertDesk();

    // address: the decoded x parameter, nullopt when missing or repeated.
    Answer alert(const std::optional<std::string> &address, const std::string &client,
                 WallTime now);

    // Ends the hold-offs that are over by now; called by the thread.
    void endHoldOffs(WallTime now);

    void start();
    void stop();

private:
    bool spool(const AlertMail &mail, std::string &name);
    void run();

    AlertSettings m_settings;
    MailSpool &m_spool;
    std::function<void()> m_mailQueued;
    HoldOffBook m_book;
    MailBudget m_budget;
    std::mt19937_64 m_random;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stopping = false;
    std::thread m_thread;
};

#endif
