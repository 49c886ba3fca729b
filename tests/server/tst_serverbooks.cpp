// The server's bookkeeping: hold-offs, the hourly cap, the rate per client,
// retry delays, the alert mail's text and the spool folder.
#include "alertdesk.h"
#include "alertmail.h"
#include "clientslots.h"
#include "holdoffbook.h"
#include "holdoffjournal.h"
#include "mailbudget.h"
#include "maildelivery.h"
#include "mailspool.h"
#include "ratelimiter.h"
#include "smtpsender.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <unistd.h>

using namespace std::chrono;

namespace
{

// 2026-12-07 09:15:03 UTC
const WallTime t0 = WallTime(seconds(1796634903));

// Ends the hold-offs over at t and takes every summary due then.
std::vector<HeldAlerts> summariesAt(HoldOffBook &book, WallTime t,
                                    std::vector<std::string> *forgotten = nullptr)
{
    book.expire(t, forgotten);
    std::vector<HeldAlerts> due;
    while (book.nextDue())
        due.push_back(book.takeDue(t));
    return due;
}

} // namespace

class TestServerBooks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void holdOff_data();
    void holdOff();
    void holdOffRestoreMerges();
    void mailBudget();
    void mailBudgetKeepsRoomForListed();
    void rateLimiter();
    void retryDelays_data();
    void retryDelays();
    void smtpResults_data();
    void smtpResults();
    void firstMail();
    void summaryMail();
    void envelope_data();
    void envelope();
    void spoolText_data();
    void spoolText();
    void spoolFolder();
    void deskAnswers_data();
    void deskAnswers();
    void deskKeepsTheHourlyCap();
    void holdOffCeiling();
    void deskCaseVariantsShareOneHoldOff();
    void deskWaitsForTheBudgetWithoutWork();
    void deskHoldOffsSurviveARestart();
    void journalText();
    void spoolLockAndSending();
    void clientSlots();
};

void TestServerBooks::initTestCase()
{
    // Mail times are local; pin the zone so that the texts are known.
    qputenv("TZ", "CET-1");
    tzset();
}

void TestServerBooks::holdOff_data()
{
    // Alerts for one address at the given seconds after t0 (hold-off 300 s),
    // and what each got; then the expiries seen at the given times.
    QTest::addColumn<QList<int>>("alerts");
    QTest::addColumn<QString>("decisions");    // M = mail now, H = held
    QTest::addColumn<QList<int>>("expiries");  // checked at these times
    QTest::addColumn<QList<int>>("summaries"); // count returned at each (0: none)

    QTest::newRow("single alert") << QList<int>{0} << "M" << QList<int>{299, 300, 600}
                                  << QList<int>{0, 0, 0};
    QTest::newRow("burst") << QList<int>{0, 1, 2, 3} << "MHHH" << QList<int>{299, 300, 600}
                           << QList<int>{0, 3, 0};
    QTest::newRow("alert at the end of the hold-off is held")
        << QList<int>{0, 299} << "MH" << QList<int>{300} << QList<int>{1};
    QTest::newRow("after a quiet hold-off, mailed again")
        << QList<int>{0, 301} << "MM" << QList<int>{} << QList<int>{};
    QTest::newRow("motion going on: one summary per hold-off")
        << QList<int>{0, 10, 310, 320, 330} << "MHHHH" << QList<int>{300, 600, 900}
        << QList<int>{1, 3, 0};
}

void TestServerBooks::holdOff()
{
    QFETCH(QList<int>, alerts);
    QFETCH(QString, decisions);
    QFETCH(QList<int>, expiries);
    QFETCH(QList<int>, summaries);

    HoldOffBook book(seconds(300), 1000);
    QString got;
    int next = 0;
    for (int i = 0; i < alerts.size(); ++i) {
        // Expiries due before this alert run first, as the server's thread would.
        while (next < expiries.size() && expiries[next] <= alerts[i]) {
            const auto due = summariesAt(book, t0 + seconds(expiries[next]));
            QCOMPARE(due.empty() ? 0 : due.front().count, summaries[next]);
            ++next;
        }
        // A quiet hold-off ends before the next alert in the "mailed again" row.
        summariesAt(book, t0 + seconds(alerts[i]));
        got += book.record("a@example.com", true, t0 + seconds(alerts[i]), "10.0.0.1") ==
                       HoldOffBook::Decision::MailNow
                   ? 'M'
                   : 'H';
    }
    QCOMPARE(got, decisions);
    for (; next < expiries.size(); ++next) {
        const auto due = summariesAt(book, t0 + seconds(expiries[next]));
        QCOMPARE(due.empty() ? 0 : due.front().count, summaries[next]);
        if (!due.empty()) {
            QCOMPARE(QString::fromStdString(due.front().address), QString("a@example.com"));
            QVERIFY(due.front().first <= due.front().last);
        }
    }
}

void TestServerBooks::holdOffRestoreMerges()
{
    HoldOffBook book(seconds(60), 1000);
    QVERIFY(!book.nextExpiry());
    book.record("a@example.com", false, t0, "1.1.1.1");
    QCOMPARE(*book.nextExpiry(), t0 + seconds(60));
    book.record("a@example.com", false, t0 + seconds(5), "1.1.1.1");
    book.record("b@example.com", false, t0 + seconds(10), "2.2.2.2");
    const auto due = summariesAt(book, t0 + seconds(60));
    QCOMPARE(int(due.size()), 1);
    QCOMPARE(due.front().count, 1);
    QCOMPARE(due.front().first, t0 + seconds(5));
    book.record("a@example.com", false, t0 + seconds(70), "3.3.3.3");
    book.restore(due.front(), t0 + seconds(70));
    QCOMPARE(int(book.due()), 1); // back in the line at once
    const auto later = summariesAt(book, t0 + seconds(120));
    QCOMPARE(int(later.size()), 1);
    QCOMPARE(later.front().count, 2);
    QCOMPARE(later.front().first, t0 + seconds(5));
    QCOMPARE(later.front().last, t0 + seconds(70));
    QCOMPARE(QString::fromStdString(later.front().client), QString("3.3.3.3"));
    std::vector<std::string> forgotten;
    summariesAt(book, t0 + seconds(200), &forgotten);
    QCOMPARE(int(forgotten.size()), 1); // a; b was dropped at 120 s
    QCOMPARE(int(book.size()), 0);
}

void TestServerBooks::mailBudget()
{
    MailBudget budget(3, 3);
    QVERIFY(budget.take(t0, true));
    QVERIFY(budget.take(t0 + seconds(1), true));
    QVERIFY(budget.take(t0 + seconds(2), false));
    QVERIFY(!budget.take(t0 + seconds(3), true));
    QCOMPARE(*budget.nextRoom(t0 + seconds(3), true), t0 + seconds(3600));
    QVERIFY(!budget.take(t0 + seconds(3599), true));
    QVERIFY(budget.take(t0 + seconds(3600), true));
    QVERIFY(!budget.take(t0 + seconds(3600), true));
    MailBudget none(0, 0);
    QVERIFY(!none.take(t0, true));
    QVERIFY(!none.nextRoom(t0, true));
}

void TestServerBooks::mailBudgetKeepsRoomForListed()
{
    // 4 an hour, at most 2 of them to addresses allowed through @domain.
    MailBudget budget(4, 2);
    QVERIFY(budget.take(t0, false));
    QVERIFY(budget.take(t0 + seconds(1), false));
    QVERIFY(!budget.take(t0 + seconds(2), false));
    QCOMPARE(*budget.nextRoom(t0 + seconds(2), false), t0 + seconds(3600));
    QCOMPARE(*budget.nextRoom(t0 + seconds(2), true), t0 + seconds(2));
    QVERIFY(budget.take(t0 + seconds(3), true));
    QVERIFY(budget.take(t0 + seconds(4), true));
    QVERIFY(!budget.take(t0 + seconds(5), true));
    // The first domain mail leaves the hour: room for one more of those.
    QVERIFY(budget.take(t0 + seconds(3600), false));
    QVERIFY(!budget.take(t0 + seconds(3600), false));
}

void TestServerBooks::rateLimiter()
{
    RateLimiter limiter(20);
    const auto start = RateLimiter::Clock::now();
    int allowed = 0;
    for (int i = 0; i < 30; ++i)
        allowed += limiter.allow("10.0.0.1", start);
    QCOMPARE(allowed, 20);
    QVERIFY(limiter.allow("10.0.0.2", start)); // another client has its own bucket
    QVERIFY(!limiter.allow("10.0.0.1", start + milliseconds(40)));
    QVERIFY(limiter.allow("10.0.0.1", start + milliseconds(60)));
    int later = 0;
    for (int i = 0; i < 30; ++i)
        later += limiter.allow("10.0.0.1", start + seconds(5));
    QCOMPARE(later, 20);
    // Idle clients are forgotten as calls go by; the table does not grow.
    for (int i = 0; i < 5000; ++i)
        limiter.allow("10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256),
                      start + seconds(10 + i));
    QVERIFY(limiter.clients() < 5000);
}

void TestServerBooks::retryDelays_data()
{
    QTest::addColumn<int>("attempt");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("delay");
    QTest::newRow("first") << 1 << 60 << 60;
    QTest::newRow("second") << 2 << 60 << 120;
    QTest::newRow("sixth") << 6 << 60 << 1920;
    QTest::newRow("capped at an hour") << 7 << 60 << 3600;
    QTest::newRow("far on") << 500 << 60 << 3600;
    QTest::newRow("short first delay") << 3 << 1 << 4;
}

void TestServerBooks::retryDelays()
{
    QFETCH(int, attempt);
    QFETCH(int, first);
    QFETCH(int, delay);
    QCOMPARE(int(retryDelay(attempt, seconds(first)).count()), delay);
}

void TestServerBooks::smtpResults_data()
{
    QTest::addColumn<bool>("curlOk");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("result");
    QTest::newRow("accepted") << true << 250 << int(SmtpOutcome::Accepted);
    QTest::newRow("no connection") << false << 0 << int(SmtpOutcome::TryLater);
    QTest::newRow("greylisted") << false << 451 << int(SmtpOutcome::TryLater);
    QTest::newRow("mailbox refused") << false << 550 << int(SmtpOutcome::Refused);
    QTest::newRow("transaction failed") << false << 554 << int(SmtpOutcome::Refused);
}

void TestServerBooks::smtpResults()
{
    QFETCH(bool, curlOk);
    QFETCH(int, code);
    QFETCH(int, result);
    QCOMPARE(int(classifySmtpResult(curlOk, code)), result);
}

void TestServerBooks::firstMail()
{
    AlertMail mail;
    mail.from = "Orvella <alerts@example.net>";
    mail.to = "guard+cam@example.com";
    mail.first = mail.last = mail.date = t0;
    mail.client = "192.0.2.7";
    mail.holdOffSeconds = 300;
    mail.messageId = makeMessageId(t0, 0xabcdef, mail.from);
    const QString text = QString::fromStdString(composeAlertMail(mail));
    const QStringList parts = text.split("\r\n\r\n");
    const QStringList header = parts.first().split("\r\n");
    QCOMPARE(header.value(0), QString("Date: Mon, 07 Dec 2026 10:15:03 +0100"));
    QCOMPARE(header.value(1), QString("From: Orvella <alerts@example.net>"));
    QCOMPARE(header.value(2), QString("To: guard+cam@example.com"));
    QCOMPARE(header.value(3),
             QString("Subject: Orvella: motion detected at 2026-12-07 10:15:03 CET"));
    QCOMPARE(header.value(4), QString("Message-ID: <20261207091503.0000000000abcdef@example.net>"));
    QVERIFY(header.contains("Content-Type: text/plain; charset=utf-8"));
    const QString body = text.mid(text.indexOf("\r\n\r\n") + 4);
    QVERIFY(body.contains("2026-12-07 10:15:03 CET (2026-12-07 09:15:03 UTC)"));
    QVERIFY(body.contains("Alerts: 1\r\n"));
    QVERIFY(body.contains("Client: 192.0.2.7"));
    QVERIFY(body.contains("300 seconds"));
    // Every line ends with CR LF; no bare LF.
    QCOMPARE(text.count('\n'), text.count("\r\n"));
}

void TestServerBooks::summaryMail()
{
    AlertMail mail;
    mail.from = "alerts@example.net";
    mail.to = "a@example.com";
    mail.summary = true;
    mail.count = 42;
    mail.first = t0 + seconds(1);
    mail.last = t0 + seconds(250);
    mail.date = t0 + seconds(300);
    mail.client = "127.0.0.1";
    mail.messageId = "<x@example.net>";
    const QString text = QString::fromStdString(composeAlertMail(mail));
    QVERIFY(text.contains("Date: Mon, 07 Dec 2026 10:20:03 +0100\r\n"));
    QVERIFY(text.contains("Subject: Orvella: motion detected at 2026-12-07 10:15:04 CET\r\n"));
    QVERIFY(text.contains("Alerts: 42 more\r\n"));
    QVERIFY(text.contains("First:  2026-12-07 10:15:04 CET (2026-12-07 09:15:04 UTC)"));
    QVERIFY(text.contains("Last:   2026-12-07 10:19:13 CET (2026-12-07 09:19:13 UTC)"));
}

void TestServerBooks::envelope_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("domain");
    QTest::newRow("name and address") << "Orvella <alerts@example.net>"
                                      << "alerts@example.net"
                                      << "example.net";
    QTest::newRow("bare") << "  alerts@example.net "
                          << "alerts@example.net"
                          << "example.net";
    QTest::newRow("no domain") << "alerts"
                               << "alerts"
                               << "orvella-server";
}

void TestServerBooks::envelope()
{
    QFETCH(QString, from);
    QFETCH(QString, address);
    QFETCH(QString, domain);
    QCOMPARE(QString::fromStdString(envelopeAddress(from.toStdString())), address);
    const QString id = QString::fromStdString(makeMessageId(t0, 1, from.toStdString()));
    QVERIFY2(id.startsWith('<') && id.endsWith("@" + domain + ">"), qPrintable(id));
    QVERIFY(makeMessageId(t0, 1, "a@b.cd") != makeMessageId(t0, 2, "a@b.cd"));
}

void TestServerBooks::spoolText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::newRow("whole") << QByteArray("from a@b.cd\nto c@d.ef\n\nSubject: x\r\n\r\nhi\r\n")
                           << true;
    QTest::newRow("no blank line") << QByteArray("from a@b.cd\nto c@d.ef\nSubject: x\r\n") << false;
    QTest::newRow("no recipient") << QByteArray("from a@b.cd\nto \n\nx") << false;
    QTest::newRow("cut short") << QByteArray("from a@b.cd\n") << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("no message") << QByteArray("from a@b.cd\nto c@d.ef\n\n") << false;
}

void TestServerBooks::spoolText()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    const auto mail = parseSpooledMail(std::string_view(text.constData(), text.size()));
    QCOMPARE(bool(mail), ok);
    if (mail)
        QCOMPARE(QByteArray::fromStdString(serializeSpooledMail(*mail)), text);
}

void TestServerBooks::spoolFolder()
{
    QTemporaryDir dir;
    MailSpool spool((dir.path() + "/var/spool").toStdString());
    std::string error;
    QVERIFY2(spool.prepare(error), error.c_str());
    QVERIFY(QDir(dir.path() + "/var/spool/failed").exists());
    const SpooledMail mail{"a@b.cd", "c@d.ef", "Subject: x\r\n\r\nhi\r\n"};
    const auto second = spool.add(mail, t0 + seconds(1), error);
    const auto first = spool.add(mail, t0, error);
    QVERIFY(first && second);
    const auto waiting = spool.waiting();
    QCOMPARE(int(waiting.size()), 2);
    QCOMPARE(waiting.front(), *first); // oldest first
    QCOMPARE(*MailSpool::acceptedAt(*first), t0);
    QCOMPARE(QString::fromStdString(spool.read(*first)->message),
             QString::fromStdString(mail.message));
    QVERIFY(QDir(dir.path() + "/var/spool/tmp").isEmpty());
    QVERIFY(spool.moveAside(*first));
    QVERIFY(QFile::exists(dir.path() + "/var/spool/failed/" + QString::fromStdString(*first)));
    QVERIFY(spool.remove(*second));
    QVERIFY(spool.waiting().empty());
    QVERIFY(!MailSpool::acceptedAt("notes.txt"));

    // A file left half written in tmp/ is cleared at the next start.
    QVERIFY(QFile(dir.path() + "/var/spool/tmp/half.mail").open(QIODevice::WriteOnly));
    QVERIFY(spool.prepare(error));
    QVERIFY(QDir(dir.path() + "/var/spool/tmp").isEmpty());
    QVERIFY(QDir(dir.path() + "/var/spool/sending").exists());
}

void TestServerBooks::deskAnswers_data()
{
    QTest::addColumn<QString>("address"); // "-" for none
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("body");
    QTest::newRow("allowed") << "you@example.com" << 200 << "queued";
    QTest::newRow("not allowed") << "me@example.com" << 403 << "refused";
    QTest::newRow("malformed") << "you@example.com\r\nBcc: x@example.com" << 400 << "refused";
    QTest::newRow("missing") << "-" << 400 << "refused";
}

void TestServerBooks::deskAnswers()
{
    QFETCH(QString, address);
    QFETCH(int, status);
    QFETCH(QString, body);
    QTemporaryDir dir;
    MailSpool spool(dir.path().toStdString());
    std::string error;
    QVERIFY(spool.prepare(error));
    AlertSettings settings;
    settings.allow = AllowList::parse("you@example.com");
    settings.from = "alerts@example.net";
    int queued = 0;
    AlertDesk desk(settings, spool, [&queued] { ++queued; });
    const std::optional<std::string> given =
        address == "-" ? std::nullopt : std::optional<std::string>(address.toStdString());
    const AlertDesk::Answer answer = desk.alert(given, "10.0.0.1", t0);
    QCOMPARE(answer.status, status);
    QCOMPARE(QString::fromStdString(answer.body), body);
    QCOMPARE(int(spool.waiting().size()), body == "queued" ? 1 : 0);
    QCOMPARE(queued, body == "queued" ? 1 : 0);
}

void TestServerBooks::deskKeepsTheHourlyCap()
{
    QTemporaryDir dir;
    MailSpool spool(dir.path().toStdString());
    std::string error;
    QVERIFY(spool.prepare(error));
    AlertSettings settings;
    settings.allow = AllowList::parse("@example.com");
    settings.holdOff = seconds(300);
    settings.maxPerHour = 1;
    settings.from = "alerts@example.net";
    AlertDesk desk(settings, spool, nullptr);

    QCOMPARE(desk.alert(std::string("a@example.com"), "10.0.0.1", t0).body, std::string("queued"));
    // The hour's one mail is gone: b's first alert is counted instead.
    QCOMPARE(desk.alert(std::string("b@example.com"), "10.0.0.2", t0 + seconds(1)).body,
             std::string("held"));
    QCOMPARE(desk.alert(std::string("b@example.com"), "10.0.0.2", t0 + seconds(2)).body,
             std::string("held"));
    QCOMPARE(int(spool.waiting().size()), 1);
    // Its hold-off ends within the hour: no room, carried over.
    desk.endHoldOffs(t0 + seconds(301));
    QCOMPARE(int(spool.waiting().size()), 1);
    // After the hour the summary goes, with both alerts.
    desk.endHoldOffs(t0 + seconds(3602));
    const auto waiting = spool.waiting();
    QCOMPARE(int(waiting.size()), 2);
    const SpooledMail summary = *spool.read(waiting.back());
    QCOMPARE(QString::fromStdString(summary.recipient), QString("b@example.com"));
    QVERIFY(QString::fromStdString(summary.message).contains("Alerts: 2 more\r\n"));
}

void TestServerBooks::holdOffCeiling()
{
    // At most 2 addresses not listed on their own.
    HoldOffBook book(seconds(60), 2);
    QVERIFY(book.record("a@example.org", false, t0, "") == HoldOffBook::Decision::MailNow);
    QVERIFY(book.record("b@example.org", false, t0, "") == HoldOffBook::Decision::MailNow);
    QVERIFY(book.record("c@example.org", false, t0, "") == HoldOffBook::Decision::Full);
    QVERIFY(book.record("a@example.org", false, t0, "") == HoldOffBook::Decision::Held);
    // Listed addresses are kept past the ceiling.
    QVERIFY(book.record("you@example.com", true, t0, "") == HoldOffBook::Decision::MailNow);
    QCOMPARE(int(book.size()), 3);
    // b's quiet hold-off ends: room again.
    summariesAt(book, t0 + seconds(60));
    QVERIFY(book.record("c@example.org", false, t0 + seconds(61), "") ==
            HoldOffBook::Decision::MailNow);
}

namespace
{

// A desk on a spool in dir, allowing you@example.com and @example.org.
struct Desk {
    explicit Desk(const QString &dir, int maxPerHour = 60, const QString &journal = QString())
        : spool(dir.toStdString())
    {
        std::string error;
        spool.prepare(error);
        AlertSettings settings;
        settings.allow = AllowList::parse("you@example.com, @example.org");
        settings.holdOff = seconds(300);
        settings.maxPerHour = maxPerHour;
        settings.from = "alerts@example.net";
        settings.journalPath = journal.toStdString();
        desk = std::make_unique<AlertDesk>(settings, spool, nullptr);
    }
    std::string alert(const std::string &address, WallTime when)
    {
        return desk->alert(address, "10.0.0.1", when).body;
    }
    MailSpool spool;
    std::unique_ptr<AlertDesk> desk;
};

} // namespace

void TestServerBooks::deskCaseVariantsShareOneHoldOff()
{
    QTemporaryDir dir;
    Desk desk(dir.path());
    QCOMPARE(desk.alert("You@Example.COM", t0), std::string("queued"));
    for (const char *variant : {"you@example.com", "YOU@EXAMPLE.COM", "yOu@eXample.com"})
        QCOMPARE(desk.alert(variant, t0 + seconds(1)), std::string("held"));
    const auto waiting = desk.spool.waiting();
    QCOMPARE(int(waiting.size()), 1);
    // The mail goes to the one form of the address.
    const SpooledMail mail = *desk.spool.read(waiting.front());
    QCOMPARE(QString::fromStdString(mail.recipient), QString("you@example.com"));
    QVERIFY(QString::fromStdString(mail.message).contains("\r\nTo: you@example.com\r\n"));
    desk.desk->endHoldOffs(t0 + seconds(300));
    const SpooledMail summary = *desk.spool.read(desk.spool.waiting().back());
    QVERIFY(QString::fromStdString(summary.message).contains("Alerts: 3 more\r\n"));
}

void TestServerBooks::deskWaitsForTheBudgetWithoutWork()
{
    // Two mails an hour: the @domain addresses may take one of them.
    QTemporaryDir dir;
    Desk desk(dir.path(), 2);
    QCOMPARE(desk.alert("a@example.org", t0), std::string("queued"));
    for (int i = 0; i < 200; ++i)
        QCOMPARE(desk.alert("u" + std::to_string(i) + "@example.org", t0 + milliseconds(i)),
                 std::string("held"));
    // The address listed on its own still has its share.
    QCOMPARE(desk.alert("you@example.com", t0 + seconds(1)), std::string("queued"));
    QCOMPARE(int(desk.spool.waiting().size()), 2);

    // The hold-offs end: nothing can go, and the next work is when the
    // budget has room again, not a wake-up per held address.
    desk.desk->endHoldOffs(t0 + seconds(302));
    QCOMPARE(int(desk.spool.waiting().size()), 2);
    QCOMPARE(*desk.desk->nextWork(t0 + seconds(302)), t0 + seconds(3600));
    desk.desk->endHoldOffs(t0 + seconds(3600));
    QCOMPARE(int(desk.spool.waiting().size()), 3);
}

void TestServerBooks::deskHoldOffsSurviveARestart()
{
    QTemporaryDir dir;
    const QString journal = dir.path() + "/holdoffs";
    {
        Desk desk(dir.path(), 60, journal);
        QCOMPARE(desk.alert("you@example.com", t0), std::string("queued"));
        QCOMPARE(desk.alert("you@example.com", t0 + seconds(5)), std::string("held"));
        QCOMPARE(desk.alert("You@example.com", t0 + seconds(6)), std::string("held"));
        QCOMPARE(desk.alert("b@example.org", t0 + seconds(7)), std::string("queued"));
    }
    Desk again(dir.path(), 60, journal);
    again.desk->load(t0 + seconds(10));
    // Still in hold-off after the restart.
    QCOMPARE(again.alert("you@example.com", t0 + seconds(11)), std::string("held"));
    QCOMPARE(*again.desk->nextWork(t0 + seconds(12)), t0 + seconds(300));
    again.desk->endHoldOffs(t0 + seconds(300));
    const auto waiting = again.spool.waiting();
    QCOMPARE(int(waiting.size()), 3);
    const SpooledMail summary = *again.spool.read(waiting.back());
    QCOMPARE(QString::fromStdString(summary.recipient), QString("you@example.com"));
    QVERIFY(QString::fromStdString(summary.message).contains("Alerts: 3 more\r\n"));
    // b's quiet hold-off was forgotten, and the journal says so.
    again.desk->endHoldOffs(t0 + seconds(308));
    QCOMPARE(again.alert("b@example.org", t0 + seconds(309)), std::string("queued"));
}

void TestServerBooks::journalText()
{
    HoldOffState state;
    state.held = {"a@example.org", 3, t0 + seconds(1), t0 + seconds(2), "10.0.0.1"};
    state.ends = t0 + seconds(300);
    const std::string line = journalLine(state);
    const std::string text = line + "not a line\n" + "b@example.org 1 2\n" +
                             "c@example.org 99 0 1 1 ::1\n" + "c@example.org -\n" +
                             "x\r\n@example.org 1 1 1 1 -\n" + "d@example.org 5 1 1 1 -";
    const auto states = parseJournal(text);
    QCOMPARE(int(states.size()), 2);
    QCOMPARE(QString::fromStdString(states[0].held.address), QString("a@example.org"));
    QCOMPARE(states[0].held.count, 3);
    QCOMPARE(states[0].ends, t0 + seconds(300));
    QCOMPARE(states[0].held.first, t0 + seconds(1));
    QCOMPARE(QString::fromStdString(states[0].held.client), QString("10.0.0.1"));
    QCOMPARE(QString::fromStdString(states[1].held.address), QString("d@example.org"));
    QCOMPARE(QString::fromStdString(states[1].held.client), QString());
}

void TestServerBooks::spoolLockAndSending()
{
    QTemporaryDir dir;
    MailSpool spool(dir.path().toStdString());
    std::string error;
    QVERIFY(spool.prepare(error));
    // A second server on the same folder is refused.
    MailSpool other(dir.path().toStdString());
    QVERIFY(!other.prepare(error));
    QVERIFY2(QString::fromStdString(error).contains("in use by another orvella-server (pid " +
                                                    QString::number(::getpid()) + ")"),
             error.c_str());

    const SpooledMail mail{"a@b.cd", "c@d.ef", "Subject: x\r\n\r\nhi\r\n"};
    const std::string first = *spool.add(mail, t0, error);
    const std::string second = *spool.add(mail, t0 + seconds(1), error);
    QVERIFY(spool.markSending(first, error));
    QVERIFY(spool.markSending(second, error));
    QVERIFY(spool.waiting().empty());
    QVERIFY(spool.unmarkSending(second, error));
    QCOMPARE(int(spool.waiting().size()), 1);
    // What an earlier run left in sending/ may have gone: set aside.
    const auto unsure = spool.setAsideUnsure();
    QCOMPARE(int(unsure.size()), 1);
    QCOMPARE(unsure.front(), first);
    QVERIFY(QFile::exists(dir.path() + "/failed/" + QString::fromStdString(first)));
    QVERIFY(spool.markSending(second, error));
    QVERIFY(spool.removeSent(second, error));
    QVERIFY(QDir(dir.path() + "/sending").isEmpty());
    QVERIFY(!spool.markSending(second, error));
    QVERIFY(!error.empty());
}

void TestServerBooks::clientSlots()
{
    using Clock = ClientSlots::Clock;
    ClientSlots shares({3, 3, 2});
    const Clock::time_point now = Clock::now();
    using A = ClientSlots::Admission;
    for (int i = 0; i < 3; ++i)
        QVERIFY(shares.admit("10.0.0.1", now) == A::Admitted);
    QVERIFY(shares.admit("10.0.0.1", now) == A::TooManyConnections);
    QVERIFY(shares.admit("10.0.0.2", now) == A::Admitted);

    // Two slow ones fill 10.0.0.1's share: no third, no new connection.
    QVERIFY(shares.takeSlow("10.0.0.1", now));
    QVERIFY(shares.takeSlow("10.0.0.1", now));
    QVERIFY(!shares.takeSlow("10.0.0.1", now));
    shares.release("10.0.0.1");
    QVERIFY(shares.admit("10.0.0.1", now) == A::TooManySlow);
    // All clients together: 3.
    QVERIFY(shares.takeSlow("10.0.0.2", now));
    QCOMPARE(int(shares.slowTotal()), 3);
    QVERIFY(shares.admit("10.0.0.3", now) == A::Admitted);
    QVERIFY(!shares.takeSlow("10.0.0.3", now));

    // One cut off at the header timeout keeps its slot for a while.
    shares.releaseSlow("10.0.0.1", now + seconds(10));
    shares.releaseSlow("10.0.0.1");
    QCOMPARE(int(shares.slowTotal()), 1);
    QVERIFY(shares.admit("10.0.0.1", now + seconds(1)) == A::Admitted);
    QVERIFY(shares.takeSlow("10.0.0.1", now + seconds(1)));
    QVERIFY(!shares.takeSlow("10.0.0.1", now + seconds(1)));
    QVERIFY(shares.takeSlow("10.0.0.1", now + seconds(10)));

    // Nothing stays behind once all is released and the penalty is over.
    for (int i = 0; i < 3; ++i) {
        shares.release("10.0.0.1");
        shares.releaseSlow("10.0.0.1");
    }
    shares.releaseSlow("10.0.0.2");
    shares.release("10.0.0.2");
    shares.release("10.0.0.3");
    QCOMPARE(int(shares.slowTotal()), 0);
    QCOMPARE(int(shares.clients(now + seconds(11))), 0);
}

QTEST_APPLESS_MAIN(TestServerBooks)
#include "tst_serverbooks.moc"
