#include "alertdesk.h"

#include "addresscheck.h"
#include "alertmail.h"
#include "logline.h"

AlertDesk::AlertDesk(AlertSettings settings, MailSpool &spool, std::function<void()> mailQueued)
    : m_settings(std::move(settings)), m_spool(spool), m_mailQueued(std::move(mailQueued)),
      m_book(m_settings.holdOff), m_budget(m_settings.maxPerHour), m_random(std::random_device{}())
{
}

AlertDesk::~AlertDesk()
{
    stop();
}

AlertDesk::Answer AlertDesk::alert(const std::optional<std::string> &address,
                                   const std::string &client, WallTime now)
{
    if (!address || !isAcceptableAddress(*address))
        return {400, "refused", "malformed address"};
    if (!m_settings.allow.allows(*address))
        return {403, "refused", "not on the allow-list"};

    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_book.record(*address, now, client) == HoldOffBook::Decision::Held)
        return {200, "held", "in hold-off"};
    m_changed.notify_all();
    if (!m_budget.take(now)) {
        m_book.hold(*address, now, client);
        return {200, "held", "hourly mail cap reached"};
    }
    AlertMail mail;
    mail.to = *address;
    mail.first = mail.last = mail.date = now;
    mail.client = client;
    std::string name;
    if (!spool(mail, name)) {
        m_book.hold(*address, now, client);
        return {503, "held", "spool not writable: " + name};
    }
    return {200, "queued", "spooled " + name};
}

bool AlertDesk::spool(const AlertMail &partial, std::string &name)
{
    AlertMail mail = partial;
    mail.from = m_settings.from;
    mail.holdOffSeconds = int(m_settings.holdOff.count());
    mail.messageId = makeMessageId(mail.date, m_random(), mail.from);
    SpooledMail spooled{envelopeAddress(mail.from), mail.to, composeAlertMail(mail)};
    std::string error;
    const auto added = m_spool.add(spooled, mail.date, error);
    if (!added) {
        name = error;
        logLine("spool error: " + error);
        return false;
    }
    name = *added;
    if (m_mailQueued)
        m_mailQueued();
    return true;
}

void AlertDesk::endHoldOffs(WallTime now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> forgotten;
    for (const HeldAlerts &held : m_book.expire(now, &forgotten)) {
        const std::string head = "hold-off " + held.address + " ended, " +
                                 std::to_string(held.count) + " more alert(s): ";
        if (!m_budget.take(now)) {
            m_book.restore(held);
            logLine(head + "hourly mail cap reached, carried over");
            continue;
        }
        AlertMail mail;
        mail.to = held.address;
        mail.summary = true;
        mail.count = held.count;
        mail.first = held.first;
        mail.last = held.last;
        mail.client = held.client;
        mail.date = now;
        std::string name;
        if (spool(mail, name)) {
            logLine(head + "summary spooled " + name);
        } else {
            m_book.restore(held);
            logLine(head + "summary not spooled, carried over");
        }
    }
    for (const std::string &address : forgotten)
        logLine("hold-off " + address + " ended, no more alerts");
}

void AlertDesk::start()
{
    m_thread = std::thread([this] { run(); });
}

void AlertDesk::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void AlertDesk::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        const std::optional<WallTime> next = m_book.nextExpiry();
        if (!next) {
            m_changed.wait(lock);
            continue;
        }
        if (WallClock::now() < *next) {
            // Woken early by a new hold-off or by stop(): look again.
            m_changed.wait_until(lock, *next);
            continue;
        }
        lock.unlock();
        endHoldOffs(WallClock::now());
        lock.lock();
    }
}
