// On Linux each thread has a nice value of its own (setpriority with its
// thread ID), so one thread can be raised without the rest of the process.
// Lowering a nice value needs CAP_SYS_NICE or room under RLIMIT_NICE; most
// users have neither, and the call then fails and changes nothing. A real-time
// policy is not tried: a reader that went wrong would take a whole core.
// Other POSIX systems give threads no nice value of their own: nothing to do.
#include "platform/thread_priority.h"

#ifdef __linux__
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#endif

namespace brisk {

void RaiseCurrentThreadPriority() {
#ifdef __linux__
    constexpr int kSteps = 5;  // about what Windows' HIGHEST is above normal
    constexpr int kHighest = -20;
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, tid);
    if (nice == -1 && errno != 0) {
        return;
    }
    setpriority(PRIO_PROCESS, tid, std::max(nice - kSteps, kHighest));
#endif
}

}  // namespace brisk
