#include "logline.h"

#include <cstdio>
#include <unistd.h>

void logLine(const std::string &line)
{
    std::string text = line;
    text += '\n';
    const char *data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, data, left);
        if (written <= 0)
            return;
        data += written;
        left -= std::size_t(written);
    }
}

std::string printable(std::string_view text, std::size_t maxBytes)
{
    std::string result;
    const std::size_t shown = text.size() > maxBytes ? maxBytes : text.size();
    for (std::size_t i = 0; i < shown; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c >= 0x7f || c == '\\' || c == '"') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            result += escaped;
        } else {
            result += char(c);
        }
    }
    if (shown < text.size())
        result += "...(" + std::to_string(text.size()) + " bytes)";
    return result;
}
