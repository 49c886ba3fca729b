#include "pipelinebuilder.h"

#include "debianpackage.h"
#include "demosource.h"

#include <gst/pbutils/missing-plugins.h>
#include <gst/video/video.h>

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

// Links the decoder's first video stream to the converting tail; other
// streams (sound, more video) drain into sinks of their own so they never
// hold the pipeline up.
void onPadAdded(GstElement *decoder, GstPad *pad, gpointer tail)
{
    g_autoptr(GstCaps) caps = gst_pad_get_current_caps(pad);
    if (!caps)
        caps = gst_pad_query_caps(pad, nullptr);
    const bool video =
        caps && gst_caps_get_size(caps) > 0 &&
        g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "video/");
    if (video) {
        g_autoptr(GstPad) sink = gst_element_get_static_pad(GST_ELEMENT(tail), "sink");
        if (sink && !gst_pad_is_linked(sink) && gst_pad_link(pad, sink) == GST_PAD_LINK_OK)
            return;
    }
    g_autoptr(GstObject) bin = gst_element_get_parent(decoder);
    ElementPtr drain = adoptElement(gst_element_factory_make("fakesink", nullptr));
    if (!bin || !drain)
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

// The input followed by the converting tail, in a pipeline of their own.
ElementPtr assemble(CaptureSource &source, std::string &reason)
{
    ElementPtr input = makeInput(source, reason);
    ElementPtr output = parse(sinkTail(), true, reason);
    if (!input || !output)
        return nullptr;
    ElementPtr pipeline = adoptElement(gst_pipeline_new(nullptr));
    gst_bin_add_many(GST_BIN(pipeline.get()), GST_ELEMENT(gst_object_ref(input.get())),
                     GST_ELEMENT(gst_object_ref(output.get())), nullptr);
    if (source.kind == CaptureSource::Kind::Uri) {
        g_signal_connect(input.get(), "pad-added", G_CALLBACK(onPadAdded), output.get());
        g_signal_connect(input.get(), "source-setup", G_CALLBACK(onSourceSetup), nullptr);
        g_signal_connect(input.get(), "deep-element-added", G_CALLBACK(onElementAdded), nullptr);
    } else if (!gst_element_link(input.get(), output.get())) {
        reason = "the source gives no video the converter takes";
        return nullptr;
    }
    return pipeline;
}

} // namespace

ElementPtr buildCapturePipeline(CaptureSource &source, const SinkSetup &setup, std::string &reason)
{
    ElementPtr pipeline;
    if (source.kind == CaptureSource::Kind::Description) {
        // Parsed as one text so elements with pads that appear later, such as
        // decoders, are linked once their pads exist.
        pipeline = parse(source.description + " ! " + sinkTail(), false, reason);
        if (pipeline && !GST_IS_PIPELINE(pipeline.get())) {
            reason = "the description is not a pipeline";
            pipeline.reset();
        }
    } else {
        pipeline = assemble(source, reason);
    }
    if (!pipeline)
        return nullptr;

    g_autoptr(GstElement) sink = gst_bin_get_by_name(GST_BIN(pipeline.get()), SinkName);
    if (!sink) {
        reason = "the description names an element \"" + std::string(SinkName) + "\"";
        return nullptr;
    }
    // sync keeps files and generated sources at their own frame rate.
    g_object_set(sink, "sync", TRUE, "max-buffers", 1u, "drop", TRUE, "enable-last-sample", FALSE,
                 nullptr);
    // Frames are read through their video meta, so a decoder may hand over
    // its own picture with whatever strides it has instead of copying it.
    g_autoptr(GstPad) sinkPad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(sinkPad, GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM, offerVideoMeta, nullptr,
                      nullptr);
    setup(GST_APP_SINK(sink));
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
