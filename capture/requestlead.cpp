#include "requestlead.h"

#include <algorithm>

void RequestLead::reset()
{
    lead = 0;
    settled = 0;
    searching = true;
}

void RequestLead::frameTaken(int waitedMs)
{
    if (waitedMs > 0) {
        lead = std::clamp(lead - waitedMs + marginMs, 0, maxMs);
        settled = lead;
        searching = true;
        return;
    }
    if (!searching)
        return;
    if (lead + stepMs <= maxMs) {
        lead += stepMs;
        return;
    }
    lead = settled;
    searching = false;
}
