#ifndef ORVELLA_CAPTURESOURCES_H
#define ORVELLA_CAPTURESOURCES_H

#include <gst/gst.h>

#include <memory>
#include <string>
#include <vector>

// One thing frames can be taken from: a camera GStreamer found, a pipeline
// description given by the user, or the built-in demo scene.
struct CaptureSource {
    enum class Kind { Device, Description, Demo };

    Kind kind = Kind::Description;
    std::string name; // UTF-8
    std::string description;
    std::shared_ptr<GstDevice> device;
};

// Environment variable naming extra sources: "Name=description;Name=demo;..."
constexpr const char *CaptureSourcesVariable = "ORVELLA_CAPTURE_SOURCES";

// Parses the extra sources in the order given, skipping malformed entries.
std::vector<CaptureSource> parseVirtualSources(const std::string &text);

// Attached cameras ordered by device path, followed by the extra sources
// named in the environment.
std::vector<CaptureSource> listCaptureSources();

#endif
