#include "batchscheduling.h"

#include <QtGlobal>

#ifdef Q_OS_LINUX
#include <sched.h>
#endif

bool runAsBatchWork()
{
#ifdef Q_OS_LINUX
    // Linux applies the policy to the calling thread; threads inherit it.
    const sched_param param{};
    return sched_setscheduler(0, SCHED_BATCH, &param) == 0;
#else
    return false;
#endif
}
