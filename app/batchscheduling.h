#ifndef ORVELLA_BATCHSCHEDULING_H
#define ORVELLA_BATCHSCHEDULING_H

// Runs the calling thread, and every thread it starts from then on, as
// batch work: on Linux under SCHED_BATCH, which keeps the threads' fair
// share of the processor but lets a thread that wakes wait for the running
// one to give way instead of preempting it. A frame's hand-off between the
// program's threads and the X server then wakes each of them once rather
// than in turns, and the user's own programs are never preempted by the
// watch. Elsewhere, or where the system refuses, nothing changes; true if
// set.
bool runAsBatchWork();

#endif
