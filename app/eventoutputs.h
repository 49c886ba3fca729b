#ifndef ORVELLA_EVENTOUTPUTS_H
#define ORVELLA_EVENTOUTPUTS_H

#include "alertevent.h"
#include "eventclips.h"
#include "eventrecord.h"
#include "eventtracker.h"

#include <QObject>
#include <QString>

class PushDispatcher;

// What an event leaves behind: the push messages, and once Record is on, in
// the output folder a JPEG snapshot of its highest tick, its record and,
// where clips are chosen, its clip. What an event goes to is decided when it
// starts.
//
// A clip records while its event is open and ends the post-roll after the
// event's last alerting tick, or when the event ends if that is later (the
// quiet gap is longer than the post-roll): one clip per event, never cut.
// An event that starts while the clip before it is in its post-roll joins
// that clip.
class EventOutputs : public QObject
{
    Q_OBJECT
public:
    struct Target {
        bool record = false; // Record is on and the output folder set
        QString folder;      // as the chooser left it, ending in a separator
        QString camera;
        bool clips = false; // a clip of the event from device
        int device = -1;
        int postrollMs = 0;
    };

    EventOutputs(PushDispatcher &push, EventClips &clips, QObject *parent = nullptr);

    void started(const WatchEvent &event, const Target &target);
    void updated(const WatchEvent &event);
    void ended(const WatchEvent &event);

    // The name the open event's files take in its folder, empty when it
    // leaves none.
    QString currentName() const { return recording ? name : QString(); }

signals:
    // Something the user should know of, for the status bar.
    void problem(const QString &text);
    // An event ended: what its record holds, and with Record on, was
    // written into its folder (folder is empty when it was not).
    void finished(const EventRecord &record);

private:
    AlertEvent notice(const WatchEvent &event) const;
    void startClip();
    void clipDone(const EventClipResult &result);

    PushDispatcher &push;
    EventClips &clips;
    Target target;
    bool recording = false;
    QString name;
    QString clipFile;     // the open event's clip, in target.folder
    QString lastClipPath; // the last clip started, which an event may join
};

#endif
