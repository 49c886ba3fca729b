// The cameras file and the environment variable's list: whatever the text,
// every entry kept has a trimmed name without '=' and a trimmed description,
// neither holding the separator, and bad entries are numbered in order.
#include "cameraentries.h"
#include "fuzzcheck.h"

#include <cstdint>
#include <string>

namespace
{

bool isTrimmed(const std::string &text)
{
    const std::string blanks = " \t\r\n";
    return !text.empty() && blanks.find(text.front()) == std::string::npos &&
           blanks.find(text.back()) == std::string::npos;
}

void check(const std::string &text, char separator)
{
    const CameraEntries parsed = parseCameraEntries(text, separator);
    for (const CameraEntry &entry : parsed.entries) {
        FUZZ_CHECK(isTrimmed(entry.name) && isTrimmed(entry.description));
        FUZZ_CHECK(entry.name.find('=') == std::string::npos);
        FUZZ_CHECK(entry.name.find(separator) == std::string::npos);
        FUZZ_CHECK(entry.description.find(separator) == std::string::npos);
        FUZZ_CHECK(entry.name.front() != '#');
    }
    int lines = 1;
    for (char c : text)
        lines += c == separator;
    int previous = 0;
    for (const BadCameraEntry &bad : parsed.bad) {
        FUZZ_CHECK(bad.number > previous && bad.number <= lines);
        FUZZ_CHECK(!bad.problem.empty());
        previous = bad.number;
    }
    FUZZ_CHECK(int(parsed.entries.size() + parsed.bad.size()) <= lines);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 65536)
        return 0;
    const std::string text(reinterpret_cast<const char *>(data), size);
    check(text, '\n');
    check(text, ';');
    return 0;
}
