#include "downloadpage.h"

std::string escapeHtml(std::string_view text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&#39;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::string downloadPage(const std::string &latestVersion, const std::string &downloadUrl)
{
    std::string page = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<title>Orvella downloads</title>\n</head>\n<body>\n<h1>Orvella</h1>\n";
    if (!latestVersion.empty())
        page += "<p>The latest version is " + escapeHtml(latestVersion) + ".</p>\n";
    if (downloadUrl.empty())
        page += "<p>No download is offered here.</p>\n";
    else
        page += "<p><a href=\"" + escapeHtml(downloadUrl) + "\">Download Orvella</a></p>\n";
    page += "</body>\n</html>\n";
    return page;
}
