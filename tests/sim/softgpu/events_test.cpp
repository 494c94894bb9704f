#include <chrono>
#include <thread>

#include "sim/softgpu/softgpu_fixture.h"

namespace brisk::softgpu::test {
namespace {

using Events = LeakCheck;
using Clock = std::chrono::steady_clock;

TEST_F(Events, AutoResetEventReleasesOneWaitThenResets) {
    HANDLE e = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(e));
}

TEST_F(Events, ManualResetEventStaysSignalledUntilReset) {
    HANDLE e = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(e));
}

TEST_F(Events, TimedWaitLastsAtLeastItsTimeout) {
    HANDLE e = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    const auto start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(e, 60), WAIT_TIMEOUT);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(60));
    EXPECT_TRUE(CloseHandle(e));
}

TEST_F(Events, SignalFromAnotherThreadWakesTheWaiter) {
    HANDLE e = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::thread signaller([e] {
        Sleep(30);
        SetEvent(e);
    });
    EXPECT_EQ(WaitForSingleObject(e, 20000), WAIT_OBJECT_0);
    signaller.join();
    EXPECT_TRUE(CloseHandle(e));
}

TEST_F(Events, ClosedUnknownAndNonEventHandlesFail) {
    HANDLE e = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    EXPECT_TRUE(CloseHandle(e));
    EXPECT_FALSE(CloseHandle(e));
    EXPECT_FALSE(SetEvent(e));
    EXPECT_FALSE(ResetEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    HANDLE surface = CreateSharedSurface(4, 4, DXGI_FORMAT_R8G8B8A8_TYPELESS);
    EXPECT_EQ(WaitForSingleObject(surface, 0), WAIT_FAILED);
    EXPECT_FALSE(SetEvent(surface));
    EXPECT_TRUE(CloseHandle(surface));
}

TEST(EventHandles, ADifferentEventNeverGetsAClosedHandle) {
    HANDLE first = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(first);
    HANDLE second = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    EXPECT_NE(first, second);
    CloseHandle(second);
}

}  // namespace
}  // namespace brisk::softgpu::test
