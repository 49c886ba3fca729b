#include "updatelookup.h"

#include <algorithm>
#include <cctype>

namespace
{

bool allDigits(const std::string &text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](unsigned char c) { return std::isdigit(c) != 0; });
}

// Compares two digit strings as numbers of any length.
bool numericallyLess(std::string a, std::string b)
{
    a.erase(0, std::min(a.find_first_not_of('0'), a.size()));
    b.erase(0, std::min(b.find_first_not_of('0'), b.size()));
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

} // namespace

bool isVersionText(const std::string &text)
{
    if (text.empty() || text.front() == '.' || text.back() == '.')
        return false;
    if (text.find("..") != std::string::npos)
        return false;
    return std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isdigit(c) || c == '.'; });
}

std::string updateLookupBody(const RequestTarget &target, const LatestVersions &latest)
{
    const auto id = singleParameter(target, "id");
    const auto vn = singleParameter(target, "vn");
    if (!id || !vn || !allDigits(*vn))
        return "unknown";
    const auto found = latest.find(*id);
    if (found == latest.end())
        return "unknown";
    std::string latestNumber = found->second;
    latestNumber.erase(std::remove(latestNumber.begin(), latestNumber.end(), '.'),
                       latestNumber.end());
    if (numericallyLess(*vn, latestNumber))
        return found->second + "|";
    return found->second;
}
