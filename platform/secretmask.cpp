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
        // The address ends at a space or a quote. Its user information ends
        // at the last '@' in it: a password may hold '/' or '@' where the
        // user did not encode them, and masking too much beats too little.
        std::size_t end = authority;
        while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])) &&
               text[end] != '"' && text[end] != '\'')
            ++end;
        const std::size_t at = end > authority ? text.rfind('@', end - 1) : std::string::npos;
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
