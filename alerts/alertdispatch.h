#ifndef ORVELLA_ALERTDISPATCH_H
#define ORVELLA_ALERTDISPATCH_H

#include <QString>

// What one comparing tick knows when it raises alerts, read from the window.
struct AlertRequest {
    int level = 0;     // 1000 * dissimilarity, truncated
    int threshold = 0; // the threshold slider
    bool playSound = false;
    QString soundPath;
    bool sendEmail = false;
    QString emailAddress; // as typed; trimmed here
};

// Where alerts go: the window plays the sound and hands the relay path to its
// HTTP client; tests count the calls.
class AlertActions
{
public:
    virtual ~AlertActions() = default;
    virtual void playSound(const QString &path) = 0;
    virtual void requestRelay(const QString &pathAndQuery) = 0;
};

// The request path for the e-mail relay, the address percent-encoded.
QString relayRequestPath(const QString &address);

// At or over the threshold: plays the sound when chosen and asks the relay to
// mail the address when it is valid. Below it, does nothing.
void dispatchAlerts(const AlertRequest &request, AlertActions &actions);

#endif
