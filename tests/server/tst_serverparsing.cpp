// The server's text parsers and checks: request targets, addresses, the
// allow-list, the configuration file, the command line, the update lookup
// and the download page.
#include "addresscheck.h"
#include "allowlist.h"
#include "commandline.h"
#include "downloadpage.h"
#include "requesthead.h"
#include "requesttarget.h"
#include "serverconfig.h"
#include "updatelookup.h"

#include <QtTest>

namespace
{

// The example from the server's documentation, exactly as administrators
// write it, inline comments included.
const char documentedExample[] = R"([server]
listen = 0.0.0.0:80            # --listen overrides
spool = /var/lib/orvella-server/spool
[smtp]
url = smtp://mail.example.net:587   # or smtps://host:465
starttls = required             # required | off
user =
password_file =                  # file holding the password alone
from = Orvella <alerts@example.net>
[alerts]
allow = you@example.com, @example.org
holdoff = 300                    # seconds
max_per_hour = 60
max_requests_per_second = 20     # per client address
[updates]
6 = 1.1                          # product id = latest version
download_url = https://example.net/orvella/
)";

QString joined(const std::vector<std::string> &lines)
{
    QStringList list;
    for (const std::string &line : lines)
        list << QString::fromStdString(line);
    return list.join('\n');
}

} // namespace

class TestServerParsing : public QObject
{
    Q_OBJECT

private slots:
    void requestTarget_data();
    void requestTarget();
    void requestHead_data();
    void requestHead();
    void answerText();
    void singleParameter_data();
    void singleParameter();
    void address_data();
    void address();
    void allowList_data();
    void allowList();
    void allowListMatch();
    void documentedExampleReads();
    void exampleFileReads();
    void inlineComment_data();
    void inlineComment();
    void configErrors_data();
    void configErrors();
    void unknownKeys();
    void repeatedKeys_data();
    void repeatedKeys();
    void otherEditorsFilesRead();
    void listenAddress_data();
    void listenAddress();
    void commandLine_data();
    void commandLine();
    void updateLookup_data();
    void updateLookup();
    void downloadPageEscapes();
};

void TestServerParsing::requestTarget_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("parameters"); // name=value, decoded

    QTest::newRow("plain") << "/updates/orvemailer.php?x=you@example.com" << true
                           << "/updates/orvemailer.php" << QStringList{"x=you@example.com"};
    QTest::newRow("encoded plus") << "/a?x=guard%2Bcam@example.com" << true << "/a"
                                  << QStringList{"x=guard+cam@example.com"};
    QTest::newRow("raw plus stays")
        << "/a?x=guard+cam@example.com" << true << "/a" << QStringList{"x=guard+cam@example.com"};
    QTest::newRow("crlf decoded") << "/a?x=a%0d%0aBcc:%20b" << true << "/a"
                                  << QStringList{"x=a\r\nBcc: b"};
    QTest::newRow("two") << "/updates/lookup.php?id=6&vn=10" << true << "/updates/lookup.php"
                         << QStringList{"id=6", "vn=10"};
    QTest::newRow("empty pairs") << "/a?&&id=6&" << true << "/a" << QStringList{"id=6"};
    QTest::newRow("no value") << "/a?flag" << true << "/a" << QStringList{"flag="};
    QTest::newRow("no query") << "/software/lantrel/" << true << "/software/lantrel/"
                              << QStringList{};
    QTest::newRow("encoded path") << "/software%2Flantrel/" << true << "/software/lantrel/"
                                  << QStringList{};
    QTest::newRow("bad escape") << "/a?x=%zz" << false << "" << QStringList{};
    QTest::newRow("cut escape") << "/a?x=%4" << false << "" << QStringList{};
    QTest::newRow("percent at end") << "/a?x=%" << false << "" << QStringList{};
    QTest::newRow("not absolute") << "a?x=1" << false << "" << QStringList{};
    QTest::newRow("empty") << "" << false << "" << QStringList{};
}

void TestServerParsing::requestTarget()
{
    QFETCH(QString, target);
    QFETCH(bool, ok);
    QFETCH(QString, path);
    QFETCH(QStringList, parameters);

    const auto parsed = parseRequestTarget(target.toStdString());
    QCOMPARE(bool(parsed), ok);
    if (!parsed)
        return;
    QCOMPARE(QString::fromStdString(parsed->path), path);
    QStringList got;
    for (const auto &parameter : parsed->parameters)
        got << QString::fromStdString(parameter.first + "=" + parameter.second);
    QCOMPARE(got, parameters);
}

void TestServerParsing::requestHead_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>(
        "length"); // of the header; 0: not complete, -1: all of text, -4: all but 3 bytes
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("keepAlive");
    QTest::addColumn<bool>("hasBody");

    const QByteArray program = "GET /updates/orvemailer.php?x=you@example.com HTTP/1.0\r\n"
                               "Host: example.net\r\nUser-Agent: Mozilla/5.0\r\n\r\n";
    QTest::newRow("program's request")
        << program << -1 << true << "/updates/orvemailer.php?x=you@example.com" << false << false;
    QTest::newRow("next request follows")
        << QByteArray("GET /a HTTP/1.1\r\nHost: h\r\n\r\nGET /b HTTP/1.1\r\n") << 28 << true << "/a"
        << true << false;
    QTest::newRow("not complete") << QByteArray("GET /a HTTP/1.1\r\nHost: h\r\n") << 0 << false
                                  << "" << false << false;
    QTest::newRow("LF line ends") << QByteArray("GET /a HTTP/1.1\nHost: h\n\n") << -1 << true
                                  << "/a" << true << false;
    QTest::newRow("1.1 asks to close") << QByteArray("GET /a HTTP/1.1\r\nconnection: Close\r\n\r\n")
                                       << -1 << true << "/a" << false << false;
    QTest::newRow("1.0 keep-alive (ab -k)")
        << QByteArray("GET /a HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n") << -1 << true << "/a"
        << true << false;
    QTest::newRow("keep-alive and close")
        << QByteArray("GET /a HTTP/1.0\r\nConnection: keep-alive, close\r\n\r\n") << -1 << true
        << "/a" << false << false;
    QTest::newRow("body by length")
        << QByteArray("POST /a HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc") << -4 << true << "/a"
        << true << true;
    QTest::newRow("no body by length 0")
        << QByteArray("POST /a HTTP/1.1\r\nContent-Length: 0\r\n\r\n") << -1 << true << "/a" << true
        << false;
    QTest::newRow("chunked body") << QByteArray(
                                         "POST /a HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n")
                                  << 48 << true << "/a" << true << true;
    QTest::newRow("line split by CR LF in the target")
        << QByteArray("GET /a?x=y\r\nBcc: b HTTP/1.0\r\n\r\n") << -1 << false << "" << false
        << false;
    QTest::newRow("bare CR in a header") << QByteArray("GET /a HTTP/1.1\r\nX: a\rBcc: b\r\n\r\n")
                                         << -1 << false << "" << false << false;
    QTest::newRow("folded header") << QByteArray("GET /a HTTP/1.1\r\nX: a\r\n b\r\n\r\n") << -1
                                   << false << "" << false << false;
    QTest::newRow("nameless header")
        << QByteArray("GET /a HTTP/1.1\r\n: a\r\n\r\n") << -1 << false << "" << false << false;
    QTest::newRow("space before colon")
        << QByteArray("GET /a HTTP/1.1\r\nConnection : close\r\n\r\n") << -1 << false << "" << false
        << false;
    QTest::newRow("NUL in target")
        << QByteArray("GET /a\0b HTTP/1.1\r\n\r\n", 21) << -1 << false << "" << false << false;
    QTest::newRow("other version")
        << QByteArray("GET /a HTTP/2.0\r\n\r\n") << -1 << false << "" << false << false;
    QTest::newRow("no version") << QByteArray("GET /a\r\n\r\n") << -1 << false << "" << false
                                << false;
    QTest::newRow("two spaces") << QByteArray("GET  /a HTTP/1.1\r\n\r\n") << -1 << false << ""
                                << false << false;

    // What the parser, built without its strict checks, would let through.
    QTest::newRow("two spaces before version")
        << QByteArray("GET /a  HTTP/1.1\r\n\r\n") << -1 << false << "" << false << false;
    QTest::newRow("tab in target")
        << QByteArray("GET /a\tb HTTP/1.1\r\n\r\n") << -1 << false << "" << false << false;
    QTest::newRow("version word misspelt")
        << QByteArray("GET /a HXYZ/1.1\r\n\r\n") << -1 << false << "" << false << false;
    QTest::newRow("icecast version")
        << QByteArray("SOURCE /a ICE/1.0\r\n\r\n") << -1 << false << "" << false << false;
    QTest::newRow("space inside header name")
        << QByteArray("GET /a HTTP/1.1\r\nX Y: z\r\n\r\n") << -1 << false << "" << false << false;
    QTest::newRow("empty line ends in CR alone")
        << QByteArray("GET /a HTTP/1.1\r\n\rX\r\n\r\n") << -1 << false << "" << false << false;
    QTest::newRow("empty line with CR alone is no end")
        << QByteArray("GET /a HTTP/1.1\r\nX: y\r\n\rZ") << 0 << false << "" << false << false;
    QTest::newRow("empty value, bare CR") << QByteArray("GET /a HTTP/1.1\r\nX:\rBcc: b\r\n\r\n")
                                          << -1 << false << "" << false << false;
    // A whole second request follows.
    QTest::newRow("second request in the header")
        << QByteArray("GET /a HTTP/1.1\r\n\r\nGET /b HTTP/1.1\r\n\r\n") << 19 << true << "/a"
        << true << false;
    // Refused as the parser reads them.
    QTest::newRow("unknown method")
        << QByteArray("FETCH /a HTTP/1.1\r\n\r\n") << -1 << false << "" << false << false;
    QTest::newRow("target not a path")
        << QByteArray("GET a?x=1 HTTP/1.1\r\n\r\n") << -1 << false << "" << false << false;
    QTest::newRow("length not a number")
        << QByteArray("POST /a HTTP/1.1\r\nContent-Length: 3x\r\n\r\n") << -1 << false << ""
        << false << false;
    QTest::newRow("two lengths") << QByteArray("POST /a HTTP/1.1\r\nContent-Length: 3\r\n"
                                               "Content-Length: 30\r\n\r\n")
                                 << -1 << false << "" << false << false;
    QTest::newRow("length and chunked")
        << QByteArray("POST /a HTTP/1.1\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n")
        << -1 << false << "" << false << false;
    QTest::newRow("other transfer coding")
        << QByteArray("POST /a HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n") << -1 << true << "/a"
        << true << true;
}

void TestServerParsing::requestHead()
{
    QFETCH(QByteArray, text);
    QFETCH(int, length);
    QFETCH(bool, ok);
    QFETCH(QString, target);
    QFETCH(bool, keepAlive);
    QFETCH(bool, hasBody);
    const std::string_view view(text.constData(), std::size_t(text.size()));
    if (length < 0)
        length += text.size() + 1;
    QCOMPARE(int(requestHeadLength(view)), length);
    if (length == 0)
        return;
    const auto head = parseRequestHead(view.substr(0, std::size_t(length)));
    QCOMPARE(bool(head), ok);
    // What follows the header is never read as part of it.
    if (length < text.size())
        QVERIFY(!parseRequestHead(view));
    if (!head)
        return;
    QCOMPARE(QString::fromStdString(head->target), target);
    QCOMPARE(head->keepAlive, keepAlive);
    QCOMPARE(head->hasBody, hasBody);
}

void TestServerParsing::answerText()
{
    QCOMPARE(QString::fromStdString(formatAnswer(200, "text/plain; charset=utf-8", "1.1|", false)),
             QString("HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\n"
                     "Content-Length: 4\r\nConnection: close\r\n\r\n1.1|"));
    // HEAD: the length of the body, without it.
    const std::string head = formatAnswer(404, "text/plain", "not found", true, true);
    QVERIFY(QString::fromStdString(head).startsWith("HTTP/1.1 404 Not Found\r\n"));
    QVERIFY(QString::fromStdString(head).endsWith(
        "Content-Length: 9\r\nConnection: keep-alive\r\n\r\n"));
}

void TestServerParsing::singleParameter_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("value");
    QTest::newRow("once") << "/a?x=1" << true << "1";
    QTest::newRow("missing") << "/a?y=1" << false << "";
    QTest::newRow("twice") << "/a?x=1&x=2" << false << "";
    QTest::newRow("empty value") << "/a?x=" << true << "";
}

void TestServerParsing::singleParameter()
{
    QFETCH(QString, target);
    QFETCH(bool, found);
    QFETCH(QString, value);
    const auto value_ = ::singleParameter(*parseRequestTarget(target.toStdString()), "x");
    QCOMPARE(bool(value_), found);
    if (value_)
        QCOMPARE(QString::fromStdString(*value_), value);
}

void TestServerParsing::address_data()
{
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<bool>("acceptable");

    const QByteArray domain = "@example.com";
    QTest::newRow("plain") << QByteArray("you@example.com") << true;
    QTest::newRow("plus and dots") << QByteArray("guard+cam.one@mail.example.org") << true;
    QTest::newRow("capitals") << QByteArray("YOU@EXAMPLE.COM") << true;
    QTest::newRow("four letter end") << QByteArray("a@b.info") << true;
    QTest::newRow("one letter end") << QByteArray("a@b.c") << false;
    QTest::newRow("five letter end") << QByteArray("a@b.email") << true;
    QTest::newRow("long last label") << QByteArray("bob@company.photography") << true;
    QTest::newRow("63 letter end") << QByteArray("a@b." + QByteArray(63, 'x')) << true;
    QTest::newRow("64 letter end") << QByteArray("a@b." + QByteArray(64, 'x')) << false;
    QTest::newRow("digit in last label") << QByteArray("a@example.c0m") << false;
    QTest::newRow("digits and hyphens inside") << QByteArray("a@mail-1.2nd.family.example") << true;
    QTest::newRow("label starts with hyphen") << QByteArray("a@-mail.example.com") << false;
    QTest::newRow("label ends with hyphen") << QByteArray("a@mail-.example.com") << false;
    QTest::newRow("empty label") << QByteArray("a@mail..example.com") << false;
    QTest::newRow("dot at the end") << QByteArray("a@example.com.") << false;
    QTest::newRow("64 character label")
        << QByteArray("a@" + QByteArray(64, 'l') + ".example.com") << false;
    QTest::newRow("underscore in domain") << QByteArray("a@my_host.example.com") << false;
    QTest::newRow("no dot in domain") << QByteArray("a@localhost") << false;
    QTest::newRow("two at signs") << QByteArray("a@b@example.com") << false;
    QTest::newRow("quoted local part") << QByteArray("\"a b\"@example.com") << false;
    QTest::newRow("no at") << QByteArray("example.com") << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("leading dot") << QByteArray(".a@example.com") << false;
    QTest::newRow("cr lf") << QByteArray("a@example.com\r\nBcc: b@example.com") << false;
    QTest::newRow("lf only") << QByteArray("a@example.com\nX: y") << false;
    QTest::newRow("comma") << QByteArray("a@example.com,b@example.com") << false;
    QTest::newRow("angle brackets") << QByteArray("<a@example.com>") << false;
    QTest::newRow("space") << QByteArray("a b@example.com") << false;
    QTest::newRow("nul") << QByteArray("a@example.com\0x", 15) << false;
    QTest::newRow("254 bytes") << QByteArray(254 - domain.size(), 'a') + domain << true;
    QTest::newRow("255 bytes") << QByteArray(255 - domain.size(), 'a') + domain << false;
    QTest::newRow("very long") << QByteArray(5000, 'a') + domain << false;
    QTest::newRow("non-ascii") << QByteArray("j\xc3\xb6rg@example.com") << false;
}

void TestServerParsing::address()
{
    QFETCH(QByteArray, address);
    QFETCH(bool, acceptable);
    QCOMPARE(isAcceptableAddress(std::string_view(address.constData(), address.size())),
             acceptable);
}

void TestServerParsing::allowList_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("allowed");

    const QString list = "you@example.com, @example.org";
    QTest::newRow("exact") << list << "you@example.com" << true;
    QTest::newRow("exact other case") << list << "You@Example.COM" << true;
    QTest::newRow("same domain, other person") << list << "me@example.com" << false;
    QTest::newRow("domain entry") << list << "anyone@example.org" << true;
    QTest::newRow("domain entry case") << list << "anyone@EXAMPLE.org" << true;
    QTest::newRow("subdomain not covered") << list << "a@mail.example.org" << false;
    QTest::newRow("look-alike domain") << list << "a@badexample.org" << false;
    QTest::newRow("domain as suffix of local part") << list << "example.org@evil.com" << false;
    QTest::newRow("empty list") << ""
                                << "you@example.com" << false;
    QTest::newRow("blank list") << "  ,  "
                                << "you@example.com" << false;
    QTest::newRow("spaces only as separator") << "a@example.com b@example.com"
                                              << "b@example.com" << true;
    QTest::newRow("long top-level domain entry") << "@family.example, bob@company.photography"
                                                 << "Gran@Family.Example" << true;
    QTest::newRow("long top-level address entry") << "@family.example, bob@company.photography"
                                                  << "BOB@company.photography" << true;
    QTest::newRow("long top-level other person") << "@family.example, bob@company.photography"
                                                 << "eve@company.photography" << false;
}

void TestServerParsing::allowList()
{
    QFETCH(QString, list);
    QFETCH(QString, address);
    QFETCH(bool, allowed);
    const AllowList parsed = AllowList::parse(list.toStdString());
    QVERIFY(parsed.invalid().empty());
    QCOMPARE(parsed.allows(address.toStdString()), allowed);
}

void TestServerParsing::allowListMatch()
{
    const AllowList list = AllowList::parse("You@Example.com @example.org, @-bad.org x@y");
    QCOMPARE(int(list.invalid().size()), 2);
    QCOMPARE(int(list.size()), 2);
    QVERIFY(list.hasAddresses());
    QVERIFY(list.match("you@example.com") == AllowList::Match::Listed);
    QVERIFY(list.match("yOu@EXAMPLE.com") == AllowList::Match::Listed);
    QVERIFY(list.match("you@example.org") == AllowList::Match::Domain);
    QVERIFY(list.match("you@example.net") == AllowList::Match::None);
    QVERIFY(!AllowList::parse("@example.org").hasAddresses());
    // The one form every book keeps: case variants are one address.
    QCOMPARE(QString::fromStdString(canonicalAddress("You.Me+Cam@Example.ORG")),
             QString("you.me+cam@example.org"));
}

void TestServerParsing::documentedExampleReads()
{
    const ConfigResult result = parseConfig(documentedExample);
    QVERIFY2(result.errors.empty(), qPrintable(joined(result.errors)));
    QVERIFY2(result.warnings.empty(), qPrintable(joined(result.warnings)));
    QVERIFY(result.config);
    const ServerConfig &config = *result.config;
    QCOMPARE(QString::fromStdString(config.listen.host), QString("0.0.0.0"));
    QCOMPARE(config.listen.port, 80);
    QCOMPARE(QString::fromStdString(config.spool), QString("/var/lib/orvella-server/spool"));
    QCOMPARE(QString::fromStdString(config.smtpUrl), QString("smtp://mail.example.net:587"));
    QVERIFY(config.starttlsRequired);
    QCOMPARE(QString::fromStdString(config.smtpUser), QString());
    QCOMPARE(QString::fromStdString(config.passwordFile), QString());
    QCOMPARE(QString::fromStdString(config.from), QString("Orvella <alerts@example.net>"));
    QCOMPARE(int(config.allow.size()), 2);
    QVERIFY(config.allow.allows("you@example.com"));
    QVERIFY(config.allow.allows("x@example.org"));
    QCOMPARE(config.holdOffSeconds, 300);
    QCOMPARE(config.maxPerHour, 60);
    QCOMPARE(config.maxRequestsPerSecond, 20);
    QCOMPARE(int(config.latestVersions.size()), 1);
    QCOMPARE(QString::fromStdString(config.latestVersions.at("6")), QString("1.1"));
    QCOMPARE(QString::fromStdString(config.downloadUrl), QString("https://example.net/orvella/"));
    // Keys the example leaves out keep their defaults.
    QCOMPARE(config.maxConnections, 128);
    QCOMPARE(config.maxSlowHeaders, 32);
    QCOMPARE(config.maxSlowHeadersPerClient, 4);
    QCOMPARE(config.maxHeldAddresses, 1000);
    QCOMPARE(config.maxConnectionsPerClient, 16);
    QCOMPARE(config.headerTimeoutSeconds, 10);
    QCOMPARE(config.retryForSeconds, 86400);
}

void TestServerParsing::exampleFileReads()
{
    // The example that is installed reads as it stands, without warnings,
    // and says what the defaults are.
    QFile file(ORVELLA_SERVER_EXAMPLE);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const ConfigResult result = parseConfig(file.readAll().toStdString());
    QVERIFY2(result.errors.empty(), qPrintable(joined(result.errors)));
    QVERIFY(result.warnings.empty());
    const ServerConfig defaults;
    const ServerConfig &example = *result.config;
    QCOMPARE(example.maxConnections, defaults.maxConnections);
    QCOMPARE(example.maxConnectionsPerClient, defaults.maxConnectionsPerClient);
    QCOMPARE(example.headerTimeoutSeconds, defaults.headerTimeoutSeconds);
    QCOMPARE(example.maxSlowHeaders, defaults.maxSlowHeaders);
    QCOMPARE(example.maxSlowHeadersPerClient, defaults.maxSlowHeadersPerClient);
    QCOMPARE(example.holdOffSeconds, defaults.holdOffSeconds);
    QCOMPARE(example.maxPerHour, defaults.maxPerHour);
    QCOMPARE(example.maxRequestsPerSecond, defaults.maxRequestsPerSecond);
    QCOMPARE(example.maxHeldAddresses, defaults.maxHeldAddresses);
}

void TestServerParsing::inlineComment_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("value");
    QTest::newRow("comment") << "300   # seconds"
                             << "300";
    QTest::newRow("tab before hash") << "300\t# seconds"
                                     << "300";
    QTest::newRow("only comment") << "     # file holding the password"
                                  << "";
    QTest::newRow("hash inside value") << "https://example.net/#top"
                                       << "https://example.net/#top";
    QTest::newRow("no comment") << "  1.1  "
                                << "1.1";
    QTest::newRow("comma list") << "a@example.com, @example.org  # who"
                                << "a@example.com, @example.org";
}

void TestServerParsing::inlineComment()
{
    QFETCH(QString, raw);
    QFETCH(QString, value);
    QCOMPARE(QString::fromStdString(stripInlineComment(raw.toStdString())), value);
}

void TestServerParsing::configErrors_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("errorPart");

    const QString smtp = "[smtp]\nurl = smtp://127.0.0.1:25\nfrom = a@example.net\n";
    QTest::newRow("key before section") << "listen = 1.2.3.4:80\n"
                                        << "group";
    QTest::newRow("not key=value") << "[server]\nlisten\n"
                                   << "listen";
    QTest::newRow("bad listen") << "[server]\nlisten = 80\n"
                                << "listen";
    QTest::newRow("bad port") << "[server]\nlisten = 0.0.0.0:70000\n"
                              << "listen";
    QTest::newRow("relative spool") << "[server]\nspool = spool\n"
                                    << "spool";
    QTest::newRow("starttls") << "[smtp]\nstarttls = maybe\n"
                              << "starttls";
    QTest::newRow("holdoff text") << "[alerts]\nholdoff = five\n"
                                  << "holdoff";
    QTest::newRow("holdoff negative") << "[alerts]\nholdoff = -1\n"
                                      << "holdoff";
    QTest::newRow("rate zero") << "[alerts]\nmax_requests_per_second = 0\n"
                               << "max_requests_per_second";
    QTest::newRow("bad allow entry") << smtp + "[alerts]\nallow = you@example.com, nobody\n"
                                     << "nobody";
    QTest::newRow("allow needs url") << "[smtp]\nfrom = a@example.net\n[alerts]\nallow = "
                                        "a@example.com\n"
                                     << "url";
    QTest::newRow("allow needs from") << "[smtp]\nurl = smtp://h:25\n[alerts]\nallow = "
                                         "a@example.com\n"
                                      << "from";
    QTest::newRow("from with newline escape")
        << "[smtp]\nurl = smtp://h:25\nfrom = a@example.net\\nBcc: x@example.com\n[alerts]\n"
           "allow = a@example.com\n"
        << "";
    QTest::newRow("http url for smtp") << "[smtp]\nurl = http://h/\nfrom = a@example.net\n"
                                          "[alerts]\nallow = a@example.com\n"
                                       << "url";
    QTest::newRow("version with bar") << "[updates]\n6 = 1.1|\n"
                                      << "6";
    QTest::newRow("version text") << "[updates]\n6 = latest\n"
                                  << "6";
    QTest::newRow("download url") << "[updates]\ndownload_url = javascript:alert(1)\n"
                                  << "download_url";
}

void TestServerParsing::configErrors()
{
    QFETCH(QString, text);
    QFETCH(QString, errorPart);
    const ConfigResult result = parseConfig(text.toStdString());
    if (errorPart.isEmpty()) {
        // Accepted only if the value stays one line: GKeyFile's raw value
        // keeps the backslash, so no header can be smuggled in.
        if (result.config)
            QVERIFY(result.config->from.find('\n') == std::string::npos);
        return;
    }
    QVERIFY(!result.config);
    QVERIFY(!result.errors.empty());
    QVERIFY2(joined(result.errors).contains(errorPart), qPrintable(joined(result.errors)));
}

void TestServerParsing::unknownKeys()
{
    // A misspelt key refuses the file, unless lenient.
    const std::string text = "[alerts]\nholdof = 5\n[extra]\nx = 1\n[updates]\n6 = 1.0\n";
    const ConfigResult strict = parseConfig(text);
    QVERIFY(!strict.config);
    QCOMPARE(int(strict.errors.size()), 2);
    QVERIFY(strict.warnings.empty());
    QVERIFY(joined(strict.errors).contains("holdof"));
    QVERIFY(joined(strict.errors).contains("[extra]"));
    QVERIFY(joined(strict.errors).contains("--lenient"));

    const ConfigResult lenient = parseConfig(text, true);
    QVERIFY(lenient.config);
    QCOMPARE(int(lenient.warnings.size()), 2);
    QVERIFY(joined(lenient.warnings).contains("holdof"));
    QCOMPARE(lenient.config->holdOffSeconds, 300);
    // Lenient is no licence for bad values.
    QVERIFY(!parseConfig("[alerts]\nholdof = 5\nholdoff = soon\n", true).config);
}

void TestServerParsing::repeatedKeys_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("error"); // empty: accepted

    QTest::newRow("same section")
        << "[alerts]\nallow = you@example.com\nholdoff = 30\nallow = me@example.com\n"
        << "[alerts] allow: given twice, on lines 2 and 4";
    QTest::newRow("section given twice") << "[alerts]\nholdoff = 30\n[server]\nheader_timeout = "
                                            "5\n[alerts]\n  holdoff=60\n"
                                         << "[alerts] holdoff: given twice, on lines 2 and 6";
    QTest::newRow("after a byte order mark and CR LF")
        << "\xef\xbb\xbf[alerts]\r\nholdoff = 1\r\n# holdoff = 2\r\nholdoff = 3\r\n"
        << "on lines 2 and 4";
    QTest::newRow("same key, other sections")
        << "[server]\nheader_timeout = 5\n[alerts]\nholdoff = 5\n[updates]\n6 = 1.0\n7 = 1.0\n"
        << "";
    QTest::newRow("commented out") << "[alerts]\n#holdoff = 5\nholdoff = 6\n"
                                   << "";
}

void TestServerParsing::repeatedKeys()
{
    QFETCH(QString, text);
    QFETCH(QString, error);
    const ConfigResult result = parseConfig(text.toStdString(), true);
    if (error.isEmpty()) {
        QVERIFY2(result.config, qPrintable(joined(result.errors)));
        return;
    }
    QVERIFY(!result.config);
    QVERIFY2(joined(result.errors).contains(error), qPrintable(joined(result.errors)));
}

void TestServerParsing::otherEditorsFilesRead()
{
    // Byte order mark, CR LF line ends, indented keys.
    const ConfigResult result =
        parseConfig("\xef\xbb\xbf[alerts]\r\n  holdoff = 5   # s\r\n[updates]\r\n\t6 = 1.2\r\n");
    QVERIFY2(result.config, qPrintable(joined(result.errors)));
    QCOMPARE(result.config->holdOffSeconds, 5);
    QCOMPARE(QString::fromStdString(result.config->latestVersions.at("6")), QString("1.2"));
}

void TestServerParsing::listenAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow("any") << "0.0.0.0:80" << true << "0.0.0.0" << 80;
    QTest::newRow("loopback free port") << "127.0.0.1:0" << true << "127.0.0.1" << 0;
    QTest::newRow("ipv6") << "[::]:8080" << true << "::" << 8080;
    QTest::newRow("name") << "localhost:8080" << true << "localhost" << 8080;
    QTest::newRow("ipv6 unbracketed") << "::1:80" << false << "" << 0;
    QTest::newRow("no port") << "127.0.0.1" << false << "" << 0;
    QTest::newRow("port only") << ":80" << false << "" << 0;
    QTest::newRow("big port") << "127.0.0.1:65536" << false << "" << 0;
    QTest::newRow("signed port") << "127.0.0.1:-1" << false << "" << 0;
}

void TestServerParsing::listenAddress()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(QString, host);
    QFETCH(int, port);
    const auto parsed = parseListenAddress(text.toStdString());
    QCOMPARE(bool(parsed), ok);
    if (!parsed)
        return;
    QCOMPARE(QString::fromStdString(parsed->host), host);
    QCOMPARE(parsed->port, port);
}

void TestServerParsing::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("config");
    QTest::addColumn<QString>("listen");
    QTest::addColumn<bool>("check");

    QTest::newRow("none") << QStringList{} << true << "/etc/orvella-server.conf"
                          << "" << false;
    QTest::newRow("config") << QStringList{"--config", "/tmp/a.conf"} << true << "/tmp/a.conf"
                            << "" << false;
    QTest::newRow("config equals")
        << QStringList{"--config=/tmp/a.conf", "--check-config"} << true << "/tmp/a.conf"
        << "" << true;
    QTest::newRow("listen") << QStringList{"--listen", "127.0.0.1:8080"} << true
                            << "/etc/orvella-server.conf"
                            << "127.0.0.1:8080" << false;
    QTest::newRow("missing value") << QStringList{"--config"} << false << ""
                                   << "" << false;
    QTest::newRow("value on flag") << QStringList{"--check-config=yes"} << false << ""
                                   << "" << false;
    QTest::newRow("unknown") << QStringList{"--verbose"} << false << ""
                             << "" << false;
    QTest::newRow("lenient") << QStringList{"--lenient", "--check-config"} << true
                             << "/etc/orvella-server.conf"
                             << "" << true;
}

void TestServerParsing::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, ok);
    QFETCH(QString, config);
    QFETCH(QString, listen);
    QFETCH(bool, check);
    std::vector<std::string> list;
    for (const QString &argument : arguments)
        list.push_back(argument.toStdString());
    const CommandLine line = parseCommandLine(list);
    QCOMPARE(line.error.empty(), ok);
    if (!ok)
        return;
    QCOMPARE(QString::fromStdString(line.configPath), config);
    QCOMPARE(QString::fromStdString(line.listen.value_or("")), listen);
    QCOMPARE(line.checkConfig, check);
    QCOMPARE(line.lenient, arguments.contains("--lenient"));
    QVERIFY(parseCommandLine({"--help"}).help);
    QVERIFY(parseCommandLine({"--version"}).version);
}

void TestServerParsing::updateLookup_data()
{
    QTest::addColumn<QString>("latest");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("body");

    QTest::newRow("older") << "1.1"
                           << "/updates/lookup.php?id=6&vn=10"
                           << "1.1|";
    QTest::newRow("same") << "1.1"
                          << "/updates/lookup.php?id=6&vn=11"
                          << "1.1";
    QTest::newRow("newer") << "1.1"
                           << "/updates/lookup.php?id=6&vn=12"
                           << "1.1";
    QTest::newRow("latest 1.0, program 1.0") << "1.0"
                                             << "/updates/lookup.php?id=6&vn=10"
                                             << "1.0";
    QTest::newRow("three parts") << "2.0.1"
                                 << "/updates/lookup.php?id=6&vn=200"
                                 << "2.0.1|";
    QTest::newRow("leading zeros") << "1.1"
                                   << "/updates/lookup.php?id=6&vn=0011"
                                   << "1.1";
    QTest::newRow("long number") << "1.1"
                                 << "/updates/lookup.php?id=6&vn=99999999999999999999"
                                 << "1.1";
    QTest::newRow("unknown id") << "1.1"
                                << "/updates/lookup.php?id=7&vn=10"
                                << "unknown";
    QTest::newRow("no id") << "1.1"
                           << "/updates/lookup.php?vn=10"
                           << "unknown";
    QTest::newRow("no vn") << "1.1"
                           << "/updates/lookup.php?id=6"
                           << "unknown";
    QTest::newRow("vn not digits") << "1.1"
                                   << "/updates/lookup.php?id=6&vn=1.0"
                                   << "unknown";
    QTest::newRow("vn empty") << "1.1"
                              << "/updates/lookup.php?id=6&vn="
                              << "unknown";
    QTest::newRow("vn twice") << "1.1"
                              << "/updates/lookup.php?id=6&vn=1&vn=99"
                              << "unknown";
}

void TestServerParsing::updateLookup()
{
    QFETCH(QString, latest);
    QFETCH(QString, target);
    QFETCH(QString, body);
    const LatestVersions versions = {{"6", latest.toStdString()}};
    const std::string got = updateLookupBody(*parseRequestTarget(target.toStdString()), versions);
    QCOMPARE(QString::fromStdString(got), body);
    QCOMPARE(got.find('|') != std::string::npos, body.endsWith('|'));
}

void TestServerParsing::downloadPageEscapes()
{
    const std::string page = downloadPage("1.1", "https://example.net/?a=1&b=\"<x>\"");
    const QString text = QString::fromStdString(page);
    QVERIFY(text.contains("The latest version is 1.1."));
    QVERIFY(text.contains("href=\"https://example.net/?a=1&amp;b=&quot;&lt;x&gt;&quot;\""));
    QVERIFY(!text.contains("<x>"));
    QCOMPARE(QString::fromStdString(escapeHtml("<a href='x'>&</a>")),
             QString("&lt;a href=&#39;x&#39;&gt;&amp;&lt;/a&gt;"));
    QVERIFY(QString::fromStdString(downloadPage("", "")).contains("No download"));
}

QTEST_APPLESS_MAIN(TestServerParsing)
#include "tst_serverparsing.moc"
