#include "allowlist.h"

#include "addresscheck.h"

#include <algorithm>
#include <cctype>

namespace
{

bool isSeparator(char c)
{
    return c == ',' || std::isspace(static_cast<unsigned char>(c));
}

} // namespace

AllowList AllowList::parse(std::string_view text)
{
    AllowList list;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isSeparator(text[i]))
            ++i;
        std::size_t end = i;
        while (end < text.size() && !isSeparator(text[end]))
            ++end;
        if (end == i)
            break;
        const std::string entry = canonicalAddress(text.substr(i, end - i));
        i = end;
        if (entry.front() == '@') {
            if (isAcceptableDomain(std::string_view(entry).substr(1)))
                list.m_domains.push_back(entry.substr(1));
            else
                list.m_invalid.push_back(entry);
        } else if (isAcceptableAddress(entry)) {
            list.m_addresses.push_back(entry);
        } else {
            list.m_invalid.push_back(entry);
        }
    }
    return list;
}

AllowList::Match AllowList::match(std::string_view address) const
{
    const std::string wanted = canonicalAddress(address);
    if (std::find(m_addresses.begin(), m_addresses.end(), wanted) != m_addresses.end())
        return Match::Listed;
    const std::size_t at = wanted.rfind('@');
    if (at == std::string::npos)
        return Match::None;
    const std::string domain = wanted.substr(at + 1);
    return std::find(m_domains.begin(), m_domains.end(), domain) != m_domains.end() ? Match::Domain
                                                                                    : Match::None;
}
