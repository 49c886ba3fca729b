// The update check's reading of a reply: whole or in pieces it gives the same
// answer, offers only short plain version texts and keeps within its bound.
#include "fuzzcheck.h"
#include "updatereply.h"

#include <cstdint>

namespace
{

bool isVersionText(const QString &text)
{
    if (text.isEmpty() || text.size() > UpdateReply::MaxVersionLength)
        return false;
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
              u == '.' || u == '-'))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4 * UpdateReply::MaxReplyBytes)
        return 0;
    const char *bytes = reinterpret_cast<const char *>(data);
    const QByteArray reply = QByteArray::fromRawData(bytes, int(size));

    QString version;
    const UpdateReply::Outcome outcome = interpretUpdateReply(reply, &version);
    FUZZ_CHECK(outcome != UpdateReply::Pending);
    FUZZ_CHECK(outcome == UpdateReply::Offer ? isVersionText(version) : version.isEmpty());

    // The same bytes as the network might cut them up; the first byte picks
    // the piece size.
    const int step = size > 0 ? data[0] % 23 + 1 : 1;
    UpdateReply pieces;
    for (size_t at = 0; at < size; at += size_t(step)) {
        const int length = int(size - at < size_t(step) ? size - at : size_t(step));
        pieces.feed(bytes + at, length);
        FUZZ_CHECK(pieces.receivedBytes() <= UpdateReply::MaxReplyBytes);
        FUZZ_CHECK(pieces.keptBytes() <= UpdateReply::MaxReplyBytes);
    }
    FUZZ_CHECK(pieces.finish() == outcome);
    FUZZ_CHECK(pieces.version() == version);
    return 0;
}
