#include "requesttarget.h"

namespace
{

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<std::string> percentDecode(std::string_view text)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        decoded += char(high * 16 + low);
        i += 2;
    }
    return decoded;
}

std::optional<RequestTarget> parseRequestTarget(std::string_view target)
{
    if (target.empty() || target.front() != '/')
        return std::nullopt;
    const std::size_t question = target.find('?');
    RequestTarget result;
    const auto path = percentDecode(target.substr(0, question));
    if (!path)
        return std::nullopt;
    result.path = *path;
    if (question == std::string_view::npos)
        return result;

    std::string_view query = target.substr(question + 1);
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (pair.empty())
            continue;
        const std::size_t equals = pair.find('=');
        const auto name = percentDecode(pair.substr(0, equals));
        const auto value = percentDecode(
            equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1));
        if (!name || !value)
            return std::nullopt;
        result.parameters.emplace_back(*name, *value);
    }
    return result;
}

std::optional<std::string> singleParameter(const RequestTarget &target, std::string_view name)
{
    std::optional<std::string> found;
    for (const auto &parameter : target.parameters) {
        if (parameter.first != name)
            continue;
        if (found)
            return std::nullopt;
        found = parameter.second;
    }
    return found;
}
