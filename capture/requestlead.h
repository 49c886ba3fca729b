#ifndef ORVELLA_REQUESTLEAD_H
#define ORVELLA_REQUESTLEAD_H

// How long before each regular tick a frame is asked for. The library hands
// out the newest frame it has. One that had to be waited for came fresh: the
// next request comes that much later, less a small margin, so it is made
// shortly before the next frame of a camera that sends one a tick. One that
// was already waiting may have waited up to a tick: the next request comes a
// step earlier, to find where the frames arrive. When a whole tick's worth of
// steps finds a frame waiting every time, the camera sends more often than
// the ticks come and no place is better than another: the lead goes back to
// where it was and stays until a frame has to be waited for again. The lead
// stays below one tick, so requests keep the tick's rate.
class RequestLead
{
public:
    static const int stepMs = 10;
    static const int marginMs = 5;

    explicit RequestLead(int maxMs) : maxMs(maxMs) {}

    int ms() const { return lead; }
    void reset();

    // A frame came waitedMs after it was asked for; 0 when it was waiting.
    void frameTaken(int waitedMs);

private:
    int maxMs;
    int lead = 0;
    int settled = 0; // the lead of the last fresh frame
    bool searching = true;
};

#endif
