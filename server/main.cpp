#include "alertdesk.h"
#include "commandline.h"
#include "httplistener.h"
#include "logline.h"
#include "maildelivery.h"
#include "mailspool.h"
#include "router.h"
#include "serverconfig.h"
#include "smtpsender.h"

#include <curl/curl.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iostream>
#include <pthread.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace
{

// A folder or a device read as a file gives nothing or garbage, and the
// server would start with its defaults: only a regular file will do.
bool readFile(const std::string &path, std::string &text, std::string &error)
{
    struct stat info {
    };
    if (::stat(path.c_str(), &info) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = "not a regular file";
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = std::strerror(errno ? errno : EACCES);
        return false;
    }
    std::ostringstream contents;
    contents << file.rdbuf();
    text = contents.str();
    if (file.bad()) {
        error = "read error";
        return false;
    }
    return true;
}

std::string withoutTrailingNewlines(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

} // namespace

int main(int argc, char *argv[])
{
    const CommandLine line = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!line.error.empty()) {
        std::cerr << "orvella-server: " << line.error << "\n\n" << usageText();
        return 2;
    }
    if (line.help) {
        std::cout << usageText();
        return 0;
    }
    if (line.version) {
        std::cout << "orvella-server " << ORVELLA_SERVER_VERSION << "\n";
        return 0;
    }

    std::string text;
    std::string error;
    if (!readFile(line.configPath, text, error)) {
        std::cerr << "orvella-server: cannot read " << line.configPath << ": " << error << "\n";
        return 1;
    }
    ConfigResult result = parseConfig(text, line.lenient);
    for (const std::string &warning : result.warnings)
        std::cerr << line.configPath << ": warning: " << warning << "\n";
    for (const std::string &error : result.errors)
        std::cerr << line.configPath << ": error: " << error << "\n";
    if (!result.config)
        return 1;
    ServerConfig config = *result.config;
    if (line.listen) {
        const auto listen = parseListenAddress(*line.listen);
        if (!listen) {
            std::cerr << "orvella-server: --listen must be ADDRESS:PORT\n";
            return 2;
        }
        config.listen = *listen;
    }
    SmtpSettings smtp;
    smtp.url = config.smtpUrl;
    smtp.starttlsRequired = config.starttlsRequired;
    smtp.user = config.smtpUser;
    if (!config.passwordFile.empty()) {
        std::string password;
        if (!readFile(config.passwordFile, password, error)) {
            std::cerr << "orvella-server: cannot read the password file " << config.passwordFile
                      << ": " << error << "\n";
            return 1;
        }
        smtp.password = withoutTrailingNewlines(password);
    }
    if (line.checkConfig) {
        std::cout << line.configPath << ": configuration OK\n";
        return 0;
    }

    MailSpool spool(config.spool);
    if (!spool.prepare(error)) {
        std::cerr << "orvella-server: spool folder: " << error << "\n";
        return 1;
    }
    for (const std::string &name : spool.setAsideUnsure())
        logLine("delivery " + name +
                ": was being sent when an earlier run stopped, so the SMTP "
                "server may have taken it; not sent again, moved to failed/");
    curl_global_init(CURL_GLOBAL_DEFAULT);

    // Signals are taken by one thread; every other thread blocks them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    MailDelivery delivery(spool, smtp, std::chrono::seconds(config.retryDelaySeconds),
                          std::chrono::seconds(config.retryForSeconds));
    AlertSettings alertSettings;
    alertSettings.allow = config.allow;
    alertSettings.holdOff = std::chrono::seconds(config.holdOffSeconds);
    alertSettings.maxPerHour = config.maxPerHour;
    alertSettings.maxHeldAddresses = std::size_t(config.maxHeldAddresses);
    alertSettings.from = config.from;
    alertSettings.journalPath = config.spool + "/holdoffs";
    AlertDesk desk(alertSettings, spool, [&delivery] { delivery.wake(); });
    desk.load(WallClock::now());
    Router router({config.maxRequestsPerSecond, config.latestVersions, config.downloadUrl}, desk);

    HttpListener::Limits limits;
    limits.stream.headerTimeout = std::chrono::seconds(config.headerTimeoutSeconds);
    limits.clients.connectionsPerClient = std::size_t(config.maxConnectionsPerClient);
    limits.clients.slowTotal = std::size_t(config.maxSlowHeaders);
    limits.clients.slowPerClient = std::size_t(config.maxSlowHeadersPerClient);
    limits.maxConnections = std::size_t(config.maxConnections);
    HttpListener listener(router, limits);
    int port = 0;
    if (!listener.open(config.listen, port, error)) {
        std::cerr << "orvella-server: cannot listen on " << config.listen.host << ":"
                  << config.listen.port << ": " << error << "\n";
        return 1;
    }

    delivery.start();
    desk.start();
    std::thread signalWaiter([&listener, &stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        logLine(std::string("stopping on ") + (signal == SIGINT ? "SIGINT" : "SIGTERM"));
        listener.stopServing();
    });
    const std::string host = config.listen.host.find(':') != std::string::npos
                                 ? "[" + config.listen.host + "]"
                                 : config.listen.host;
    logLine("listening on " + host + ":" + std::to_string(port) + ", spool " + config.spool + ", " +
            std::to_string(config.allow.size()) + " allow-list entr" +
            (config.allow.size() == 1 ? "y" : "ies"));
    const bool served = listener.serve();

    // serve() also returns when listening fails; the waiter must end then too.
    if (!served)
        pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    desk.stop();
    logLeftOutLines();
    delivery.stop();
    curl_global_cleanup();
    logLine("stopped");
    return served ? 0 : 1;
}
