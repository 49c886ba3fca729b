#ifndef ORVELLA_DESKTOPTEST_H
#define ORVELLA_DESKTOPTEST_H

#include "fakeescapi.h"
#include "mainwindow.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

// Each test gets its own home folder and its own settings folder, so no
// remembered state leaks from one test into the next.
class DesktopFixture
{
public:
    DesktopFixture()
    {
        fakeEscapi_reset();
        qputenv("HOME", home.path().toLocal8Bit());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    }

    std::unique_ptr<MainWindow> makeWindow(int cameras)
    {
        fakeEscapi_setDeviceCount(cameras);
        std::unique_ptr<MainWindow> window(new MainWindow);
        // Every tick at or over the threshold alerts, as without the guards.
        window->applyAlertSettings(AlertSettings::off());
        return window;
    }

    QTemporaryDir home;
    QTemporaryDir config;
};

template <typename T> T *child(QObject &window, const char *name)
{
    T *widget = window.findChild<T *>(name);
    if (!widget)
        qFatal("no widget %s", name);
    return widget;
}

inline void queueUniformFrame(int device, unsigned int word)
{
    const std::vector<unsigned int> frame(480 * 320, word);
    fakeEscapi_queueFrame(device, frame.data(), int(frame.size()));
}

#endif
