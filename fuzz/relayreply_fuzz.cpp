// The relay client's handling of a reply: chunks are kept up to their first
// NUL and decoded, then the sender judges the whole. Only a 2xx status line
// with complete headers counts as delivered.
#include "fuzzcheck.h"
#include "httpstatus.h"
#include "relaysender.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 256 * 1024)
        return 0;
    const char *bytes = reinterpret_cast<const char *>(data);
    // The first byte picks the chunk size the network delivers.
    const int step = size > 0 ? data[0] % 61 + 1 : 1;
    QString response;
    for (size_t at = 0; at < size; at += size_t(step)) {
        const int length = int(size - at < size_t(step) ? size - at : size_t(step));
        const QString text = Vesk::QtLib::Web::decodeReplyChunk(QByteArray(bytes + at, length));
        FUZZ_CHECK(!text.contains(QChar(0)));
        response += text;
    }
    const QString problem = relayReplyProblem(response);
    const int status = httpStatusCode(response.toUtf8());
    FUZZ_CHECK(status == 0 || (status >= 100 && status <= 999));
    FUZZ_CHECK(problem.isEmpty() == (status >= 200 && status <= 299));
    FUZZ_CHECK(problem.size() < 40);
    return 0;
}
