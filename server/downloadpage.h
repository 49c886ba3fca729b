#ifndef ORVELLA_SERVER_DOWNLOADPAGE_H
#define ORVELLA_SERVER_DOWNLOADPAGE_H

#include <string>
#include <string_view>

// Text made safe for HTML element content and quoted attribute values.
std::string escapeHtml(std::string_view text);

// The download page: the latest version (may be empty) and a link to the
// download address (none when it is empty).
std::string downloadPage(const std::string &latestVersion, const std::string &downloadUrl);

#endif
