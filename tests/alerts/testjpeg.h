#ifndef ORVELLA_TEST_TESTJPEG_H
#define ORVELLA_TEST_TESTJPEG_H

#include <QByteArray>
#include <QColor>
#include <QImage>

// A small one-colour picture as JPEG, a stand-in for an event's snapshot.
QByteArray testJpeg(const QColor &colour = Qt::darkCyan);

// image as JPEG bytes.
QByteArray jpegBytes(const QImage &image);

#endif
