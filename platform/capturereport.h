#ifndef ORVELLA_CAPTUREREPORT_H
#define ORVELLA_CAPTUREREPORT_H

#include <string>

// text as a report shows it: every password masked, on one line.
std::string reportText(const std::string &text);

// Writes "orvella: <text>" as one line on stderr, in one write so lines from
// several threads never mix, with every password in it masked.
void reportLine(const std::string &text);

// Like reportLine, but only the first time this text comes up in the
// process: for problems found again on every re-count of the devices.
void reportLineOnce(const std::string &text);

#endif
