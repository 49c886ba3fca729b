#include "requestlead.h"

#include <algorithm>

void RequestLead::frameTaken(int waitedMs)
{
    lead = waitedMs <= 0 ? std::min(lead + stepMs, maxMs)
                         : std::clamp(lead - waitedMs + marginMs, 0, maxMs);
}
