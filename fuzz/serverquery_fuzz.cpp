// Request targets as orvella-server reads them: whatever arrives, a parsed
// path starts with "/", and an alert address that passes the server's check
// can never carry a header break, a list separator or an angle bracket.
#include "addresscheck.h"
#include "fuzzcheck.h"
#include "requesttarget.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 16384)
        return 0;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const auto target = parseRequestTarget(text);
    if (!target)
        return 0;
    FUZZ_CHECK(!target->path.empty() && target->path.front() == '/');
    const auto address = singleParameter(*target, "x");
    if (address && isAcceptableAddress(*address)) {
        FUZZ_CHECK(address->size() <= MaxAddressBytes);
        FUZZ_CHECK(address->find_first_of("\r\n,<>") == std::string::npos);
        FUZZ_CHECK(address->find('\0') == std::string::npos);
        FUZZ_CHECK(address->find('@') != std::string::npos);
    }
    return 0;
}
