#include "addresscheck.h"

namespace
{

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isLocalChar(char c)
{
    return isLetter(c) || isDigit(c) || c == '.' || c == '_' || c == '%' || c == '+' || c == '-';
}

bool isLabel(std::string_view label)
{
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
        return false;
    for (char c : label)
        if (!isLetter(c) && !isDigit(c) && c != '-')
            return false;
    return true;
}

} // namespace

bool isAcceptableDomain(std::string_view domain)
{
    if (domain.empty() || domain.size() > 253)
        return false;
    const std::size_t lastDot = domain.rfind('.');
    if (lastDot == std::string_view::npos)
        return false;
    const std::string_view last = domain.substr(lastDot + 1);
    if (last.size() < 2 || last.size() > 63)
        return false;
    for (char c : last)
        if (!isLetter(c))
            return false;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t dot = domain.find('.', begin);
        if (!isLabel(domain.substr(begin, dot - begin)))
            return false;
        if (dot == std::string_view::npos)
            return true;
        begin = dot + 1;
    }
}

bool isAcceptableAddress(std::string_view address)
{
    if (address.empty() || address.size() > MaxAddressBytes)
        return false;
    const std::size_t at = address.find('@');
    if (at == 0 || at == std::string_view::npos)
        return false;
    const std::string_view local = address.substr(0, at);
    const char first = local.front();
    if (!isLetter(first) && !isDigit(first) && first != '_')
        return false;
    for (char c : local)
        if (!isLocalChar(c))
            return false;
    return isAcceptableDomain(address.substr(at + 1));
}

std::string canonicalAddress(std::string_view address)
{
    std::string result(address);
    for (char &c : result)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return result;
}
