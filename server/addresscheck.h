#ifndef ORVELLA_SERVER_ADDRESSCHECK_H
#define ORVELLA_SERVER_ADDRESSCHECK_H

#include <cstddef>
#include <string>
#include <string_view>

// The longest address that goes into a mail header.
constexpr std::size_t MaxAddressBytes = 254;

// The server's address rule, checked before an address goes near a mail
// header: a local part of letters, digits and . _ % + - (starting with a
// letter, digit or _), "@", and a domain of dot-separated labels of letters,
// digits and hyphens (1 to 63 each, no hyphen at either end) whose last
// label is 2 to 63 letters. Nothing else passes: no CR, LF, comma, angle
// bracket or space, and at most MaxAddressBytes in all.
bool isAcceptableAddress(std::string_view address);

// The same rule for the part after "@" alone.
bool isAcceptableDomain(std::string_view domain);

// The one form of an acceptable address that the allow-list, the hold-offs
// and the mail all use: the whole address in lower case, as the allow-list
// compares it, so that case variants are one recipient.
std::string canonicalAddress(std::string_view address);

#endif
