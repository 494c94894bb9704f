// The reader lifecycle both device readers share: whatever way a start ends
// or a stop comes, the device and the event are closed once and the thread
// is gone.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <set>

#include "platform/reader_thread.h"

#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#include <sys/resource.h>
#define BRISK_CAN_LIMIT_ADDRESS_SPACE 1
#endif

namespace brisk {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A host with one device whose read blocks until cancelled; it counts what
// is open and every close of something not open.
class BlockingHost final : public HidHost {
  public:
    bool ListHidInterfaces(std::vector<HidInterface>&) override { return false; }
    bool ListDeviceNodes(const std::wstring&, std::vector<DevNode>&) override { return false; }
    bool ParentNode(DevNode, DevNode&) override { return false; }
    bool DeviceId(DevNode, std::wstring&) override { return false; }
    bool LocationPath(DevNode, std::wstring&) override { return false; }
    Handle Open(const std::wstring&) override { return Track(); }
    bool Attributes(Handle, HidAttributes&) override { return false; }
    bool SerialString(Handle, std::wstring&) override { return false; }
    bool SetFeature(Handle, const uint8_t*, size_t) override { return false; }
    Handle CreateReadEvent() override { return Track(); }
    ReadResult ReadTimed(Handle, Handle, uint8_t*, uint32_t, uint32_t) override {
        std::unique_lock<std::mutex> lock(mtx);
        reading = true;
        changed.notify_all();
        changed.wait(lock, [&] { return cancelled; });
        cancelled = false;
        reading = false;
        return {ReadOutcome::FailedAfterPending, 0, 995};
    }
    void CancelAll(Handle) override {
        std::lock_guard<std::mutex> lock(mtx);
        cancelled = true;
        changed.notify_all();
    }
    void Close(Handle h) override {
        std::lock_guard<std::mutex> lock(mtx);
        badCloses += open.erase(h) == 1 ? 0 : 1;
    }

    void WaitUntilReading() {
        std::unique_lock<std::mutex> lock(mtx);
        changed.wait(lock, [&] { return reading; });
    }
    size_t Open() {
        std::lock_guard<std::mutex> lock(mtx);
        return open.size();
    }
    int badCloses = 0;

  private:
    Handle Track() {
        std::lock_guard<std::mutex> lock(mtx);
        Handle h = reinterpret_cast<Handle>(static_cast<intptr_t>(++next));
        open.insert(h);
        return h;
    }
    std::mutex mtx;
    std::condition_variable changed;
    std::set<Handle> open;
    intptr_t next = 0;
    bool reading = false;
    bool cancelled = false;
};

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
    EXPECT_EQ(host.badCloses, 0);
}

TEST(ReaderThread, AnAbandonedStartClosesWhatItOpened) {
    BlockingHost host;
    ReaderThread reader(host);
    OpenBoth(host, reader);
    EXPECT_EQ(host.Open(), 2u);
    reader.Abandon();
    EXPECT_EQ(host.Open(), 0u);
    EXPECT_FALSE(reader.Running());
    EXPECT_EQ(host.badCloses, 0);
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
            std::_Exit(!started && host.Open() == 0 && host.badCloses == 0 ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
}  // namespace brisk
