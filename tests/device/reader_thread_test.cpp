// The reader lifecycle both device readers share: whatever way a start ends
// or a stop comes, the device and the event are closed once and the thread
// is gone.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>

#include "device/reader_thread.h"
#include "scripted_host.h"

#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#include <sys/resource.h>
#define BRISK_CAN_LIMIT_ADDRESS_SPACE 1
#endif

namespace brisk {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A device whose every read blocks until cancelled: a script of nothing.
using BlockingHost = test::ScriptedHost;

void OpenBoth(BlockingHost& host, ReaderThread& reader) {
    ASSERT_TRUE(reader.CreateReadEvent());
    reader.Device().Set(host.Open(L"device"));
}

TEST(ReaderThread, StopEndsABlockedReadAndAPauseAndClosesEverythingOnce) {
    BlockingHost host;
    {
        ReaderThread reader(host);
        OpenBoth(host, reader);
        std::atomic<bool> pauseEndedEarly{false};
        ASSERT_TRUE(reader.Start([&] {
            ReaderDevice& device = reader.Device();
            uint8_t buf[8];
            while (!reader.Stopping()) {
                host.ReadTimed(device.Get(), reader.ReadEvent(), buf, sizeof buf, 1000);
                pauseEndedEarly = !reader.Pause(60s);
            }
        }));
        host.WaitUntilReading();
        EXPECT_TRUE(reader.Running());
        const Clock::time_point asked = Clock::now();
        reader.Stop();
        EXPECT_LT(Clock::now() - asked, 2s);
        EXPECT_TRUE(pauseEndedEarly);
        EXPECT_FALSE(reader.Running());
        EXPECT_EQ(host.Open(), 0u);
        reader.Stop();  // again, and once more by the destructor
    }
    EXPECT_EQ(host.Open(), 0u);
    EXPECT_EQ(host.BadCloses(), 0);
}

TEST(ReaderThread, AnAbandonedStartClosesWhatItOpened) {
    BlockingHost host;
    ReaderThread reader(host);
    OpenBoth(host, reader);
    EXPECT_EQ(host.Open(), 2u);
    reader.Abandon();
    EXPECT_EQ(host.Open(), 0u);
    EXPECT_FALSE(reader.Running());
    EXPECT_EQ(host.BadCloses(), 0);
}

#ifdef BRISK_CAN_LIMIT_ADDRESS_SPACE
// With no room left for a thread's stack, Start says so and leaves nothing
// open. Run in a child process: the limit must not reach the other tests.
TEST(ReaderThreadDeathTest, NoThreadMeansNoStartAndNothingLeftOpen) {
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            BlockingHost host;
            ReaderThread reader(host);
            OpenBoth(host, reader);
            rlimit limit = {};
            getrlimit(RLIMIT_AS, &limit);
            limit.rlim_cur = 0;  // every new mapping fails from here on
            setrlimit(RLIMIT_AS, &limit);
            const bool started = reader.Start([] {});
            std::_Exit(!started && host.Open() == 0 && host.BadCloses() == 0 ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
}  // namespace brisk
