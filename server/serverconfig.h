#ifndef ORVELLA_SERVER_SERVERCONFIG_H
#define ORVELLA_SERVER_SERVERCONFIG_H

#include "allowlist.h"
#include "updatelookup.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ListenAddress {
    std::string host;
    int port = 0; // 0: any free port
};

// "HOST:PORT", "[IPv6]:PORT"; the port may be 0.
std::optional<ListenAddress> parseListenAddress(std::string_view text);

struct ServerConfig {
    // [server]
    ListenAddress listen{"0.0.0.0", 80};
    std::string spool = "/var/lib/orvella-server/spool";
    int maxConnections = 128;
    int maxConnectionsPerClient = 16;
    int headerTimeoutSeconds = 10;
    // Connections whose request header is still not complete after a second.
    int maxSlowHeaders = 32;
    int maxSlowHeadersPerClient = 4;
    // [smtp]
    std::string smtpUrl;
    bool starttlsRequired = true;
    std::string smtpUser;
    std::string passwordFile;
    std::string from;
    int retryDelaySeconds = 60;
    int retryForSeconds = 24 * 60 * 60;
    // [alerts]
    AllowList allow;
    int holdOffSeconds = 300;
    int maxPerHour = 60;
    int maxRequestsPerSecond = 20;
    int maxHeldAddresses = 1000;
    // [updates]
    LatestVersions latestVersions;
    std::string downloadUrl;
};

struct ConfigResult {
    std::optional<ServerConfig> config; // absent when errors is not empty
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
};

// The value as written, less an inline comment ("#" after white space) and
// surrounding white space.
std::string stripInlineComment(std::string_view value);

// Reads the INI text of the configuration file. Checks every value; a key
// given twice and anything unusable is an error, and so is an unknown key or
// section unless lenient (then it is a warning and ignored).
ConfigResult parseConfig(std::string_view text, bool lenient = false);

#endif
