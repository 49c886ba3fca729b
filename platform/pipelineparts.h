#ifndef ORVELLA_PIPELINEPARTS_H
#define ORVELLA_PIPELINEPARTS_H

#include <gst/gst.h>

// Makes an element of factory and puts it into pipeline, which owns it;
// null when GStreamer has no such element.
inline GstElement *addElement(GstElement *pipeline, const char *factory)
{
    GstElement *element = gst_element_factory_make(factory, nullptr);
    if (element)
        gst_bin_add(GST_BIN(pipeline), element);
    return element;
}

#endif
