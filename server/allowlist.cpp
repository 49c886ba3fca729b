#include "allowlist.h"

#include "addresscheck.h"

#include <algorithm>
#include <cctype>

namespace
{

std::string lowered(std::string_view text)
{
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return result;
}

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
        const std::string entry = lowered(text.substr(i, end - i));
        i = end;
        if (entry.front() == '@') {
            // A domain entry is checked as the domain of a made-up address.
            if (entry.size() > 1 && isAcceptableAddress("x" + entry))
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

bool AllowList::allows(std::string_view address) const
{
    const std::string wanted = lowered(address);
    if (std::find(m_addresses.begin(), m_addresses.end(), wanted) != m_addresses.end())
        return true;
    const std::size_t at = wanted.rfind('@');
    if (at == std::string::npos)
        return false;
    const std::string domain = wanted.substr(at + 1);
    return std::find(m_domains.begin(), m_domains.end(), domain) != m_domains.end();
}
