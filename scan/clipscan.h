#ifndef ORVELLA_CLIPSCAN_H
#define ORVELLA_CLIPSCAN_H

#include "watchtick.h"

#include <QImage>
#include <QString>

class QTextStream;

// A scan of a clip or stream with the watch's own tick.
struct ScanRequest {
    QString source;        // a file path or an address
    bool realtime = false; // at the clip's own rate, not as fast as it decodes
    bool json = false;     // one JSON object a line
    bool ticks = false;    // a line for every tick as well
    WatchSettings settings;
    QImage ignoredArea; // Format_Grayscale8, nonzero where not counted; null for none
};

// Exit statuses of a scan.
const int scanDone = 0;
const int scanUnplayable = 2;

// Runs the ticks over the clip and writes a line for each event as it ends,
// then a summary, to out; problems go to err. Returns scanDone, or
// scanUnplayable when not one frame could be decoded.
int runScan(const ScanRequest &request, QTextStream &out, QTextStream &err);

// 83.4 s as "0:01:23.4".
QString clipTime(qint64 ms);

#endif
