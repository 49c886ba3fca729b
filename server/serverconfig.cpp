#include "serverconfig.h"

#include "alertmail.h"

#include <glib.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>

namespace
{

bool isTrimChar(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool hasControlCharacter(const std::string &text)
{
    return std::any_of(text.begin(), text.end(),
                       [](unsigned char c) { return c < 0x20 || c == 0x7f; });
}

std::optional<int> parseInt(const std::string &text, int minimum, int maximum)
{
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    if (!std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return std::nullopt;
    const long long value = std::atoll(text.c_str());
    if (value < minimum || value > maximum)
        return std::nullopt;
    return int(value);
}

struct KeyFileDeleter {
    void operator()(GKeyFile *file) const { g_key_file_free(file); }
};

// Reads one section's values and reports what is wrong in it.
class SectionReader
{
public:
    SectionReader(GKeyFile *file, ConfigResult &result) : m_file(file), m_result(result) {}

    bool has(const char *group, const char *key) const
    {
        return g_key_file_has_key(m_file, group, key, nullptr);
    }

    std::string text(const char *group, const char *key, const std::string &fallback) const
    {
        gchar *raw = g_key_file_get_value(m_file, group, key, nullptr);
        if (!raw)
            return fallback;
        const std::string value = stripInlineComment(raw);
        g_free(raw);
        return value;
    }

    void number(const char *group, const char *key, int minimum, int maximum, int &target)
    {
        if (!has(group, key))
            return;
        const std::string value = text(group, key, std::string());
        const auto parsed = parseInt(value, minimum, maximum);
        if (!parsed)
            error(group, key,
                  "must be a whole number from " + std::to_string(minimum) + " to " +
                      std::to_string(maximum) + ", not \"" + value + "\"");
        else
            target = *parsed;
    }

    void error(const char *group, const char *key, const std::string &what)
    {
        m_result.errors.push_back("[" + std::string(group) + "] " + key + ": " + what);
    }

private:
    GKeyFile *m_file;
    ConfigResult &m_result;
};

void checkKnownKeys(GKeyFile *file, bool lenient, ConfigResult &result)
{
    static const std::map<std::string, std::set<std::string>> known = {
        {"server",
         {"listen", "spool", "max_connections", "max_connections_per_client", "header_timeout",
          "max_slow_headers", "max_slow_headers_per_client"}},
        {"smtp", {"url", "starttls", "user", "password_file", "from", "retry_delay", "retry_for"}},
        {"alerts",
         {"allow", "holdoff", "max_per_hour", "max_requests_per_second", "max_held_addresses"}},
        {"updates", {"download_url"}},
    };
    // A misspelt key would silently leave its default in force.
    std::vector<std::string> &list = lenient ? result.warnings : result.errors;
    const std::string tail = lenient ? " is ignored" : " (--lenient ignores it)";
    gsize groupCount = 0;
    gchar **groups = g_key_file_get_groups(file, &groupCount);
    for (gsize g = 0; g < groupCount; ++g) {
        const std::string group = groups[g];
        const auto section = known.find(group);
        if (section == known.end()) {
            list.push_back("unknown section [" + group + "]" + tail);
            continue;
        }
        gsize keyCount = 0;
        gchar **keys = g_key_file_get_keys(file, groups[g], &keyCount, nullptr);
        for (gsize k = 0; keys && k < keyCount; ++k) {
            const std::string key = keys[k];
            const bool productId =
                group == "updates" && std::all_of(key.begin(), key.end(),
                                                  [](unsigned char c) { return std::isdigit(c); });
            if (!productId && !section->second.count(key))
                list.push_back("unknown key " + key + " in [" + group + "]" + tail);
        }
        g_strfreev(keys);
    }
    g_strfreev(groups);
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isTrimChar(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isTrimChar(text.back()))
        text.remove_suffix(1);
    return text;
}

// GKeyFile keeps the last of a key given twice without a word, so the text
// is read once more for that, with line numbers for the message.
void checkRepeatedKeys(std::string_view text, ConfigResult &result)
{
    std::map<std::pair<std::string, std::string>, int> seen;
    std::string group;
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            group = std::string(line.substr(1, line.find(']') - 1));
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::string key(trimmed(line.substr(0, equals)));
        const auto added = seen.emplace(std::make_pair(group, key), number);
        if (!added.second)
            result.errors.push_back("[" + group + "] " + key + ": given twice, on lines " +
                                    std::to_string(added.first->second) + " and " +
                                    std::to_string(number));
    }
}

bool isHttpUrl(const std::string &url)
{
    const bool scheme = url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0;
    return scheme && url.find(' ') == std::string::npos && !hasControlCharacter(url);
}

} // namespace

std::optional<ListenAddress> parseListenAddress(std::string_view text)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0)
        return std::nullopt;
    std::string host(text.substr(0, colon));
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']')
            return std::nullopt;
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string::npos) {
        return std::nullopt;
    }
    if (host.find_first_of(" \t/[]") != std::string::npos)
        return std::nullopt;
    const auto port = parseInt(std::string(text.substr(colon + 1)), 0, 65535);
    if (!port)
        return std::nullopt;
    return ListenAddress{host, *port};
}

std::string stripInlineComment(std::string_view value)
{
    std::size_t end = value.size();
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '#' && (i == 0 || value[i - 1] == ' ' || value[i - 1] == '\t')) {
            end = i;
            break;
        }
    }
    std::size_t begin = 0;
    while (begin < end && isTrimChar(value[begin]))
        ++begin;
    while (end > begin && isTrimChar(value[end - 1]))
        --end;
    return std::string(value.substr(begin, end - begin));
}

ConfigResult parseConfig(std::string_view text, bool lenient)
{
    ConfigResult result;
    // Editors on other systems start files with a byte order mark.
    if (text.substr(0, 3) == "\xef\xbb\xbf")
        text.remove_prefix(3);
    std::unique_ptr<GKeyFile, KeyFileDeleter> file(g_key_file_new());
    GError *error = nullptr;
    if (!g_key_file_load_from_data(file.get(), text.data(), text.size(), G_KEY_FILE_NONE, &error)) {
        result.errors.push_back(error ? error->message : "unreadable configuration");
        g_clear_error(&error);
        return result;
    }
    checkRepeatedKeys(text, result);
    checkKnownKeys(file.get(), lenient, result);

    ServerConfig config;
    SectionReader read(file.get(), result);

    if (read.has("server", "listen")) {
        const std::string value = read.text("server", "listen", std::string());
        const auto listen = parseListenAddress(value);
        if (!listen)
            read.error("server", "listen", "must be HOST:PORT, not \"" + value + "\"");
        else
            config.listen = *listen;
    }
    config.spool = read.text("server", "spool", config.spool);
    if (config.spool.empty() || config.spool.front() != '/')
        read.error("server", "spool", "must be an absolute path");
    read.number("server", "max_connections", 1, 10000, config.maxConnections);
    read.number("server", "max_connections_per_client", 1, 10000, config.maxConnectionsPerClient);
    read.number("server", "header_timeout", 1, 3600, config.headerTimeoutSeconds);
    read.number("server", "max_slow_headers", 1, 10000, config.maxSlowHeaders);
    read.number("server", "max_slow_headers_per_client", 1, 10000, config.maxSlowHeadersPerClient);

    config.smtpUrl = read.text("smtp", "url", std::string());
    const std::string starttls = read.text("smtp", "starttls", "required");
    if (starttls == "required")
        config.starttlsRequired = true;
    else if (starttls == "off")
        config.starttlsRequired = false;
    else
        read.error("smtp", "starttls", "must be \"required\" or \"off\", not \"" + starttls + "\"");
    config.smtpUser = read.text("smtp", "user", std::string());
    config.passwordFile = read.text("smtp", "password_file", std::string());
    config.from = read.text("smtp", "from", std::string());
    read.number("smtp", "retry_delay", 1, 86400, config.retryDelaySeconds);
    read.number("smtp", "retry_for", 0, 30 * 86400, config.retryForSeconds);

    config.allow = AllowList::parse(read.text("alerts", "allow", std::string()));
    for (const std::string &entry : config.allow.invalid())
        read.error("alerts", "allow", "\"" + entry + "\" is neither an address nor @domain");
    read.number("alerts", "holdoff", 1, 7 * 86400, config.holdOffSeconds);
    read.number("alerts", "max_per_hour", 0, 1000000, config.maxPerHour);
    read.number("alerts", "max_requests_per_second", 1, 1000000, config.maxRequestsPerSecond);
    read.number("alerts", "max_held_addresses", 1, 1000000, config.maxHeldAddresses);

    // Mail settings matter only when some address may be mailed.
    if (!config.allow.empty()) {
        if (config.smtpUrl.rfind("smtp://", 0) != 0 && config.smtpUrl.rfind("smtps://", 0) != 0)
            read.error("smtp", "url", "must start with smtp:// or smtps://");
        if (config.from.empty() || hasControlCharacter(config.from) ||
            envelopeAddress(config.from).find('@') == std::string::npos ||
            envelopeAddress(config.from).find_first_of(",<> ") != std::string::npos)
            read.error("smtp", "from",
                       "must be a sender address, e.g. Orvella <alerts@example.net>");
    }
    if (hasControlCharacter(config.smtpUrl) || hasControlCharacter(config.smtpUser))
        read.error("smtp", "url", "holds control characters");

    gsize keyCount = 0;
    gchar **keys = g_key_file_get_keys(file.get(), "updates", &keyCount, nullptr);
    for (gsize k = 0; keys && k < keyCount; ++k) {
        const std::string key = keys[k];
        if (key == "download_url" ||
            !std::all_of(key.begin(), key.end(), [](unsigned char c) { return std::isdigit(c); }))
            continue;
        const std::string version = read.text("updates", keys[k], std::string());
        if (!isVersionText(version))
            read.error("updates", keys[k],
                       "must be a version such as 1.1, not \"" + version + "\"");
        else
            config.latestVersions[key] = version;
    }
    g_strfreev(keys);
    config.downloadUrl = read.text("updates", "download_url", std::string());
    if (!config.downloadUrl.empty() && !isHttpUrl(config.downloadUrl))
        read.error("updates", "download_url", "must be an http:// or https:// address");

    if (result.errors.empty())
        result.config = config;
    return result;
}
