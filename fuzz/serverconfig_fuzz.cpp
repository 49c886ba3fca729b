// orvella-server's configuration file: whatever the text, the parser either
// gives a configuration or says why not, never both and never neither; and
// being lenient only ever turns errors into warnings.
#include "fuzzcheck.h"
#include "serverconfig.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 65536)
        return 0;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const ConfigResult strict = parseConfig(text);
    FUZZ_CHECK(strict.config.has_value() == strict.errors.empty());
    FUZZ_CHECK(strict.warnings.empty());
    if (strict.config) {
        FUZZ_CHECK(strict.config->maxConnections > 0);
        FUZZ_CHECK(strict.config->holdOffSeconds >= 0);
        FUZZ_CHECK(strict.config->maxHeldAddresses > 0);
    }
    const ConfigResult lenient = parseConfig(text, true);
    FUZZ_CHECK(lenient.config.has_value() == lenient.errors.empty());
    FUZZ_CHECK(lenient.errors.size() <= strict.errors.size());
    FUZZ_CHECK(lenient.errors.size() + lenient.warnings.size() == strict.errors.size());
    if (strict.config)
        FUZZ_CHECK(lenient.config.has_value());
    return 0;
}
