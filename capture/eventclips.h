#ifndef ORVELLA_EVENTCLIPS_H
#define ORVELLA_EVENTCLIPS_H

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

// What became of one clip, as the capture library reports it.
struct EventClipResult {
    int device = -1;
    QString path;
    bool written = false;
    int prerollMs = 0;
    int durationMs = 0;
    QString message; // why it failed or ended early; empty otherwise
};

// The capture library's event clips for the window: keeping the pre-roll
// of a device, starting and ending clips, and the reports of clips done,
// collected while any clip is outstanding. Does nothing where the library
// has no clips.
class EventClips : public QObject
{
    Q_OBJECT
public:
    enum class Start { Refused, Started, Joined };

    explicit EventClips(QObject *parent = nullptr);

    static bool available();

    // Keeps prerollMs (clamped to what the library takes) for device, or
    // turns clips off for it with -1. Calls the library only on a change.
    void keep(int device, int prerollMs);
    Start start(int device, const QString &path);
    bool stop(int device, int postrollMs);

    // Report intervals; for tests.
    void setPollInterval(int ms) { poll.setInterval(ms); }

signals:
    void finished(const EventClipResult &result);

private:
    void collect();

    QHash<int, int> kept;        // device -> pre-roll set in the library
    QHash<int, int> outstanding; // device -> clips started, not yet reported
    QTimer poll;
};

#endif
