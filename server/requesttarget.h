#ifndef ORVELLA_SERVER_REQUESTTARGET_H
#define ORVELLA_SERVER_REQUESTTARGET_H

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A request target split into its path and its query parameters, both
// percent-decoded. "+" stays a plus sign: programs that sent the alert
// address without encoding it must still reach the same mailbox.
struct RequestTarget {
    std::string path;
    std::vector<std::pair<std::string, std::string>> parameters;
};

// "%XX" decoded; nullopt for a "%" not followed by two hex digits.
std::optional<std::string> percentDecode(std::string_view text);

// nullopt when the target does not start with "/" or holds a bad escape.
std::optional<RequestTarget> parseRequestTarget(std::string_view target);

// The value of the one parameter of that name; nullopt when it is missing
// or given more than once.
std::optional<std::string> singleParameter(const RequestTarget &target, std::string_view name);

#endif
