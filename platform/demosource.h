#ifndef ORVELLA_DEMOSOURCE_H
#define ORVELLA_DEMOSOURCE_H

#include <gst/gst.h>

// A video source element that plays the built-in demo scene endlessly at its
// own frame rate. Frames are drawn only when the pipeline asks for them.
GstElement *makeDemoSource();

#endif
