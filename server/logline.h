#ifndef ORVELLA_SERVER_LOGLINE_H
#define ORVELLA_SERVER_LOGLINE_H

#include <cstddef>
#include <string>
#include <string_view>

// Writes one line to standard error in a single write, so lines from
// different threads never mix (journald takes them from there).
void logLine(const std::string &line);

// Text from a client made safe for a log line: bytes outside printable ASCII
// become \xNN, and anything past maxBytes is cut and marked.
std::string printable(std::string_view text, std::size_t maxBytes = 200);

#endif
