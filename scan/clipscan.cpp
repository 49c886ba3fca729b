#include "clipscan.h"

#include "clipdecoder.h"
#include "framecomparison.h"
#include "ticksampler.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace
{

const qint64 tickIntervalMs = 100;
// A clip whose last frame comes this much before its stated end was cut.
const qint64 cutShortMs = 1000;

double seconds(qint64 ms)
{
    return double(ms) / 1000.0;
}

QString jsonLine(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

class ScanReport
{
public:
    ScanReport(const ScanRequest &request, QTextStream &out) : request(request), out(out) {}

    void tick(const TickResult &result, quint64 number)
    {
        ++ticks;
        lightingChanges += result.lightingChange ? 1 : 0;
        alertingTicks += result.alerting ? 1 : 0;
        if (!request.ticks)
            return;
        QStringList flags;
        const struct {
            bool set;
            const char *name;
        } all[] = {{result.alerting, "alerting"},
                   {result.waiting, "waiting"},
                   {result.lightingChange, "lighting"},
                   {result.glitch, "glitch"},
                   {result.frozen, "frozen"}};
        for (const auto &flag : all)
            if (flag.set)
                flags << flag.name;
        if (request.json) {
            QJsonObject line{{"tick", qint64(number)},
                             {"time", seconds(result.timeMs)},
                             {"compared", result.compared},
                             {"level", result.level},
                             {"dissimilarity", result.dissimilarity}};
            for (const auto &flag : all)
                line.insert(flag.name, flag.set);
            out << jsonLine(line) << "\n";
        } else {
            out << "tick " << number << " " << clipTime(result.timeMs) << " level " << result.level
                << (flags.isEmpty() ? "" : " ") << flags.join(' ') << "\n";
        }
        out.flush();
    }

    void event(const WatchEvent &event)
    {
        ++events;
        if (request.json) {
            out << jsonLine(QJsonObject{{"event", event.number},
                                        {"start", seconds(event.startMs)},
                                        {"end", seconds(event.endMs)},
                                        {"peakLevel", event.peakLevel},
                                        {"peakTime", seconds(event.peakMs)}})
                << "\n";
        } else {
            out << "event " << event.number << ": " << clipTime(event.startMs) << " to "
                << clipTime(event.endMs) << ", peak level " << event.peakLevel << " at "
                << clipTime(event.peakMs) << "\n";
        }
        out.flush();
    }

    void summary(qint64 durationMs, const QString &problem)
    {
        if (request.json) {
            QJsonObject line{{"summary", true},
                             {"events", events},
                             {"duration", seconds(durationMs)},
                             {"ticks", ticks},
                             {"alertingTicks", alertingTicks},
                             {"lightingChangesIgnored", lightingChanges}};
            if (!problem.isEmpty())
                line.insert("stoppedEarly", problem);
            out << jsonLine(line) << "\n";
        } else {
            out << events << (events == 1 ? " event" : " events") << " in " << clipTime(durationMs)
                << " (" << ticks << " ticks, " << alertingTicks << " alerting; " << lightingChanges
                << " lighting changes ignored)\n";
        }
        out.flush();
    }

private:
    const ScanRequest &request;
    QTextStream &out;
    qint64 ticks = 0;
    qint64 alertingTicks = 0;
    qint64 lightingChanges = 0;
    int events = 0;
};

} // namespace

QString clipTime(qint64 ms)
{
    const qint64 tenths = ms / 100;
    return QString("%1:%2:%3.%4")
        .arg(tenths / 36000)
        .arg(tenths / 600 % 60, 2, 10, QChar('0'))
        .arg(tenths / 10 % 60, 2, 10, QChar('0'))
        .arg(tenths % 10);
}

int runScan(const ScanRequest &request, QTextStream &out, QTextStream &err)
{
    ClipDecoder decoder;
    if (!decoder.open(request.source, request.realtime)) {
        err << "orvella: " << request.source << " cannot be played: " << decoder.error() << "\n";
        return scanUnplayable;
    }

    ScanReport report(request, out);
    WatchTick tick;
    tick.restart();
    tick.setIgnoredArea(request.ignoredArea);
    quint64 number = 0;
    qint64 lastTickMs = 0;
    TickSampler sampler(
        [&](const QImage &frame, qint64 tickMs) {
            const TickResult result = tick.process(frame, request.settings, tickMs);
            if (result.eventEnded)
                report.event(tick.events().lastEnded());
            report.tick(result, ++number);
            lastTickMs = tickMs;
        },
        tickIntervalMs);

    QImage frame;
    qint64 frameMs = 0;
    qint64 frames = 0;
    while (decoder.next(&frame, &frameMs)) {
        sampler.add(frame, frameMs);
        ++frames;
    }
    sampler.finish();
    if (frames == 0) {
        err << "orvella: " << request.source << " cannot be played: " << decoder.error() << "\n";
        return scanUnplayable;
    }
    if (tick.finishEvent())
        report.event(tick.events().lastEnded());

    // A file cut short may just end, with no error: its stated length tells.
    QString problem = decoder.error();
    const qint64 stated = decoder.statedDurationMs();
    if (problem.isEmpty() && stated > frameMs + cutShortMs)
        problem = "the file ends before its stated length of " + clipTime(stated) +
                  "; it may be cut short";
    if (!problem.isEmpty())
        err << "orvella: " << request.source << " stopped playing at " << clipTime(frameMs) << ": "
            << problem << "\n";
    report.summary(lastTickMs + tickIntervalMs, problem);
    return scanDone;
}
