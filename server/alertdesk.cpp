#include "alertdesk.h"

#include "addresscheck.h"
#include "alertmail.h"
#include "logline.h"

namespace
{

const std::chrono::minutes reportEvery(1);
const std::chrono::seconds spoolRetryDelay(10);

int domainShare(const AlertSettings &settings)
{
    // With no address listed on its own there is nobody to keep room for.
    return settings.allow.hasAddresses() ? (settings.maxPerHour + 1) / 2 : settings.maxPerHour;
}

} // namespace

AlertDesk::AlertDesk(AlertSettings settings, MailSpool &spool, std::function<void()> mailQueued)
    : m_settings(std::move(settings)), m_spool(spool), m_mailQueued(std::move(mailQueued)),
      m_book(m_settings.holdOff, m_settings.maxHeldAddresses),
      m_budget(m_settings.maxPerHour, domainShare(m_settings)), m_random(std::random_device{}())
{
    if (!m_settings.journalPath.empty())
        m_journal = std::make_unique<HoldOffJournal>(m_settings.journalPath);
}

AlertDesk::~AlertDesk()
{
    stop();
}

void AlertDesk::load(WallTime now)
{
    if (!m_journal)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::size_t held = 0;
    for (const HoldOffState &state : m_journal->load()) {
        // The allow-list may have changed since.
        const AllowList::Match match = m_settings.allow.match(state.held.address);
        if (match == AllowList::Match::None)
            continue;
        m_book.load(state, match == AllowList::Match::Listed, now);
        held += m_book.state(state.held.address) ? std::size_t(state.held.count) : 0;
    }
    std::string error;
    if (!m_journal->rewrite(m_book.states(), error))
        logLine("hold-offs cannot be kept across restarts: " + error);
    if (m_book.size() > 0)
        logLine(std::to_string(m_book.size()) + " hold-off(s) with " + std::to_string(held) +
                " held alert(s) taken over from " + m_journal->path());
}

void AlertDesk::keep(const std::string &address)
{
    if (!m_journal)
        return;
    std::string error;
    const std::optional<HoldOffState> state = m_book.state(address);
    const bool written = state ? m_journal->note(*state, error) : m_journal->forget(address, error);
    if (!written)
        logThrottled("journal error", "hold-offs cannot be kept across restarts: " + error);
    // Written anew once it is mostly old lines.
    if (m_journal->appended() > 1000 + 4 * m_book.size() &&
        !m_journal->rewrite(m_book.states(), error))
        logThrottled("journal error", "hold-offs cannot be kept across restarts: " + error);
}

AlertDesk::Answer AlertDesk::alert(const std::optional<std::string> &given,
                                   const std::string &client, WallTime now)
{
    if (!given || !isAcceptableAddress(*given))
        return {400, "refused", "malformed address"};
    // One form for the allow-list, the hold-off and the mail: case variants
    // are the same recipient.
    const std::string address = canonicalAddress(*given);
    const AllowList::Match match = m_settings.allow.match(address);
    if (match == AllowList::Match::None)
        return {403, "refused", "not on the allow-list"};
    const bool listed = match == AllowList::Match::Listed;

    std::lock_guard<std::mutex> lock(m_mutex);
    switch (m_book.record(address, listed, now, client)) {
    case HoldOffBook::Decision::Held:
        keep(address);
        return {200, "held", "in hold-off"};
    case HoldOffBook::Decision::Full:
        ++m_dropped;
        if (now - m_droppedReported >= reportEvery) {
            logLine("hold-offs full (" + std::to_string(m_settings.maxHeldAddresses) +
                    " addresses allowed through @domain entries): " + std::to_string(m_dropped) +
                    " alert(s) for further addresses dropped");
            m_droppedReported = now;
            m_dropped = 0;
        }
        return {503, "dropped", "hold-offs full"};
    case HoldOffBook::Decision::MailNow:
        break;
    }
    m_changed.notify_all();
    if (!m_budget.take(now, listed)) {
        m_book.hold(address, listed, now, client);
        keep(address);
        return {200, "held", "hourly mail cap reached"};
    }
    AlertMail mail;
    mail.to = address;
    mail.first = mail.last = mail.date = now;
    mail.client = client;
    std::string name;
    if (!spool(mail, name)) {
        m_book.hold(address, listed, now, client);
        keep(address);
        return {503, "held", "spool not writable: " + name};
    }
    keep(address);
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
        logThrottled("spool error", "spool error: " + error);
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
    m_book.expire(now, &forgotten);
    for (const std::string &address : forgotten) {
        keep(address);
        logThrottled("hold-off over", "hold-off " + address + " ended, no more alerts");
    }
    if (m_spoolRetry && now < *m_spoolRetry)
        return;
    m_spoolRetry.reset();
    while (const auto next = m_book.nextDue()) {
        if (!m_budget.take(now, next->second))
            break;
        const HeldAlerts held = m_book.takeDue(now);
        const std::string head = "hold-off " + held.address + " ended, " +
                                 std::to_string(held.count) + " more alert(s): ";
        AlertMail mail;
        mail.to = held.address;
        mail.summary = true;
        mail.count = held.count;
        mail.first = held.first;
        mail.last = held.last;
        mail.client = held.client;
        mail.date = now;
        std::string name;
        if (!spool(mail, name)) {
            m_book.restore(held, now);
            keep(held.address);
            m_spoolRetry = now + spoolRetryDelay;
            logLine(head + "summary not spooled, tried again in " +
                    std::to_string(spoolRetryDelay.count()) + " s");
            break;
        }
        keep(held.address);
        logLine(head + "summary spooled " + name);
    }
    if (m_book.due() > 0 && !m_spoolRetry && now - m_waitingReported >= reportEvery) {
        logLine(std::to_string(m_book.due()) +
                " address(es) with held alerts wait for the hourly mail cap");
        m_waitingReported = now;
    }
}

std::optional<WallTime> AlertDesk::nextWake(WallTime now)
{
    std::optional<WallTime> next = m_book.nextExpiry();
    std::optional<WallTime> due;
    if (m_spoolRetry)
        due = m_spoolRetry;
    else if (const auto first = m_book.nextDue())
        due = m_budget.nextRoom(now, first->second);
    if (due && (!next || *due < *next))
        next = due;
    return next;
}

std::optional<WallTime> AlertDesk::nextWork(WallTime now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return nextWake(now);
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
        const std::optional<WallTime> next = nextWake(WallClock::now());
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
