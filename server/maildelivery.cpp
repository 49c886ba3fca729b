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

        lock.lock();
        const auto ready = [this] { return m_stopping || m_woken; };
        if (next)
            m_changed.wait_until(lock, *next, ready);
        else
            m_changed.wait(lock, ready);
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
    const SmtpOutcome outcome = sendMail(m_smtp, *mail);
    const std::string head = "delivery " + name + " to " + mail->recipient + ": ";
    const std::string code = outcome.code ? " (" + std::to_string(outcome.code) + ")" : "";
    switch (outcome.result) {
    case SmtpOutcome::Accepted:
        m_spool.remove(name);
        logLine(head + "accepted" + code);
        m_schedule.erase(name);
        return;
    case SmtpOutcome::Refused:
        m_spool.moveAside(name);
        logLine(head + "refused for good" + code + ": " + outcome.detail + "; moved to failed/");
        m_schedule.erase(name);
        return;
    case SmtpOutcome::TryLater:
        break;
    }
    const WallTime now = WallClock::now();
    const auto accepted = MailSpool::acceptedAt(name).value_or(now);
    if (now - accepted >= m_retryFor) {
        m_spool.moveAside(name);
        logLine(head + "not delivered" + code + ": " + outcome.detail + "; gave up after " +
                std::to_string(m_retryFor.count()) + " s, moved to failed/");
        m_schedule.erase(name);
        return;
    }
    ++schedule.attempts;
    const std::chrono::seconds delay = retryDelay(schedule.attempts, m_firstRetry);
    schedule.next = now + delay;
    logLine(head + "not delivered" + code + ": " + outcome.detail + "; retry in " +
            std::to_string(delay.count()) + " s");
}
