// The reader thread's raised priority: granted where the system permits it,
// and otherwise nothing changes and nothing is said.
#include <gtest/gtest.h>

#include <thread>

#include "platform/hid.h"
#include "platform/thread_priority.h"
#include "support/output_capture.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace brisk {
namespace {

TEST(ThreadPriority, RaisedWherePermittedAndSilentElsewhere) {
    test::OutputCapture capture;
    int before = 0;
    int after = 0;
    std::thread([&] {
#ifdef _WIN32
        before = GetThreadPriority(GetCurrentThread());
        RaiseCurrentThreadPriority();
        after = GetThreadPriority(GetCurrentThread());
#else
        const auto tid = static_cast<id_t>(syscall(SYS_gettid));
        before = getpriority(PRIO_PROCESS, tid);
        RaiseCurrentThreadPriority();
        after = getpriority(PRIO_PROCESS, tid);
#endif
    }).join();
#ifdef _WIN32
    EXPECT_EQ(before, THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(after, THREAD_PRIORITY_HIGHEST);
#else
    // Five steps up without CAP_SYS_NICE only where RLIMIT_NICE allows it.
    EXPECT_TRUE(after == before || after == (before - 5 < -20 ? -20 : before - 5))
        << before << " -> " << after;
#endif
    EXPECT_EQ(capture.Out(), "");
    EXPECT_EQ(capture.Err(), "");
}

TEST(PlatformHidHost, NoInputQueueForAHandleThatIsNoDevice) {
    uint32_t granted = 77;
    EXPECT_FALSE(PlatformHidHost().SetInputQueueDepth(kInvalidHandle, 512, granted));
    EXPECT_EQ(granted, 0u);
}

}  // namespace
}  // namespace brisk
