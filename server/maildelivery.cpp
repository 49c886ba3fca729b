#include "maildelivery.h"

#include "logline.h"

#include <algorithm>

std::chrono::seconds retryDelay(int attempt, std::chrono::seconds first)
{
    const std::chrono::seconds cap = std::chrono::hours(1);
    std::chrono::seconds delay = first;
    for (int i = 1; i < attempt && delay < cap; ++i)
        delay *= 2;
    return std::min(delay, std::max(cap, first));
}

MailDelivery::MailDelivery(const MailSpool &spool, SmtpSettings smtp,
                           std::chrono::seconds firstRetry, std::chrono::seconds retryFor)
    : m_spool(spool), m_smtp(std::move(smtp)), m_firstRetry(firstRetry), m_retryFor(retryFor)
{
}

MailDelivery::~MailDelivery()
{
    stop();
}

void MailDelivery::start()
{
    m_thread = std::thread([this] { run(); });
}

void MailDelivery::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void MailDelivery::wake()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_woken = true;
    }
    m_changed.notify_all();
}

void MailDelivery::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        m_woken = false;
        lock.unlock();

        settle();
        // The folder is the truth: what is in it waits, whoever put it there.
        const std::vector<std::string> names = m_spool.waiting();
        for (auto it = m_schedule.begin(); it != m_schedule.end();)
            it = std::binary_search(names.begin(), names.end(), it->first) ? std::next(it)
                                                                           : m_schedule.erase(it);
        for (const std::string &name : names) {
            Schedule &schedule = m_schedule[name];
            if (schedule.attempts == 0 || schedule.next <= WallClock::now())
                deliver(name, schedule);
            std::lock_guard<std::mutex> check(m_mutex);
            if (m_stopping)
                return;
        }

        std::optional<WallTime> next;
        for (const auto &entry : m_schedule)
            if (entry.second.attempts > 0 && (!next || entry.second.next < *next))
                next = entry.second.next;
        if (!m_unsettled.empty() && (!next || WallClock::now() + m_firstRetry < *next))
            next = WallClock::now() + m_firstRetry;

        lock.lock();
        const auto ready = [this] { return m_stopping || m_woken; };
        if (next)
            m_changed.wait_until(lock, *next, ready);
        else
            m_changed.wait(lock, ready);
    }
}

bool MailDelivery::finish(const std::string &name, Unsettled step, std::string &error)
{
    switch (step) {
    case Unsettled::Sent:
        return m_spool.removeSent(name, error);
    case Unsettled::BackToSpool:
        return m_spool.unmarkSending(name, error);
    case Unsettled::Aside:
        return m_spool.moveSendingAside(name, error);
    }
    return false;
}

void MailDelivery::settle()
{
    for (auto it = m_unsettled.begin(); it != m_unsettled.end();) {
        std::string error;
        if (!finish(it->first, it->second, error)) {
            logThrottled("unsettled", "delivery " + it->first +
                                          ": the spool still cannot record it (" + error + ")");
            ++it;
            continue;
        }
        logLine("delivery " + it->first + ": spool writable again, " +
                (it->second == Unsettled::Sent          ? "removed from sending/"
                 : it->second == Unsettled::BackToSpool ? "back in the spool"
                                                        : "moved to failed/"));
        it = m_unsettled.erase(it);
    }
}

void MailDelivery::deliver(const std::string &name, Schedule &schedule)
{
    const std::optional<SpooledMail> mail = m_spool.read(name);
    if (!mail) {
        // Removed meanwhile, or not a mail this server wrote.
        if (m_spool.moveAside(name))
            logLine("delivery " + name + ": unreadable, moved to failed/");
        m_schedule.erase(name);
        return;
    }
    const std::string head = "delivery " + name + " to " + mail->recipient + ": ";
    const auto retryLater = [&](const std::string &why) {
        ++schedule.attempts;
        const std::chrono::seconds delay = retryDelay(schedule.attempts, m_firstRetry);
        schedule.next = WallClock::now() + delay;
        logLine(head + why + "; retry in " + std::to_string(delay.count()) + " s");
    };
    std::string error;
    // Sent only once it is on record as being sent.
    if (!m_spool.markSending(name, error)) {
        retryLater("not sent, cannot move it to sending/: " + error);
        return;
    }
    const SmtpOutcome outcome = sendMail(m_smtp, *mail);
    const std::string code = outcome.code ? " (" + std::to_string(outcome.code) + ")" : "";
    const auto record = [&](Unsettled step, const std::string &what) {
        m_schedule.erase(name);
        if (finish(name, step, error)) {
            logLine(head + what);
            return;
        }
        m_unsettled[name] = step;
        logLine(head + what + "; the spool cannot record it (" + error +
                "): left in sending/, never sent again, recorded when the spool is writable");
    };
    switch (outcome.result) {
    case SmtpOutcome::Accepted:
        record(Unsettled::Sent, "accepted" + code);
        return;
    case SmtpOutcome::Refused:
        record(Unsettled::Aside,
               "refused for good" + code + ": " + outcome.detail + "; moved to failed/");
        return;
    case SmtpOutcome::TryLater:
        break;
    }
    const WallTime now = WallClock::now();
    const auto accepted = MailSpool::acceptedAt(name).value_or(now);
    if (now - accepted >= m_retryFor) {
        record(Unsettled::Aside, "not delivered" + code + ": " + outcome.detail +
                                     "; gave up after " + std::to_string(m_retryFor.count()) +
                                     " s, moved to failed/");
        return;
    }
    if (!m_spool.unmarkSending(name, error)) {
        m_unsettled[name] = Unsettled::BackToSpool;
        m_schedule.erase(name);
        logLine(head + "not delivered" + code + ": " + outcome.detail +
                "; cannot put it back from sending/ (" + error + "), retried once it can");
        return;
    }
    retryLater("not delivered" + code + ": " + outcome.detail);
}
