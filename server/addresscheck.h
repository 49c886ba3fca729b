#ifndef ORVELLA_SERVER_ADDRESSCHECK_H
#define ORVELLA_SERVER_ADDRESSCHECK_H

#include <cstddef>
#include <string_view>

// The longest address that goes into a mail header.
constexpr std::size_t MaxAddressBytes = 254;

// The program's own address rule, checked again before an address goes near
// a mail header: the whole text matches
// \b[A-Z0-9._%+-]+@[A-Z0-9.-]+\.[A-Z]{2,4}\b (ignoring case), it holds no CR,
// LF, comma or angle bracket, and it is at most MaxAddressBytes long.
bool isAcceptableAddress(std::string_view address);

#endif
