#ifndef ORVELLA_SERVER_ALERTDESK_H
#define ORVELLA_SERVER_ALERTDESK_H

#include "alertmail.h"
#include "allowlist.h"
#include "holdoffbook.h"
#include "holdoffjournal.h"
#include "mailbudget.h"
#include "mailspool.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>

struct AlertSettings {
    AllowList allow;
    std::chrono::seconds holdOff{300};
    int maxPerHour = 60;
    std::size_t maxHeldAddresses = 1000;
    std::string from;
    // Where the hold-offs are kept across restarts; empty: nowhere.
    std::string journalPath;
};

// Turns the stream of alert requests into few mails: checks the address,
// keeps the hold-offs and the hourly cap, and puts every mail it decides on
// into the spool. A thread of its own sends the summaries when hold-offs end
// and the budget has room, and sleeps otherwise.
class AlertDesk
{
public:
    struct Answer {
        int status;
        std::string body; // "queued", "held", "refused" or "dropped"
        std::string note; // for the log
    };

    AlertDesk(AlertSettings settings, MailSpool &spool, std::function<void()> mailQueued);
    ~AlertDesk();

    // Takes the hold-offs an earlier run left in the journal.
    void load(WallTime now);

    // address: the decoded x parameter, nullopt when missing or repeated.
    Answer alert(const std::optional<std::string> &address, const std::string &client,
                 WallTime now);

    // Ends the hold-offs that are over by now and spools the summaries the
    // budget has room for; called by the thread.
    void endHoldOffs(WallTime now);

    // When the thread has work next: the next hold-off to end, or the time
    // the budget has room for a summary waiting in line; nullopt: none.
    std::optional<WallTime> nextWork(WallTime now);

    void start();
    void stop();

private:
    bool spool(const AlertMail &mail, std::string &name);
    // Writes the address's hold-off, or its end, to the journal.
    void keep(const std::string &address);
    std::optional<WallTime> nextWake(WallTime now);
    void run();

    AlertSettings m_settings;
    MailSpool &m_spool;
    std::function<void()> m_mailQueued;
    HoldOffBook m_book;
    MailBudget m_budget;
    std::unique_ptr<HoldOffJournal> m_journal;
    std::mt19937_64 m_random;

    // Once-a-minute reports of what the ceilings held back.
    std::size_t m_dropped = 0;
    WallTime m_droppedReported;
    WallTime m_waitingReported;
    std::optional<WallTime> m_spoolRetry;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stopping = false;
    std::thread m_thread;
};

#endif
