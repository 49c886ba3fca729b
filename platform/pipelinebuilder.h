#ifndef ORVELLA_PIPELINEBUILDER_H
#define ORVELLA_PIPELINEBUILDER_H

#include "capturesources.h"
#include "gstptr.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <functional>
#include <string>

// Gives the appsink a built pipeline ends in its callbacks, once the sink
// exists.
using SinkSetup = std::function<void(GstAppSink *sink)>;

// Builds the pipeline that plays source into an appsink taking raw video in
// any format. A camera is looked up again first, so one that came back under
// another node is found; source.device then names it. Null, with the reason
// in reason, when no pipeline can be built.
ElementPtr buildCapturePipeline(CaptureSource &source, const SinkSetup &setup, std::string &reason);

// What a missing-plugin message asks for, with the Debian package that has
// it.
std::string describeMissingPlugin(GstMessage *message);

#endif
