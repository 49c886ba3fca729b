#ifndef ORVELLA_SERVER_UPDATELOOKUP_H
#define ORVELLA_SERVER_UPDATELOOKUP_H

#include "requesttarget.h"

#include <map>
#include <string>

// Product id to its latest version ("1.1").
using LatestVersions = std::map<std::string, std::string>;

// Whether the text is a version the lookup can offer: digits in groups
// separated by single dots.
bool isVersionText(const std::string &text);

// The body answering /updates/lookup.php?id=ID&vn=VN. When VN (digits) is
// lower than ID's latest version with its dots removed, the body is that
// version followed by "|", which the program reads as an offer; every other
// answer holds no "|".
std::string updateLookupBody(const RequestTarget &target, const LatestVersions &latest);

#endif
