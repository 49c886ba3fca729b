#include "websource.h"

#include <curl/curl.h>
#include <gst/base/gstpushsrc.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

namespace
{

// The longest one wait for the network lasts: the stall timeout is checked
// after it.
constexpr int PollMs = 1000;
// libcurl's read size: a camera's picture comes in one piece.
constexpr long ReadBytes = 256 * 1024;

bool isAddress(const char *address)
{
    return address && (g_ascii_strncasecmp(address, "http://", 7) == 0 ||
                       g_ascii_strncasecmp(address, "https://", 8) == 0);
}

// A media type GStreamer takes as a structure name: a letter, then letters,
// digits and /-_.:+ only. Anything else a server sends leaves the caps open.
bool isMediaType(const std::string &type)
{
    if (type.empty() || !g_ascii_isalpha(type[0]))
        return false;
    for (char c : type)
        if (!g_ascii_isalnum(c) && std::string("/-_.:+").find(c) == std::string::npos)
            return false;
    return true;
}

// Bytes come in from the network at the back and are handed on from the
// front; the memory is kept until all of them are gone.
class Pending
{
public:
    void append(const char *data, size_t size) { bytes.append(data, size); }
    bool empty() const { return size() == 0; }
    size_t size() const { return bytes.size() - taken; }
    const char *data() const { return bytes.data() + taken; }
    void drop(size_t count)
    {
        taken += std::min(count, size());
        if (taken == bytes.size())
            clear();
    }
    void clear()
    {
        bytes.clear();
        taken = 0;
    }

private:
    std::string bytes;
    size_t taken = 0;
};

// One transfer, made by start() and ended by stop(); all but `flushing` is
// touched by the streaming thread only while it runs.
struct Transfer {
    std::string address;
    long timeoutSeconds = 3;
    CURLM *multi = nullptr;
    CURL *easy = nullptr;
    Pending received;         // bytes not yet handed on
    bool anyReceived = false; // in this transfer
    // Where the next byte handed on lies in the resource, where this
    // transfer started in it, and its whole length once known.
    guint64 position = 0;
    guint64 startOffset = 0;
    std::atomic<gint64> length{-1};
    std::atomic<bool> noRanges{false}; // the server said it takes no byte ranges
    guint64 skip = 0;                  // bytes to drop: a server that ignored the range sends them
    std::string mediaType;             // of the current answer's Content-Type
    std::string reason;                // of the current answer's status line
    bool capsSent = false;
    bool done = false;
    CURLcode result = CURLE_OK;
    std::atomic<bool> flushing{false};
    char error[CURL_ERROR_SIZE] = {};

    // Forgets what the last transfer brought, for one that reads from offset.
    void beginAt(guint64 offset)
    {
        received.clear();
        anyReceived = false;
        position = offset;
        startOffset = offset;
        skip = 0;
        done = false;
        result = CURLE_OK;
        error[0] = '\0';
    }

    void close()
    {
        if (multi && easy)
            curl_multi_remove_handle(multi, easy);
        if (easy)
            curl_easy_cleanup(easy);
        if (multi)
            curl_multi_cleanup(multi);
        easy = nullptr;
        multi = nullptr;
    }
    ~Transfer() { close(); }
};

// A server's reason phrase as a line of an error message may show it: a
// short one of printable ASCII.
std::string shownReason(std::string reason)
{
    const size_t longest = 80;
    if (reason.size() > longest)
        reason.resize(longest);
    for (char &c : reason)
        if (c < 0x20 || c > 0x7e)
            c = '?';
    return reason;
}

size_t onData(char *data, size_t size, size_t count, void *user)
{
    auto *transfer = static_cast<Transfer *>(user);
    transfer->received.append(data, size * count);
    return size * count;
}

size_t onHeader(char *data, size_t size, size_t count, void *user)
{
    auto *transfer = static_cast<Transfer *>(user);
    std::string line(data, size * count);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    if (line.compare(0, 5, "HTTP/") == 0) {
        // "HTTP/1.1 404 Not Found" starts an answer, the last one after
        // redirects and a login.
        const size_t code = line.find(' ');
        const size_t text = code == std::string::npos ? code : line.find(' ', code + 1);
        transfer->reason =
            shownReason(text == std::string::npos ? std::string() : line.substr(text + 1));
        transfer->mediaType.clear();
        transfer->noRanges = false;
    } else if (g_ascii_strncasecmp(line.c_str(), "accept-ranges:", 14) == 0) {
        g_autofree gchar *lower = g_ascii_strdown(line.c_str() + 14, -1);
        transfer->noRanges = std::strstr(lower, "none") != nullptr;
    } else if (g_ascii_strncasecmp(line.c_str(), "content-type:", 13) == 0) {
        const size_t parameters = line.find(';');
        std::string type =
            line.substr(13, parameters == std::string::npos ? parameters : parameters - 13);
        const size_t first = type.find_first_not_of(" \t");
        const size_t last = type.find_last_not_of(" \t");
        type = first == std::string::npos ? std::string() : type.substr(first, last - first + 1);
        g_autofree gchar *lower = g_ascii_strdown(type.c_str(), -1);
        transfer->mediaType = lower;
    }
    return size * count;
}

} // namespace

struct OrvellaWebSrc {
    GstPushSrc parent;
    Transfer *transfer;
};

struct OrvellaWebSrcClass {
    GstPushSrcClass parent_class;
};

G_DEFINE_TYPE(OrvellaWebSrc, orvella_web_src, GST_TYPE_PUSH_SRC)

namespace
{

GstStaticPadTemplate sourceTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);

Transfer &transferOf(gpointer element)
{
    return *static_cast<OrvellaWebSrc *>(element)->transfer;
}

void postError(GstElement *element, GstResourceError code, const std::string &text,
               const char *debug)
{
    gst_element_message_full(element, GST_MESSAGE_ERROR, GST_RESOURCE_ERROR, code,
                             g_strdup(text.c_str()), g_strdup(debug), __FILE__, GST_FUNCTION,
                             __LINE__);
}

gboolean start(GstBaseSrc *base)
{
    Transfer &t = transferOf(base);
    t.close();
    t.beginAt(0);
    t.length = -1;
    t.noRanges = false;
    t.mediaType.clear();
    t.reason.clear();
    t.capsSent = false;
    t.multi = curl_multi_init();
    t.easy = curl_easy_init();
    if (!t.multi || !t.easy) {
        t.close();
        postError(GST_ELEMENT(base), GST_RESOURCE_ERROR_OPEN_READ, "could not start a transfer",
                  nullptr);
        return FALSE;
    }
    CURL *easy = t.easy;
    curl_easy_setopt(easy, CURLOPT_URL, t.address.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
    // The user and password of the address, in whichever way the server asks.
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
    curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Orvella");
    // A camera's stream has no end, so there is no limit on the whole
    // transfer: only on connecting, and on a stream that stops.
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, t.timeoutSeconds);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, t.timeoutSeconds);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, ReadBytes);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, t.error);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onData);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);
    if (curl_multi_add_handle(t.multi, easy) != CURLM_OK) {
        t.close();
        postError(GST_ELEMENT(base), GST_RESOURCE_ERROR_OPEN_READ, "could not start a transfer",
                  nullptr);
        return FALSE;
    }
    return TRUE;
}

gboolean stop(GstBaseSrc *base)
{
    transferOf(base).close();
    return TRUE;
}

gboolean unlock(GstBaseSrc *base)
{
    Transfer &t = transferOf(base);
    t.flushing = true;
    if (t.multi)
        curl_multi_wakeup(t.multi);
    return TRUE;
}

gboolean unlockStop(GstBaseSrc *base)
{
    transferOf(base).flushing = false;
    return TRUE;
}

// A file at a web address can be read from anywhere, unless its server
// says it takes no byte ranges; a camera's endless stream has no length.
gboolean isSeekable(GstBaseSrc *base)
{
    const Transfer &t = transferOf(base);
    return t.length > 0 && !t.noRanges;
}

gboolean getSize(GstBaseSrc *base, guint64 *size)
{
    const gint64 length = transferOf(base).length;
    if (length < 0)
        return FALSE;
    *size = guint64(length);
    return TRUE;
}

// Reads on from the segment's start: a new transfer from there, unless that
// is where this one is.
gboolean doSeek(GstBaseSrc *base, GstSegment *segment)
{
    Transfer &t = transferOf(base);
    const guint64 offset = segment->start;
    if (offset == t.position)
        return TRUE;
    if (!t.easy || !isSeekable(base))
        return FALSE;
    curl_multi_remove_handle(t.multi, t.easy);
    curl_easy_setopt(t.easy, CURLOPT_RESUME_FROM_LARGE, curl_off_t(offset));
    t.beginAt(offset);
    return curl_multi_add_handle(t.multi, t.easy) == CURLM_OK;
}

// The first bytes of a transfer: its answer is in, and with it the length
// and whether the server read from where it was asked to.
void firstBytes(Transfer &t)
{
    t.anyReceived = true;
    long status = 0;
    curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &status);
    const guint64 from = status == 206 ? t.startOffset : 0;
    t.skip = t.startOffset - from;
    curl_off_t rest = -1;
    curl_easy_getinfo(t.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &rest);
    if (rest >= 0)
        t.length = gint64(from) + rest;
}

// The transfer is over: the end of the stream, or an error that says why.
GstFlowReturn finish(GstPushSrc *source, Transfer &t)
{
    if (t.result == CURLE_OK)
        return GST_FLOW_EOS;
    long status = 0;
    curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &status);
    GstResourceError code = t.anyReceived ? GST_RESOURCE_ERROR_READ : GST_RESOURCE_ERROR_OPEN_READ;
    std::string text;
    if (t.result == CURLE_HTTP_RETURNED_ERROR) {
        text = (t.reason.empty() ? std::string("HTTP error") : t.reason) + " (" +
               std::to_string(status) + ")";
        if (status == 401 || status == 403)
            code = GST_RESOURCE_ERROR_NOT_AUTHORIZED;
        else if (status == 404)
            code = GST_RESOURCE_ERROR_NOT_FOUND;
    } else {
        text = t.error[0] ? t.error : curl_easy_strerror(t.result);
    }
    postError(GST_ELEMENT(source), code, text, curl_easy_strerror(t.result));
    return GST_FLOW_ERROR;
}

GstFlowReturn create(GstPushSrc *source, GstBuffer **buffer)
{
    Transfer &t = transferOf(source);
    if (!t.multi)
        return GST_FLOW_ERROR;
    while (t.received.empty() || t.skip > 0) {
        if (!t.received.empty()) {
            const size_t dropped = size_t(std::min<guint64>(t.skip, t.received.size()));
            t.received.drop(dropped);
            t.skip -= dropped;
            continue;
        }
        if (t.flushing)
            return GST_FLOW_FLUSHING;
        if (t.done)
            return finish(source, t);
        int running = 0;
        if (curl_multi_perform(t.multi, &running) != CURLM_OK) {
            t.done = true;
            t.result = CURLE_RECV_ERROR;
            continue;
        }
        if (!t.received.empty() && !t.anyReceived)
            firstBytes(t);
        int queued = 0;
        while (CURLMsg *message = curl_multi_info_read(t.multi, &queued)) {
            if (message->msg == CURLMSG_DONE) {
                t.done = true;
                t.result = message->data.result;
            }
        }
        if (t.received.empty() && !t.done)
            curl_multi_poll(t.multi, nullptr, 0, PollMs, nullptr);
    }
    if (!t.capsSent) {
        t.capsSent = true;
        if (isMediaType(t.mediaType)) {
            g_autoptr(GstCaps) caps = gst_caps_new_empty_simple(t.mediaType.c_str());
            gst_base_src_set_caps(GST_BASE_SRC(source), caps);
        }
    }
    // A camera's stream of pictures is split by the demuxer whatever the
    // pieces; anything else goes in the usual block size, which some
    // demuxers reading a whole file at once need to make their way through it.
    const bool pictures = g_str_has_prefix(t.mediaType.c_str(), "multipart/");
    const size_t size =
        pictures
            ? t.received.size()
            : std::min<size_t>(t.received.size(), gst_base_src_get_blocksize(GST_BASE_SRC(source)));
    *buffer = gst_buffer_new_memdup(t.received.data(), size);
    t.position += size;
    t.received.drop(size);
    return GST_FLOW_OK;
}

void finalize(GObject *object)
{
    delete static_cast<OrvellaWebSrc *>(static_cast<gpointer>(object))->transfer;
    G_OBJECT_CLASS(orvella_web_src_parent_class)->finalize(object);
}

} // namespace

static void orvella_web_src_class_init(OrvellaWebSrcClass *klass)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    G_OBJECT_CLASS(klass)->finalize = finalize;
    GstElementClass *element = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_static_pad_template(element, &sourceTemplate);
    gst_element_class_set_static_metadata(element, "Web camera source", "Source/Network",
                                          "Reads an http or https address", "Orvella");
    GstBaseSrcClass *base = GST_BASE_SRC_CLASS(klass);
    base->start = start;
    base->stop = stop;
    base->unlock = unlock;
    base->unlock_stop = unlockStop;
    base->is_seekable = isSeekable;
    base->get_size = getSize;
    base->do_seek = doSeek;
    GST_PUSH_SRC_CLASS(klass)->create = create;
}

static void orvella_web_src_init(OrvellaWebSrc *self)
{
    self->transfer = new Transfer;
}

GstElement *makeWebSource(const char *address, int timeoutSeconds)
{
    if (!isAddress(address))
        return nullptr;
    auto *source = static_cast<OrvellaWebSrc *>(g_object_new(orvella_web_src_get_type(), nullptr));
    source->transfer->address = address;
    source->transfer->timeoutSeconds = timeoutSeconds;
    return GST_ELEMENT(source);
}
