#include "demosource.h"

#include "demoscene.h"
#include "pixelformat.h"

#include <gst/app/gstappsrc.h>

#include <mutex>

namespace
{

// Built on the caller's thread and drawn on whichever streaming thread
// GStreamer picks; the mutex hands the scene from one to the other.
struct DemoFeed {
    std::mutex mutex;
    DemoScene scene;
    guint64 frame = 0;
};

void feedFrame(GstAppSrc *src, guint, gpointer data)
{
    auto *feed = static_cast<DemoFeed *>(data);
    std::lock_guard<std::mutex> lock(feed->mutex);
    const gsize size = gsize(DemoScene::Width) * DemoScene::Height * 4;
    GstBuffer *buffer = gst_buffer_new_allocate(nullptr, size, nullptr);
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
        const double t = double(feed->frame) / DemoScene::FramesPerSecond;
        feed->scene.render(t, reinterpret_cast<uint32_t *>(map.data));
        gst_buffer_unmap(buffer, &map);
    }
    GST_BUFFER_PTS(buffer) =
        gst_util_uint64_scale(feed->frame, GST_SECOND, DemoScene::FramesPerSecond);
    GST_BUFFER_DURATION(buffer) = GST_SECOND / DemoScene::FramesPerSecond;
    ++feed->frame;
    gst_app_src_push_buffer(src, buffer);
}

void freeFeed(gpointer data)
{
    delete static_cast<DemoFeed *>(data);
}

} // namespace

GstElement *makeDemoSource()
{
    GstElement *element = gst_element_factory_make("appsrc", nullptr);
    if (!element)
        return nullptr;
    g_autoptr(GstCaps) caps = gst_caps_new_simple(
        "video/x-raw", "format", G_TYPE_STRING, nativeArgbFormat(), "width", G_TYPE_INT,
        DemoScene::Width, "height", G_TYPE_INT, DemoScene::Height, "framerate", GST_TYPE_FRACTION,
        DemoScene::FramesPerSecond, 1, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
    // A small queue keeps drawing just ahead of playback instead of racing it.
    g_object_set(element, "caps", caps, "format", GST_FORMAT_TIME, "is-live", FALSE, "max-bytes",
                 guint64(1), nullptr);

    auto *feed = new DemoFeed;
    {
        std::lock_guard<std::mutex> publish(feed->mutex);
    }
    GstAppSrcCallbacks callbacks = {};
    callbacks.need_data = feedFrame;
    // The element owns the scene from here on and frees it with itself.
    gst_app_src_set_callbacks(GST_APP_SRC(element), &callbacks, feed, freeFeed);
    return element;
}
