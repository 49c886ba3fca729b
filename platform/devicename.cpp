#include "devicename.h"

namespace
{

// Decodes one UTF-8 sequence at text[i]; returns its length, or 0 when the
// bytes there are not well-formed UTF-8.
std::size_t decodeUtf8(const std::string &text, std::size_t i, unsigned long &codePoint)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        codePoint = codePoint << 6 | (next & 0x3F);
    }
    return length;
}

} // namespace

void copyDeviceName(const std::string &name, char *buffer, int length)
{
    if (!buffer || length < 1)
        return;
    int written = 0;
    std::size_t i = 0;
    while (i < name.size() && written < length - 1) {
        unsigned long codePoint = 0;
        std::size_t step = decodeUtf8(name, i, codePoint);
        char out;
        if (step == 0) {
            // Not UTF-8 after all: pass the byte on as it is.
            out = name[i];
            step = 1;
        } else {
            out = codePoint <= 0xFF ? static_cast<char>(codePoint) : '?';
        }
        buffer[written++] = out;
        i += step;
    }
    buffer[written] = '\0';
}
