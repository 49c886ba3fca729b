#ifndef ORVELLA_EVENTOUTPUTS_H
#define ORVELLA_EVENTOUTPUTS_H

#include "alertevent.h"
#include "eventrecord.h"
#include "eventtracker.h"

#include <QObject>
#include <QString>

class PushDispatcher;

// What an event leaves behind once Record is on: the push messages, and in
// the output folder a JPEG snapshot of its highest tick and its record. What
// an event goes to is decided when it starts.
class EventOutputs : public QObject
{
    Q_OBJECT
public:
    struct Target {
        bool record = false; // Record is on and the output folder set
        QString folder;      // as the chooser left it, ending in a separator
        QString camera;
    };

    explicit EventOutputs(PushDispatcher &push, QObject *parent = nullptr);

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

    PushDispatcher &push;
    Target target;
    bool recording = false;
    QString name;
};

#endif
