#include "secretmask.h"

#include <cctype>

std::string maskPasswords(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    for (;;) {
        const std::size_t scheme = text.find("://", pos);
        if (scheme == std::string::npos)
            break;
        const std::size_t authority = scheme + 3;
        // The user information ends at the last '@' before the path, query,
        // fragment or the end of the address.
        std::size_t end = authority;
        while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])) &&
               text[end] != '/' && text[end] != '?' && text[end] != '#' && text[end] != '"' &&
               text[end] != '\'')
            ++end;
        const std::size_t at = text.rfind('@', end == authority ? authority : end - 1);
        const std::size_t colon = at != std::string::npos && at >= authority
                                      ? text.find(':', authority)
                                      : std::string::npos;
        if (colon != std::string::npos && colon < at) {
            out.append(text, pos, colon + 1 - pos);
            out += "***";
            pos = at;
        } else {
            out.append(text, pos, authority - pos);
            pos = authority;
        }
    }
    out.append(text, pos, std::string::npos);
    return out;
}
