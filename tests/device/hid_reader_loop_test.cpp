// The reader loop on a scripted device: what each way a read ends does to the
// silence count, when a device counts as lost, that it is closed before its
// line, the input queue asked for on every open, and a stop that comes while
// the device is being opened again. The devices themselves, on the virtual
// bus, are in device_readers_test.cpp.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/hid_reader_loop.h"
#include "scripted_host.h"
#include "support/output_capture.h"

namespace brisk {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Events = std::vector<std::string>;
using test::ScriptedHost;

constexpr ReadResult Report(uint32_t bytes) {
    return {ReadOutcome::Completed, bytes, 0};
}
constexpr ReadResult kSilent{ReadOutcome::TimedOut, 0, 0};
constexpr ReadResult FailedAtOnce(uint32_t error) {
    return {ReadOutcome::FailedAtOnce, 0, error};
}
constexpr ReadResult FailedAfterPending(uint32_t error) {
    return {ReadOutcome::FailedAfterPending, 0, error};
}

// Writes down every call of the loop, with whether the device was still open
// when a loss was announced.
class RecordingClient final : public HidReaderClient {
  public:
    explicit RecordingClient(ScriptedHost& host) : host(host) {}

    Handle Reopen(Handle) override {
        reopening = true;
        if (holdReopenUntilStop) {
            while (!stopAsked) {
                std::this_thread::sleep_for(1ms);
            }
            std::this_thread::sleep_for(200ms);  // Stop raises its flag meanwhile
        }
        return host.Open(L"device");
    }
    void OnReport(const uint8_t* report, size_t length, int64_t) override {
        Add("report " + std::to_string(length) + (length > 0 && report[0] == 0xA5 ? "" : " ?"));
    }
    void OnSilentRead(int silentReads) override { Add("silent " + std::to_string(silentReads)); }
    void OnLost(const DeviceLoss& loss) override {
        const char* cause = loss.cause == DeviceLoss::Cause::kSilent             ? "silent"
                            : loss.cause == DeviceLoss::Cause::kReadFailedAtOnce ? "at once"
                                                                                 : "pending";
        Add(std::string("lost ") + cause + " " +
            std::to_string(loss.cause == DeviceLoss::Cause::kSilent ? uint32_t(loss.silentReads)
                                                                    : loss.error) +
            (host.OpenDevices() == 0 ? ", closed" : ", STILL OPEN"));
    }
    void OnReopened() override { Add("reopened"); }

    Events Seen() {
        std::lock_guard<std::mutex> lock(mtx);
        return seen;
    }
    bool WaitFor(size_t count) {
        const Clock::time_point end = Clock::now() + 5s;
        while (Seen().size() < count) {
            if (Clock::now() > end) {
                return false;
            }
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    std::atomic<bool> reopening{false};
    std::atomic<bool> holdReopenUntilStop{false};
    std::atomic<bool> stopAsked{false};

  private:
    void Add(std::string event) {
        std::lock_guard<std::mutex> lock(mtx);
        seen.push_back(std::move(event));
    }
    ScriptedHost& host;
    std::mutex mtx;
    Events seen;
};

bool StartOn(ScriptedHost& host, HidReaderLoop& loop) {
    if (!loop.CreateReadEvent()) {
        return false;
    }
    loop.Device().Set(host.Open(L"device"));
    return loop.Start();
}

TEST(HidReaderLoop, EachWayAReadEndsAndWhatTheSilenceRuleMakesOfIt) {
    struct Case {
        const char* what;
        Silence silence;
        std::vector<ReadResult> script;
        Events expected;
    };
    const Case cases[] = {
        {"any report ends a silence; the third silent read in a row loses the device",
         Silence::kMeansGone,
         {kSilent, kSilent, Report(52), kSilent, kSilent, kSilent},
         {"silent 1", "silent 2", "report 52", "silent 1", "silent 2", "silent 3",
          "lost silent 3, closed"}},
        {"an empty report ends a silence too",
         Silence::kMeansGone,
         {kSilent, kSilent, Report(0), kSilent, kSilent},
         {"silent 1", "silent 2", "report 0 ?", "silent 1", "silent 2"}},
        {"where silence is normal it is only counted",
         Silence::kIsNormal,
         {kSilent, kSilent, kSilent, kSilent, kSilent},
         {"silent 1", "silent 2", "silent 3", "silent 4", "silent 5"}},
        {"a read that fails at once",
         Silence::kMeansGone,
         {Report(52), FailedAtOnce(5)},
         {"report 52", "lost at once 5, closed"}},
        {"a pending read that fails",
         Silence::kIsNormal,
         {kSilent, FailedAfterPending(1167)},
         {"silent 1", "lost pending 1167, closed"}},
        {"a backend claiming more than was asked for is held to the buffer",
         Silence::kMeansGone,
         {Report(200)},
         {"report 64"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedHost host;
        for (const ReadResult& read : c.script) {
            host.Script({read});
        }
        RecordingClient client(host);
        test::OutputCapture capture;
        {
            HidReaderLoop loop(host, "Test", c.silence, 64, client);
            ASSERT_TRUE(StartOn(host, loop));
            EXPECT_TRUE(client.WaitFor(c.expected.size()));
            if (host.OpenDevices() == 1) {
                host.WaitUntilReading();  // the script is used up: nothing more can come
            }
            // After a loss the loop waits 2 s before it opens again: a stop
            // then ends that wait at once.
            const Clock::time_point asked = Clock::now();
            loop.Stop();
            EXPECT_LT(Clock::now() - asked, 1s);
            EXPECT_FALSE(loop.Running());
        }
        EXPECT_EQ(client.Seen(), c.expected);
        EXPECT_FALSE(client.reopening);
        EXPECT_EQ(host.Open(), 0u);
        EXPECT_EQ(host.BadCloses(), 0);
        EXPECT_EQ(host.DepthRequests(), 1);
        EXPECT_EQ(capture.Err(), "");  // the OS granted the queue; the loop says nothing itself
    }
}

TEST(HidReaderLoop, AsksForTheDeepQueueOnEveryOpenAndSaysOnceAnOpenWhenRefused) {
    struct Case {
        const char* what;
        uint32_t deepest;
        std::string err;
    };
    const std::string refused = "Test: input queue of 512 reports refused, the OS keeps 32\n";
    const Case cases[] = {
        {"refused: the depth in force, once per open", 32, refused + refused},
        {"a depth that cannot be read back: the device left, its read says so", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedHost host;
        host.SetDeepestQueue(c.deepest);
        host.Script({FailedAtOnce(1167)});
        RecordingClient client(host);
        test::OutputCapture capture;
        HidReaderLoop loop(host, "Test", Silence::kMeansGone, 64, client);
        ASSERT_TRUE(StartOn(host, loop));
        ASSERT_TRUE(client.WaitFor(2));
        host.WaitUntilReading();
        loop.Stop();
        EXPECT_EQ(client.Seen(), (Events{"lost at once 1167, closed", "reopened"}));
        EXPECT_EQ(host.DepthRequests(), 2);
        EXPECT_EQ(capture.Err(), c.err);
        EXPECT_EQ(host.Open(), 0u);
        EXPECT_EQ(host.BadCloses(), 0);
    }
}

TEST(HidReaderLoop, AStopDuringTheReopenPrintsNothingAndClosesWhatWasOpened) {
    ScriptedHost host;
    host.Script({FailedAtOnce(1167)});
    RecordingClient client(host);
    client.holdReopenUntilStop = true;
    HidReaderLoop loop(host, "Test", Silence::kMeansGone, 64, client);
    ASSERT_TRUE(StartOn(host, loop));
    const Clock::time_point end = Clock::now() + 5s;
    while (!client.reopening && Clock::now() < end) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(client.reopening);
    client.stopAsked = true;
    loop.Stop();
    EXPECT_EQ(client.Seen(), (Events{"lost at once 1167, closed"}));
    EXPECT_EQ(host.DepthRequests(), 1);  // the first open's only
    EXPECT_EQ(host.Open(), 0u);
    EXPECT_EQ(host.BadCloses(), 0);
}

}  // namespace
}  // namespace brisk
