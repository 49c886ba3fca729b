// orvella-server's configuration file: whatever the text, the parser either
// gives a configuration or says why not, never both and never neither.
#include "fuzzcheck.h"
#include "serverconfig.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 65536)
        return 0;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const ConfigResult result = parseConfig(text);
    FUZZ_CHECK(result.config.has_value() == result.errors.empty());
    if (result.config) {
        FUZZ_CHECK(result.config->maxConnections > 0);
        FUZZ_CHECK(result.config->holdOffSeconds >= 0);
    }
    return 0;
}
