#include "capturesources.h"

#include "cameraentries.h"
#include "capturereport.h"
#include "gstptr.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace
{

std::string deviceProperty(GstDevice *device, const char *key)
{
    g_autoptr(GstStructure) props = gst_device_get_properties(device);
    const gchar *text = props ? gst_structure_get_string(props, key) : nullptr;
    return text ? text : "";
}

std::string firstProperty(GstDevice *device, std::initializer_list<const char *> keys)
{
    for (const char *key : keys) {
        std::string value = deviceProperty(device, key);
        if (!value.empty())
            return value;
    }
    return {};
}

bool startsWithNoCase(const std::string &text, const char *prefix)
{
    for (std::size_t i = 0; prefix[i]; ++i)
        if (i >= text.size() || g_ascii_tolower(text[i]) != prefix[i])
            return false;
    return true;
}

void addEntries(std::vector<CaptureSource> &sources, const std::string &text, char separator,
                const std::string &where, const char *unit)
{
    const CameraEntries parsed = parseCameraEntries(text, separator);
    for (const BadCameraEntry &bad : parsed.bad)
        reportLineOnce(where + " " + unit + " " + std::to_string(bad.number) + " skipped, " +
                       bad.problem + ": " + bad.text);
    for (const CameraEntry &entry : parsed.entries)
        sources.push_back(userSource(entry.name, entry.description));
}

} // namespace

bool CaptureSource::sameAs(const CaptureSource &other) const
{
    if (kind != other.kind || name != other.name)
        return false;
    if (kind == Kind::Device)
        return busPath.empty() && other.busPath.empty() ? description == other.description
                                                        : busPath == other.busPath;
    return description == other.description;
}

bool CaptureSource::loops() const
{
    return kind == Kind::Description ||
           (kind == Kind::Uri && startsWithNoCase(description, "file:"));
}

CaptureSource userSource(const std::string &name, const std::string &description)
{
    CaptureSource source;
    source.name = name;
    source.description = description;
    if (description == "demo")
        source.kind = CaptureSource::Kind::Demo;
    else if (startsWithNoCase(description, "rtsp://") ||
             startsWithNoCase(description, "rtsps://") ||
             startsWithNoCase(description, "http://") ||
             startsWithNoCase(description, "https://") || startsWithNoCase(description, "file://"))
        source.kind = CaptureSource::Kind::Uri;
    return source;
}

std::string camerasFilePath()
{
    const char *config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config && config[0] == '/') {
        base = config;
    } else {
        const char *home = std::getenv("HOME");
        base = std::string(home ? home : "") + "/.config";
    }
    return base + "/orvella/cameras";
}

std::vector<CaptureSource> listCameras()
{
    std::vector<CaptureSource> cameras;
    g_autoptr(GstDeviceMonitor) monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor, "Video/Source", nullptr);
    g_autolist(GstDevice) devices = gst_device_monitor_get_devices(monitor);
    for (GList *item = devices; item; item = item->next) {
        auto *device = GST_DEVICE(item->data);
        CaptureSource camera;
        camera.kind = CaptureSource::Kind::Device;
        g_autofree gchar *name = gst_device_get_display_name(device);
        camera.name = name ? name : "";
        camera.description = firstProperty(device, {"api.v4l2.path", "device.path"});
        camera.busPath = firstProperty(device, {"device.bus_path", "v4l2.device.bus_info",
                                                "api.v4l2.cap.bus_info", "device.bus-path"});
        camera.device = shareDevice(device);
        cameras.push_back(std::move(camera));
    }

    std::stable_sort(cameras.begin(), cameras.end(),
                     [](const CaptureSource &a, const CaptureSource &b) {
                         return a.description < b.description;
                     });
    // Several device providers may report the same camera; keep the first.
    std::vector<CaptureSource> unique;
    for (CaptureSource &camera : cameras) {
        if (!unique.empty() && !camera.description.empty() &&
            camera.description == unique.back().description)
            continue;
        unique.push_back(std::move(camera));
    }
    return unique;
}

std::shared_ptr<GstDevice> findCamera(const CaptureSource &source)
{
    for (const CaptureSource &camera : listCameras())
        if (camera.sameAs(source))
            return camera.device;
    return nullptr;
}

std::vector<CaptureSource> listCaptureSources()
{
    std::vector<CaptureSource> sources = listCameras();
    const std::string path = camerasFilePath();
    std::ifstream file(path);
    if (file) {
        std::ostringstream text;
        text << file.rdbuf();
        addEntries(sources, text.str(), '\n', path, "line");
    }
    if (const char *text = std::getenv(CaptureSourcesVariable))
        addEntries(sources, text, ';', CaptureSourcesVariable, "entry");
    return sources;
}

void mergeSources(std::vector<CaptureSource> &list, std::vector<CaptureSource> found)
{
    for (CaptureSource &source : found) {
        const auto known = std::find_if(list.begin(), list.end(),
                                        [&](const CaptureSource &s) { return s.sameAs(source); });
        if (known == list.end()) {
            list.push_back(std::move(source));
        } else if (source.kind == CaptureSource::Kind::Device) {
            known->device = source.device;
            known->description = source.description;
        }
    }
}
