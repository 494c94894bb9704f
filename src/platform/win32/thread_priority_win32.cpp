// HIGHEST (two steps above normal) rather than TIME_CRITICAL: it already puts
// the reader ahead of every normal-priority thread of the machine, which is
// what the busy-machine case competes with. TIME_CRITICAL (15) would also
// rank it beside the system's own real-time-like work (audio, input), for no
// gain to a thread that wakes for a report and sleeps again.
#include <windows.h>

#include "platform/thread_priority.h"

namespace brisk {

void RaiseCurrentThreadPriority() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
}

}  // namespace brisk
