#ifndef ORVELLA_CAPTURESOURCES_H
#define ORVELLA_CAPTURESOURCES_H

#include <gst/gst.h>

#include <memory>
#include <string>
#include <vector>

// One thing frames can be taken from: a camera GStreamer found, a pipeline
// description or an address given by the user, or the built-in demo scene.
struct CaptureSource {
    enum class Kind { Device, Description, Uri, Demo };

    Kind kind = Kind::Description;
    std::string name; // UTF-8
    // Descriptions and addresses: as given. Devices: the node they had when
    // last seen, such as /dev/video0.
    std::string description;
    // Devices: where the camera hangs on its bus, which stays the same when
    // it comes back under another node.
    std::string busPath;
    std::shared_ptr<GstDevice> device;

    // The same camera or the same user entry, whatever node it has now.
    bool sameAs(const CaptureSource &other) const;
    // Whether the source is a file, played again from the start at its end.
    bool loops() const;
};

// Environment variable naming extra sources: "Name=description;Name=demo;..."
constexpr const char *CaptureSourcesVariable = "ORVELLA_CAPTURE_SOURCES";

// Makes a source of a user's entry: "demo", an address (rtsp://, http://,
// https://, file://) or a GStreamer pipeline description.
CaptureSource userSource(const std::string &name, const std::string &description);

// The cameras file: $XDG_CONFIG_HOME/orvella/cameras, or
// ~/.config/orvella/cameras.
std::string camerasFilePath();

// Attached cameras ordered by device node.
std::vector<CaptureSource> listCameras();

// The camera that is the same as source, now attached, or null.
std::shared_ptr<GstDevice> findCamera(const CaptureSource &source);

// Attached cameras, then the entries of the cameras file, then those of the
// environment variable. Bad entries are reported on stderr, once each.
std::vector<CaptureSource> listCaptureSources();

// Adds the sources of found that list lacks at its end, and refreshes the
// devices of those it has. Nothing already in list moves or goes away, so
// an index keeps meaning the same source.
void mergeSources(std::vector<CaptureSource> &list, std::vector<CaptureSource> found);

#endif
