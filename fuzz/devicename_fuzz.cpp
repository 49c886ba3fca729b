// Device names as the capture library writes them: whatever the bytes, the
// name stops at the first zero byte and has one character per byte.
#include "fuzzcheck.h"
#include "webcam.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4096)
        return 0;
    const char *bytes = reinterpret_cast<const char *>(data);
    const QString name = deviceNameFromBuffer(bytes, int(size));
    const void *zero = std::memchr(bytes, 0, size);
    const int expected = zero ? int(static_cast<const char *>(zero) - bytes) : int(size);
    FUZZ_CHECK(name.size() == expected);
    for (int i = 0; i < name.size(); ++i)
        FUZZ_CHECK(name.at(i).unicode() == static_cast<unsigned char>(bytes[i]));
    return 0;
}
