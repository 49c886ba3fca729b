#ifndef ORVELLA_REQUESTLEAD_H
#define ORVELLA_REQUESTLEAD_H

// How long before each regular tick a frame is asked for. The library hands
// out the newest frame it has; one that was already waiting may have waited
// up to a tick, so the next request comes a step earlier. A frame that had
// to be waited for came fresh: the next request comes that much later, less
// a small margin, so it is made shortly before the next frame of a camera
// that sends one a tick. The lead stays below one tick, so requests keep
// the tick's rate.
class RequestLead
{
public:
    static const int stepMs = 10;
    static const int marginMs = 5;

    explicit RequestLead(int maxMs) : maxMs(maxMs) {}

    int ms() const { return lead; }
    void reset() { lead = 0; }

    // A frame came waitedMs after it was asked for; 0 when it was waiting.
    void frameTaken(int waitedMs);

private:
    int maxMs;
    int lead = 0;
};

#endif
