#ifndef ORVELLA_SERVER_ALERTMAIL_H
#define ORVELLA_SERVER_ALERTMAIL_H

#include "holdoffbook.h"

#include <cstdint>
#include <string>

// What one alert mail reports: the first alert of a hold-off, or a summary
// of the alerts counted during one.
struct AlertMail {
    std::string from; // header value, e.g. "Orvella <alerts@example.net>"
    std::string to;   // a checked address
    bool summary = false;
    int count = 1;
    WallTime first;
    WallTime last;
    std::string client;
    int holdOffSeconds = 0;
    WallTime date;
    std::string messageId; // "<...@...>"
};

// "Mon, 07 Dec 2026 10:15:03 +0100": the Date header, in local time.
std::string formatMailDate(WallTime time);
// "2026-12-07 10:15:03 CET" and "2026-12-07 09:15:03 UTC".
std::string formatLocalTime(WallTime time);
std::string formatUtcTime(WallTime time);

// The bare address of a From value: what stands in angle brackets, or the
// whole value trimmed.
std::string envelopeAddress(const std::string &from);

// A Message-ID from the time, a random number and the sender's domain.
std::string makeMessageId(WallTime time, std::uint64_t random, const std::string &from);

// The whole message, header and body, with CR LF line ends.
std::string composeAlertMail(const AlertMail &mail);

#endif
