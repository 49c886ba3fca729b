#ifndef ORVELLA_SERVER_LOGLINE_H
#define ORVELLA_SERVER_LOGLINE_H

#include <cstddef>
#include <string>
#include <string_view>

// Writes one line to standard error in a single write, so lines from
// different threads never mix (journald takes them from there).
void logLine(const std::string &line);

// The most lines of one kind written in a minute by logThrottled().
constexpr std::size_t ThrottledLinesPerMinute = 100;

// A line that clients can cause as often as they like (a refused or held
// request, a cut-off): of each kind, a fixed set of words chosen by the
// server, at most ThrottledLinesPerMinute are written a minute. The next
// line of the kind after that minute is preceded by one saying how many were
// left out.
void logThrottled(const std::string &kind, const std::string &line);
// Writes the counts of lines left out that no later line reported yet.
void logLeftOutLines();

// Text from a client made safe for a log line: bytes outside printable ASCII
// become \xNN, and anything past maxBytes is cut and marked.
std::string printable(std::string_view text, std::size_t maxBytes = 200);

#endif
