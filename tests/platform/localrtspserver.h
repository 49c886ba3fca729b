#ifndef ORVELLA_LOCALRTSPSERVER_H
#define ORVELLA_LOCALRTSPSERVER_H

#include <gst/rtsp-server/rtsp-server.h>

#include <mutex>
#include <string>
#include <thread>

// An RTSP camera on 127.0.0.1: serves the media that launch describes (a
// bin whose payloader is named pay0) at rtsp://127.0.0.1:<port()>/cam from a
// main loop on its own thread.
class LocalRtspServer
{
public:
    // tcpOnly: the server refuses UDP, as cameras behind some firewalls
    // appear to.
    explicit LocalRtspServer(const std::string &launch, bool tcpOnly = false)
        : m_context(g_main_context_new()), m_loop(g_main_loop_new(m_context, FALSE)),
          m_server(gst_rtsp_server_new())
    {
        gst_rtsp_server_set_address(m_server, "127.0.0.1");
        gst_rtsp_server_set_service(m_server, "0");
        GstRTSPMountPoints *mounts = gst_rtsp_server_get_mount_points(m_server);
        GstRTSPMediaFactory *factory = gst_rtsp_media_factory_new();
        gst_rtsp_media_factory_set_launch(factory, launch.c_str());
        gst_rtsp_media_factory_set_shared(factory, TRUE);
        if (tcpOnly)
            gst_rtsp_media_factory_set_protocols(factory, GST_RTSP_LOWER_TRANS_TCP);
        g_signal_connect(factory, "media-configure", G_CALLBACK(&LocalRtspServer::configured),
                         this);
        gst_rtsp_mount_points_add_factory(mounts, "/cam", factory);
        g_object_unref(mounts);
        m_source = gst_rtsp_server_attach(m_server, m_context);
        m_thread = std::thread([this] { g_main_loop_run(m_loop); });
    }
    ~LocalRtspServer()
    {
        g_main_loop_quit(m_loop);
        m_thread.join();
        if (GSource *source = g_main_context_find_source_by_id(m_context, m_source))
            g_source_destroy(source);
        g_object_unref(m_server);
        if (m_media)
            gst_object_unref(m_media);
        g_main_loop_unref(m_loop);
        g_main_context_unref(m_context);
    }
    LocalRtspServer(const LocalRtspServer &) = delete;
    LocalRtspServer &operator=(const LocalRtspServer &) = delete;

    bool listening() const { return m_source != 0; }
    int port() const { return gst_rtsp_server_get_bound_port(m_server); }
    std::string address() const { return "rtsp://127.0.0.1:" + std::to_string(port()) + "/cam"; }
    // The element of the media being served that launch names name, once a
    // client has asked for it; null before. The caller unrefs it.
    GstElement *element(const char *name)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_media ? gst_bin_get_by_name(GST_BIN(m_media), name) : nullptr;
    }

private:
    static void configured(GstRTSPMediaFactory *, GstRTSPMedia *media, gpointer self)
    {
        auto *server = static_cast<LocalRtspServer *>(self);
        std::lock_guard<std::mutex> lock(server->m_mutex);
        if (!server->m_media)
            server->m_media = gst_rtsp_media_get_element(media);
    }

    GMainContext *m_context;
    GMainLoop *m_loop;
    GstRTSPServer *m_server;
    guint m_source = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    GstElement *m_media = nullptr; // shared by every client
};

#endif
