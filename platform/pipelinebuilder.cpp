#include "pipelinebuilder.h"

#include "debianpackage.h"
#include "demosource.h"
#include "websource.h"

#include <gst/pbutils/missing-plugins.h>
#include <gst/video/video.h>

#include <atomic>
#include <cstring>

namespace
{

constexpr const char *SinkName = "orvellacapturesink";
// Low enough for a watch, high enough for a camera on a busy network.
constexpr guint RtspLatencyMs = 200;
// Without a UDP packet for this long, the RTSP source tries TCP.
constexpr guint64 RtspUdpTimeoutUs = 2 * G_USEC_PER_SEC;
// A web camera that stops sending for this long counts as lost.
constexpr guint HttpTimeoutS = 3;

// Hands the source's frames on as they come, in any raw format. Scaling and
// colour conversion are left for the frames the caller takes, which are
// fewer than the source gives.
std::string sinkTail()
{
    return std::string("videoconvert ! video/x-raw ! appsink name=") + SinkName;
}

// Hands a camera's JPEG pictures on undecoded: only those the caller takes
// are decoded, and no larger than needed.
std::string jpegSinkTail()
{
    return std::string("appsink caps=image/jpeg name=") + SinkName;
}

GstPadProbeReturn offerVideoMeta(GstPad *, GstPadProbeInfo *info, gpointer)
{
    GstQuery *query = GST_PAD_PROBE_INFO_QUERY(info);
    if (GST_QUERY_TYPE(query) == GST_QUERY_ALLOCATION &&
        !gst_query_find_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr))
        gst_query_add_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr);
    return GST_PAD_PROBE_OK;
}

std::string packageHint(const std::string &package)
{
    return package.empty() ? std::string() : "; the Debian package " + package + " provides it";
}

ElementPtr parse(const std::string &description, bool asBin, std::string &reason)
{
    g_autoptr(GError) error = nullptr;
    g_autoptr(GstParseContext) context = gst_parse_context_new();
    ElementPtr element = adoptElement(
        asBin ? gst_parse_bin_from_description_full(description.c_str(), TRUE, context,
                                                    GST_PARSE_FLAG_FATAL_ERRORS, &error)
              : gst_parse_launch_full(description.c_str(), context, GST_PARSE_FLAG_FATAL_ERRORS,
                                      &error));
    if (error) {
        reason = error->message;
        g_auto(GStrv) missing =
            g_error_matches(error, GST_PARSE_ERROR, GST_PARSE_ERROR_NO_SUCH_ELEMENT)
                ? gst_parse_context_get_missing_elements(context)
                : nullptr;
        if (missing && missing[0])
            reason += packageHint(packageForElement(missing[0]));
        element.reset();
    }
    return element;
}

void setUpSink(GstElement *sink, const SinkSetup &setup);

// What an address's decoder or demuxer is told when its first video stream
// appears.
struct TailLink {
    SinkSetup setup;
    // A demuxer's parts that are neither JPEG pictures nor raw video (other
    // pictures) are decoded first; a decoder's are drained.
    bool decodeOthers = false;
    // Streams may appear on several threads at once; the first video one
    // gets the tail.
    std::atomic<bool> taken{false};
};

void freeTailLink(gpointer link, GClosure *)
{
    delete static_cast<TailLink *>(link);
}

void decodeAddress(GstElement *decoder, const SinkSetup &setup);

// Links pad to a new element of factory added to bin; null when that fails.
GstElement *linkNew(GstBin *bin, GstPad *pad, const char *factory)
{
    GstElement *element = gst_element_factory_make(factory, nullptr);
    if (!element)
        return nullptr;
    gst_bin_add(bin, element);
    g_autoptr(GstPad) sinkPad = gst_element_get_static_pad(element, "sink");
    if (gst_pad_link(pad, sinkPad) != GST_PAD_LINK_OK) {
        gst_element_set_state(element, GST_STATE_NULL);
        gst_bin_remove(bin, element);
        return nullptr;
    }
    return element;
}

// Gives the decoder's first video stream a tail for what it carries, JPEG
// pictures or raw video, and links it; other streams (sound, more video)
// drain into sinks of their own so they never hold the pipeline up.
void onPadAdded(GstElement *decoder, GstPad *pad, gpointer data)
{
    auto *link = static_cast<TailLink *>(data);
    g_autoptr(GstCaps) caps = gst_pad_get_current_caps(pad);
    if (!caps)
        caps = gst_pad_query_caps(pad, nullptr);
    const gchar *type = caps && gst_caps_get_size(caps) > 0
                            ? gst_structure_get_name(gst_caps_get_structure(caps, 0))
                            : "";
    const bool jpeg = std::strcmp(type, "image/jpeg") == 0;
    g_autoptr(GstObject) bin = gst_element_get_parent(decoder);
    if (!bin)
        return;
    if ((jpeg || g_str_has_prefix(type, "video/")) && !link->taken.exchange(true)) {
        std::string reason;
        ElementPtr tail = parse(jpeg ? jpegSinkTail() : sinkTail(), true, reason);
        g_autoptr(GstElement) sink =
            tail ? gst_bin_get_by_name(GST_BIN(tail.get()), SinkName) : nullptr;
        if (sink) {
            setUpSink(sink, link->setup);
            gst_bin_add(GST_BIN(bin), GST_ELEMENT(gst_object_ref(tail.get())));
            g_autoptr(GstPad) tailPad = gst_element_get_static_pad(tail.get(), "sink");
            if (gst_pad_link(pad, tailPad) == GST_PAD_LINK_OK) {
                gst_element_sync_state_with_parent(tail.get());
                return;
            }
            gst_bin_remove(GST_BIN(bin), tail.get());
        }
    } else if (link->decodeOthers && !link->taken) {
        if (GstElement *next = linkNew(GST_BIN(bin), pad, "decodebin")) {
            decodeAddress(next, link->setup);
            gst_element_sync_state_with_parent(next);
            return;
        }
    }
    ElementPtr drain = adoptElement(gst_element_factory_make("fakesink", nullptr));
    if (!drain)
        return;
    g_object_set(drain.get(), "sync", FALSE, "async", FALSE, nullptr);
    gst_bin_add(GST_BIN(bin), GST_ELEMENT(gst_object_ref(drain.get())));
    gst_element_sync_state_with_parent(drain.get());
    g_autoptr(GstPad) drainPad = gst_element_get_static_pad(drain.get(), "sink");
    gst_pad_link(pad, drainPad);
}

// Tunes the network source the decoder picked for the address.
void onSourceSetup(GstElement *, GstElement *source, gpointer)
{
    GstElementFactory *factory = gst_element_get_factory(source);
    const gchar *name = factory ? GST_OBJECT_NAME(factory) : "";
    if (std::strcmp(name, "rtspsrc") == 0) {
        // UDP first; TCP when no packet arrives in time.
        g_object_set(source, "latency", RtspLatencyMs, "drop-on-latency", TRUE, "timeout",
                     RtspUdpTimeoutUs, nullptr);
    } else if (std::strcmp(name, "souphttpsrc") == 0) {
        // Reconnecting is done for the whole pipeline, where it is reported.
        g_object_set(source, "timeout", HttpTimeoutS, "retries", 0, nullptr);
        g_autofree gchar *location = nullptr;
        g_object_get(source, "location", &location, nullptr);
        g_autoptr(GstUri) uri = location ? gst_uri_from_string(location) : nullptr;
        const gchar *userinfo = uri ? gst_uri_get_userinfo(uri) : nullptr;
        if (userinfo) {
            g_auto(GStrv) parts = g_strsplit(userinfo, ":", 2);
            g_autofree gchar *user = g_uri_unescape_string(parts[0], nullptr);
            g_autofree gchar *password =
                parts[1] ? g_uri_unescape_string(parts[1], nullptr) : nullptr;
            g_object_set(source, "user-id", user, "user-pw", password, nullptr);
        }
    }
}

// A web camera's multipart stream never announces that no more streams
// follow, and the decoder waits for that before it plays: say so up front.
void onElementAdded(GstBin *, GstBin *, GstElement *element, gpointer)
{
    GstElementFactory *factory = gst_element_get_factory(element);
    if (factory && std::strcmp(GST_OBJECT_NAME(factory), "multipartdemux") == 0)
        g_object_set(element, "single-stream", TRUE, nullptr);
}

// What follows a web address's source once the type of its stream is
// known: a camera's multipart stream of pictures is split right there, on
// the source's own thread; anything else (a video file, a playlist) is
// buffered and decoded as any address is.
void onHaveType(GstElement *typefind, guint, GstCaps *caps, gpointer data)
{
    const auto *link = static_cast<const TailLink *>(data);
    g_autoptr(GstObject) bin = gst_element_get_parent(typefind);
    g_autoptr(GstPad) pad = gst_element_get_static_pad(typefind, "src");
    if (!bin || !pad || gst_pad_is_linked(pad))
        return;
    const bool multipart =
        gst_caps_get_size(caps) > 0 &&
        gst_structure_has_name(gst_caps_get_structure(caps, 0), "multipart/x-mixed-replace");
    if (multipart) {
        if (GstElement *demux = linkNew(GST_BIN(bin), pad, "multipartdemux")) {
            // Its stream never announces that no more streams follow.
            g_object_set(demux, "single-stream", TRUE, nullptr);
            auto *parts = new TailLink{link->setup};
            parts->decodeOthers = true;
            g_signal_connect_data(demux, "pad-added", G_CALLBACK(onPadAdded), parts, freeTailLink,
                                  GConnectFlags(0));
            gst_element_sync_state_with_parent(demux);
            return;
        }
    }
    GstElement *queue = linkNew(GST_BIN(bin), pad, "queue2");
    g_autoptr(GstPad) queued = queue ? gst_element_get_static_pad(queue, "src") : nullptr;
    GstElement *decoder = queued ? linkNew(GST_BIN(bin), queued, "decodebin") : nullptr;
    if (!decoder) {
        GST_ELEMENT_ERROR(typefind, CORE, MISSING_PLUGIN, ("no decoder for the stream"), (nullptr));
        return;
    }
    decodeAddress(decoder, link->setup);
    gst_element_sync_state_with_parent(decoder);
    gst_element_sync_state_with_parent(queue);
}

// A web address played without the generic address decoder, whose buffering
// queue and stream queue add two threads and their wake-ups to every
// picture; null when the elements this needs are missing.
ElementPtr makeWebInput(const CaptureSource &source, const SinkSetup &setup)
{
    // Null for anything but an http:// or https:// address.
    ElementPtr http = adoptElement(makeWebSource(source.description.c_str(), HttpTimeoutS));
    if (!http)
        return nullptr;
    for (const char *factory : {"multipartdemux", "typefind", "queue2", "decodebin"}) {
        g_autoptr(GstElementFactory) found = gst_element_factory_find(factory);
        if (!found)
            return nullptr;
    }
    ElementPtr typefind = adoptElement(gst_element_factory_make("typefind", nullptr));
    if (!typefind)
        return nullptr;
    ElementPtr bin = adoptElement(gst_bin_new(nullptr));
    gst_bin_add_many(GST_BIN(bin.get()), GST_ELEMENT(gst_object_ref(http.get())),
                     GST_ELEMENT(gst_object_ref(typefind.get())), nullptr);
    if (!gst_element_link(http.get(), typefind.get()))
        return nullptr;
    g_signal_connect_data(typefind.get(), "have-type", G_CALLBACK(onHaveType), new TailLink{setup},
                          freeTailLink, GConnectFlags(0));
    return bin;
}

// The element that frames come from: a camera, an address or the demo.
ElementPtr makeInput(CaptureSource &source, std::string &reason)
{
    ElementPtr input;
    if (source.kind == CaptureSource::Kind::Demo) {
        input = adoptElement(makeDemoSource());
    } else if (source.kind == CaptureSource::Kind::Uri) {
        input = adoptElement(gst_element_factory_make("uridecodebin", nullptr));
        if (input)
            g_object_set(input.get(), "uri", source.description.c_str(), nullptr);
        else
            reason = "no element \"uridecodebin\"" + packageHint(packageForElement("uridecodebin"));
    } else {
        // A camera unplugged and plugged in again, while open or since it
        // was listed, may sit under another node now.
        std::shared_ptr<GstDevice> device = findCamera(source);
        if (device)
            source.device = device;
        else
            device = source.device;
        if (device)
            input = adoptElement(gst_device_create_element(device.get(), nullptr));
        if (!input)
            reason = "the camera is not attached";
    }
    return input;
}

// The sink's properties, for every tail.
void setUpSink(GstElement *sink, const SinkSetup &setup)
{
    // sync keeps files and generated sources at their own frame rate.
    g_object_set(sink, "sync", TRUE, "max-buffers", 1u, "drop", TRUE, "enable-last-sample", FALSE,
                 nullptr);
    // Frames are read through their video meta, so a decoder may hand over
    // its own picture with whatever strides it has instead of copying it.
    g_autoptr(GstPad) sinkPad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(sinkPad, GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM, offerVideoMeta, nullptr,
                      nullptr);
    setup(GST_APP_SINK(sink));
}

// An address: the decoder stops at JPEG pictures as well as raw video, and
// the tail for what it finds is added once its stream appears.
void decodeAddress(GstElement *decoder, const SinkSetup &setup)
{
    g_autoptr(GstCaps) raw = nullptr;
    g_object_get(decoder, "caps", &raw, nullptr);
    GstCaps *caps = raw ? gst_caps_copy(raw) : gst_caps_new_empty();
    gst_caps_append(caps, gst_caps_new_empty_simple("image/jpeg"));
    g_object_set(decoder, "caps", caps, nullptr);
    gst_caps_unref(caps);
    g_signal_connect_data(decoder, "pad-added", G_CALLBACK(onPadAdded), new TailLink{setup},
                          freeTailLink, GConnectFlags(0));
    g_signal_connect(decoder, "deep-element-added", G_CALLBACK(onElementAdded), nullptr);
}

// The input followed by the converting tail, in a pipeline of their own.
ElementPtr assemble(CaptureSource &source, const SinkSetup &setup, std::string &reason)
{
    ElementPtr pipeline = adoptElement(gst_pipeline_new(nullptr));
    if (source.kind == CaptureSource::Kind::Uri) {
        if (ElementPtr web = makeWebInput(source, setup)) {
            gst_bin_add(GST_BIN(pipeline.get()), GST_ELEMENT(gst_object_ref(web.get())));
            return pipeline;
        }
    }
    ElementPtr input = makeInput(source, reason);
    if (!input)
        return nullptr;
    gst_bin_add(GST_BIN(pipeline.get()), GST_ELEMENT(gst_object_ref(input.get())));
    if (source.kind == CaptureSource::Kind::Uri) {
        decodeAddress(input.get(), setup);
        g_signal_connect(input.get(), "source-setup", G_CALLBACK(onSourceSetup), nullptr);
        return pipeline;
    }
    ElementPtr output = parse(sinkTail(), true, reason);
    if (!output)
        return nullptr;
    gst_bin_add(GST_BIN(pipeline.get()), GST_ELEMENT(gst_object_ref(output.get())));
    if (!gst_element_link(input.get(), output.get())) {
        reason = "the source gives no video the converter takes";
        return nullptr;
    }
    g_autoptr(GstElement) sink = gst_bin_get_by_name(GST_BIN(output.get()), SinkName);
    setUpSink(sink, setup);
    return pipeline;
}

} // namespace

ElementPtr buildCapturePipeline(CaptureSource &source, const SinkSetup &setup, std::string &reason)
{
    if (source.kind != CaptureSource::Kind::Description)
        return assemble(source, setup, reason);
    // Parsed as one text so elements with pads that appear later, such as
    // decoders, are linked once their pads exist.
    ElementPtr pipeline = parse(source.description + " ! " + sinkTail(), false, reason);
    if (pipeline && !GST_IS_PIPELINE(pipeline.get())) {
        reason = "the description is not a pipeline";
        return nullptr;
    }
    if (!pipeline)
        return nullptr;
    g_autoptr(GstElement) sink = gst_bin_get_by_name(GST_BIN(pipeline.get()), SinkName);
    if (!sink) {
        reason = "the description names an element \"" + std::string(SinkName) + "\"";
        return nullptr;
    }
    setUpSink(sink, setup);
    return pipeline;
}

std::string describeMissingPlugin(GstMessage *message)
{
    g_autofree gchar *description = gst_missing_plugin_message_get_description(message);
    std::string text = description ? description : "a plug-in";
    const GstStructure *s = gst_message_get_structure(message);
    const gchar *type = gst_structure_get_string(s, "type");
    std::string package;
    if (type && std::strcmp(type, "element") == 0) {
        if (const gchar *factory = gst_structure_get_string(s, "detail"))
            package = packageForElement(factory);
    } else if (type && std::strcmp(type, "decoder") == 0) {
        g_autoptr(GstCaps) caps = nullptr;
        gst_structure_get(s, "detail", GST_TYPE_CAPS, &caps, nullptr);
        if (caps && gst_caps_get_size(caps) > 0)
            package = packageForDecoder(gst_structure_get_name(gst_caps_get_structure(caps, 0)));
    }
    return text + packageHint(package);
}
