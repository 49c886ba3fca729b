// Request headers as orvella-server reads them off a connection: whatever
// arrives, the header's end is found within the bytes given, a header that
// parses has a method, a target without white space or control characters
// and version 1.0 or 1.1, ends at its first empty line with no bare CR or
// folded line in it, and an answer built for it is one well-formed head.
#include "fuzzcheck.h"
#include "requesthead.h"

#include <algorithm>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 16384)
        return 0;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const std::size_t length = requestHeadLength(text);
    FUZZ_CHECK(length <= text.size());
    if (length == 0) {
        FUZZ_CHECK(text.find("\n\n") == std::string_view::npos &&
                   text.find("\n\r\n") == std::string_view::npos);
        return 0;
    }
    const std::string_view head = text.substr(0, length);
    FUZZ_CHECK(head.back() == '\n');
    const auto parsed = parseRequestHead(head);
    // Nothing that follows a header is read as part of it.
    if (length < text.size())
        FUZZ_CHECK(!parseRequestHead(text));
    if (!parsed)
        return 0;
    // Its first empty line ends it, every CR ends a line and no line is
    // folded onto the one before.
    const std::size_t blank = std::min(head.find("\n\n"), head.find("\n\r\n"));
    FUZZ_CHECK(blank != std::string_view::npos &&
               blank + (head[blank + 1] == '\n' ? 2 : 3) == head.size());
    for (std::size_t i = 0; i + 1 < head.size(); ++i) {
        FUZZ_CHECK(head[i] != '\r' || head[i + 1] == '\n');
        FUZZ_CHECK(head[i] != '\n' || (head[i + 1] != ' ' && head[i + 1] != '\t'));
    }
    FUZZ_CHECK(!parsed->method.empty() && !parsed->target.empty());
    FUZZ_CHECK(parsed->minorVersion == 0 || parsed->minorVersion == 1);
    for (char c : parsed->target)
        FUZZ_CHECK(static_cast<unsigned char>(c) > 0x20 && c != 0x7f);
    FUZZ_CHECK(parsed->method.find_first_of(" \t\r\n") == std::string::npos);
    const std::string answer = formatAnswer(200, "text/plain", parsed->target, parsed->keepAlive,
                                            parsed->method == "HEAD");
    FUZZ_CHECK(requestHeadLength(answer) ==
               answer.size() - (parsed->method == "HEAD" ? 0 : parsed->target.size()));
    return 0;
}
