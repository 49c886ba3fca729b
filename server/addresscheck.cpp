#include "addresscheck.h"

#include <regex>
#include <string>

bool isAcceptableAddress(std::string_view address)
{
    if (address.empty() || address.size() > MaxAddressBytes)
        return false;
    // The pattern already leaves these out; the header's safety must not
    // hang on a regular expression alone.
    if (address.find_first_of("\r\n,<>") != std::string_view::npos)
        return false;
    static const std::regex pattern(R"(\b[A-Z0-9._%+-]+@[A-Z0-9.-]+\.[A-Z]{2,4}\b)",
                                    std::regex::ECMAScript | std::regex::icase);
    return std::regex_match(address.begin(), address.end(), pattern);
}
