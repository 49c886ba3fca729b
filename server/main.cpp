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

#include <csignal>
#include <fstream>
#include <iostream>
#include <pthread.h>
#include <sstream>
#include <thread>

namespace
{

bool readFile(const std::string &path, std::string &text)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    std::ostringstream contents;
    contents << file.rdbuf();
    text = contents.str();
    return !file.bad();
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
    if (!readFile(line.configPath, text)) {
        std::cerr << "orvella-server: cannot read " << line.configPath << "\n";
        return 1;
    }
    ConfigResult result = parseConfig(text);
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
        if (!readFile(config.passwordFile, password)) {
            std::cerr << "orvella-server: cannot read the password file " << config.passwordFile
                      << "\n";
            return 1;
        }
        smtp.password = withoutTrailingNewlines(password);
    }
    if (line.checkConfig) {
        std::cout << line.configPath << ": configuration OK\n";
        return 0;
    }

    MailSpool spool(config.spool);
    std::string error;
    if (!spool.prepare(error)) {
        std::cerr << "orvella-server: spool folder: " << error << "\n";
        return 1;
    }
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
    alertSettings.from = config.from;
    AlertDesk desk(alertSettings, spool, [&delivery] { delivery.wake(); });
    Router router({config.maxRequestsPerSecond, config.latestVersions, config.downloadUrl}, desk);

    ConnectionStream::Limits limits;
    limits.headerTimeout = std::chrono::seconds(config.headerTimeoutSeconds);
    HttpListener listener(router, limits, std::size_t(config.maxConnections),
                          std::size_t(config.maxConnectionsPerClient));
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
    delivery.stop();
    curl_global_cleanup();
    logLine("stopped");
    return served ? 0 : 1;
}
