#include "capturesources.h"

#include <algorithm>
#include <cstdlib>

namespace
{

std::string trimmed(const std::string &text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::string deviceProperty(GstDevice *device, const char *key)
{
    std::string value;
    if (GstStructure *props = gst_device_get_properties(device)) {
        if (const gchar *text = gst_structure_get_string(props, key))
            value = text;
        gst_structure_free(props);
    }
    return value;
}

std::string devicePath(GstDevice *device)
{
    std::string path = deviceProperty(device, "api.v4l2.path");
    return path.empty() ? deviceProperty(device, "device.path") : path;
}

std::vector<CaptureSource> listCameras()
{
    struct Camera {
        std::string path;
        CaptureSource source;
    };
    std::vector<Camera> cameras;

    GstDeviceMonitor *monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor, "Video/Source", nullptr);
    GList *devices = gst_device_monitor_get_devices(monitor);
    for (GList *item = devices; item; item = item->next) {
        auto *device = GST_DEVICE(item->data);
        Camera camera;
        camera.path = devicePath(device);
        camera.source.kind = CaptureSource::Kind::Device;
        gchar *name = gst_device_get_display_name(device);
        camera.source.name = name ? name : "";
        g_free(name);
        camera.source.device.reset(GST_DEVICE(gst_object_ref(device)), gst_object_unref);
        cameras.push_back(std::move(camera));
    }
    g_list_free_full(devices, gst_object_unref);
    gst_object_unref(monitor);

    std::stable_sort(cameras.begin(), cameras.end(),
                     [](const Camera &a, const Camera &b) { return a.path < b.path; });
    // Several device providers may report the same camera; keep the first.
    std::vector<CaptureSource> sources;
    std::string previousPath;
    for (Camera &camera : cameras) {
        if (!camera.path.empty() && camera.path == previousPath)
            continue;
        previousPath = camera.path;
        sources.push_back(std::move(camera.source));
    }
    return sources;
}

} // namespace

std::vector<CaptureSource> parseVirtualSources(const std::string &text)
{
    std::vector<CaptureSource> sources;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(';', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string entry = text.substr(start, end - start);
        start = end + 1;

        const std::size_t equals = entry.find('=');
        if (equals == std::string::npos)
            continue;
        CaptureSource source;
        source.name = trimmed(entry.substr(0, equals));
        source.description = trimmed(entry.substr(equals + 1));
        if (source.name.empty() || source.description.empty())
            continue;
        if (source.description == "demo")
            source.kind = CaptureSource::Kind::Demo;
        sources.push_back(std::move(source));
    }
    return sources;
}

std::vector<CaptureSource> listCaptureSources()
{
    std::vector<CaptureSource> sources = listCameras();
    if (const char *text = std::getenv(CaptureSourcesVariable)) {
        std::vector<CaptureSource> extra = parseVirtualSources(text);
        std::move(extra.begin(), extra.end(), std::back_inserter(sources));
    }
    return sources;
}
