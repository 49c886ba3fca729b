#ifndef ORVELLA_GSTPTR_H
#define ORVELLA_GSTPTR_H

#include <gst/gst.h>
#include <gst/video/video.h>

#include <memory>

// Owning pointers for GStreamer references kept in members and containers;
// locals use g_autoptr. Each releases its reference exactly once.
struct GstObjectUnref {
    void operator()(gpointer object) const { gst_object_unref(object); }
};
struct GstMiniObjectUnref {
    void operator()(gpointer object) const { gst_mini_object_unref(GST_MINI_OBJECT_CAST(object)); }
};

struct GstVideoConverterFree {
    void operator()(GstVideoConverter *converter) const { gst_video_converter_free(converter); }
};

using ElementPtr = std::unique_ptr<GstElement, GstObjectUnref>;
using BusPtr = std::unique_ptr<GstBus, GstObjectUnref>;
using SamplePtr = std::unique_ptr<GstSample, GstMiniObjectUnref>;
using BufferPtr = std::unique_ptr<GstBuffer, GstMiniObjectUnref>;
using CapsPtr = std::unique_ptr<GstCaps, GstMiniObjectUnref>;
using ConverterPtr = std::unique_ptr<GstVideoConverter, GstVideoConverterFree>;

// Takes over a reference that may be floating (as factories and parsers hand
// them out), so the owner plainly holds one reference.
inline ElementPtr adoptElement(GstElement *element)
{
    return ElementPtr(element ? GST_ELEMENT(gst_object_ref_sink(element)) : nullptr);
}

// Shares a device between the source list and the pipelines made from it.
inline std::shared_ptr<GstDevice> shareDevice(GstDevice *device)
{
    return std::shared_ptr<GstDevice>(GST_DEVICE(gst_object_ref(device)), GstObjectUnref());
}

#endif
