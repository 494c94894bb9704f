// Reads, feature reports, cancels and unplugs on the virtual bus.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "sim/scripted_interface.h"
#include "sim/usb_bus.h"

namespace brisk::sim {
namespace {

using test::MakeReport;
using test::ScriptedInterface;
using namespace std::chrono_literals;

constexpr uint32_t kLong = 20000;  // ms; a read that must be ended by something else

bool WaitUntil(const std::function<bool()>& done) {
    auto give_up = Clock::now() + 10s;
    while (!done()) {
        if (Clock::now() > give_up) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class UsbBusRead : public ::testing::Test {
  protected:
    void SetUp() override {
        UsbDeviceDesc d;
        d.vendorId = 0x35BD;
        d.productId = 0x0101;
        d.port = {L"0000:00:14.0", {3, 1}};
        d.interfaces = {model, nullptr};
        device = bus.Attach(d);
        std::vector<HidDeviceInfo> found;
        bus.ListHidDevices(found);
        path = found[0].path;
        nullPath = found[1].path;
        event = bus.CreateReadEvent();
    }
    void TearDown() override {
        bus.Close(event);
        EXPECT_EQ(bus.OpenHandles(), 0u);
        EXPECT_EQ(bus.OpenEvents(), 0u);
        EXPECT_EQ(bus.BadCloses(), 0u);
    }
    ReadResult Read(Handle h, uint32_t timeoutMs, uint32_t length = 65) {
        buf.fill(0xEE);
        return bus.ReadTimed(h, event, buf.data(), length, timeoutMs);
    }
    // Starts a read on another thread and returns once it is surely pending:
    // the read has asked the model (under the bus lock) and the bus lock has
    // been free since, which it is only while the reader sleeps.
    std::future<ReadResult> PendingRead(Handle h) {
        int calls = model->ProduceCalls();
        auto f = std::async(std::launch::async, [this, h] {
            std::array<uint8_t, 65> mine{};
            return bus.ReadTimed(h, event, mine.data(), 65, kLong);
        });
        EXPECT_TRUE(WaitUntil([&] { return model->ProduceCalls() > calls; }));
        bus.OpenHandles();  // takes the bus lock: the reader is asleep now
        return f;
    }

    std::shared_ptr<ScriptedInterface> model = std::make_shared<ScriptedInterface>();
    UsbBus bus;
    UsbDeviceId device = 0;
    std::wstring path;
    std::wstring nullPath;
    Handle event = nullptr;
    std::array<uint8_t, 65> buf{};
};

TEST_F(UsbBusRead, QueuedReportsAreReadInOrderAndCutToTheBuffer) {
    Handle h = bus.Open(path);
    model->Send(MakeReport({0x00, 0x24}));
    model->Send(MakeReport({0x00, 0x23, 0x01, 0x02, 0x03}));
    ReadResult r = Read(h, 0);
    ASSERT_EQ(r.outcome, ReadOutcome::Completed);
    EXPECT_EQ(r.bytes, 2u);
    EXPECT_EQ(buf[1], 0x24);
    EXPECT_EQ(buf[2], 0xEE);
    r = Read(h, 0, 3);
    ASSERT_EQ(r.outcome, ReadOutcome::Completed);
    EXPECT_EQ(r.bytes, 3u);
    EXPECT_EQ(buf[2], 0x01);
    EXPECT_EQ(buf[3], 0xEE);
    EXPECT_EQ(Read(h, 0).outcome, ReadOutcome::TimedOut);
    bus.Close(h);
}

TEST_F(UsbBusRead, AFullQueueDropsItsOldestReports) {
    Handle h = bus.Open(path);
    for (uint8_t i = 0; i < 40; ++i) {
        model->Send(MakeReport({0x00, i}));
    }
    for (uint8_t i = 8; i < 40; ++i) {
        ReadResult r = Read(h, 0);
        ASSERT_EQ(r.outcome, ReadOutcome::Completed);
        EXPECT_EQ(buf[1], i);
    }
    EXPECT_EQ(Read(h, 0).outcome, ReadOutcome::TimedOut);
    bus.Close(h);
}

// As Windows: 32 until asked, 2 to 512 granted, the queued reports kept.
TEST_F(UsbBusRead, ADeeperQueueIsGrantedInRangeAndKeepsWhatIsQueued) {
    Handle h = bus.Open(path);
    uint32_t granted = 0;
    EXPECT_FALSE(bus.SetInputQueueDepth(h, 1, granted));
    EXPECT_EQ(granted, 32u);
    EXPECT_FALSE(bus.SetInputQueueDepth(h, 513, granted));
    EXPECT_EQ(granted, 32u);
    EXPECT_EQ(bus.InputQueueDepths(), std::vector<uint32_t>{32});

    auto send = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            model->Send(MakeReport({0x00, uint8_t(i >> 8), uint8_t(i & 0xFF)}));
        }
    };
    auto expectReads = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            ASSERT_EQ(Read(h, 0).outcome, ReadOutcome::Completed);
            ASSERT_EQ(buf[1] << 8 | buf[2], i);
        }
        EXPECT_EQ(Read(h, 0).outcome, ReadOutcome::TimedOut);
    };
    send(0, 40);
    ASSERT_EQ(Read(h, 0).outcome, ReadOutcome::Completed);  // 8: the 32 slots held 8..39
    EXPECT_EQ(buf[2], 8);
    ASSERT_TRUE(bus.SetInputQueueDepth(h, 512, granted));
    EXPECT_EQ(granted, 512u);
    EXPECT_EQ(bus.InputQueueDepths(), std::vector<uint32_t>{512});
    send(40, 500);
    expectReads(9, 500);  // none dropped
    send(500, 505);
    ASSERT_EQ(Read(h, 0).outcome, ReadOutcome::Completed);  // 500; 501..504 wait
    ASSERT_TRUE(bus.SetInputQueueDepth(h, 2, granted));
    expectReads(503, 505);  // a shallower queue keeps the newest

    bus.Unplug(device);
    EXPECT_FALSE(bus.SetInputQueueDepth(h, 512, granted));
    EXPECT_EQ(granted, 0u);
    bus.Close(h);
    bus.Plug(device);
}

TEST_F(UsbBusRead, EveryHandleGetsItsOwnCopyOfWhatArrivesAfterItsOpen) {
    Handle first = bus.Open(path);
    model->Send(MakeReport({0x00, 1}));
    Handle second = bus.Open(path);  // report 1 was due before this open
    model->Send(MakeReport({0x00, 2}));
    ASSERT_EQ(Read(first, 0).outcome, ReadOutcome::Completed);
    EXPECT_EQ(buf[1], 1);
    ASSERT_EQ(Read(second, 0).outcome, ReadOutcome::Completed);
    EXPECT_EQ(buf[1], 2);
    ASSERT_EQ(Read(first, 0).outcome, ReadOutcome::Completed);
    EXPECT_EQ(buf[1], 2);
    EXPECT_EQ(Read(second, 0).outcome, ReadOutcome::TimedOut);
    bus.Close(first);
    bus.Close(second);
}

TEST_F(UsbBusRead, ASilentInterfaceTimesOutAfterTheWait) {
    Handle h = bus.Open(nullPath);
    auto start = Clock::now();
    EXPECT_EQ(Read(h, 100).outcome, ReadOutcome::TimedOut);
    EXPECT_GE(Clock::now() - start, 95ms);
    bus.Close(h);
}

TEST_F(UsbBusRead, APendingReadCompletesWhenAReportArrives) {
    Handle h = bus.Open(path);
    auto pending = PendingRead(h);
    model->Send(MakeReport({0x00, 0x24}));
    bus.Notify();
    ASSERT_EQ(pending.wait_for(5s), std::future_status::ready);
    ReadResult r = pending.get();
    EXPECT_EQ(r.outcome, ReadOutcome::Completed);
    EXPECT_EQ(r.bytes, 2u);
    bus.Close(h);
}

TEST_F(UsbBusRead, CancelAllEndsAPendingReadOnlyAndPromptly) {
    Handle h = bus.Open(path);
    auto pending = PendingRead(h);
    bus.CancelAll(h);
    ASSERT_EQ(pending.wait_for(5s), std::future_status::ready);
    ReadResult r = pending.get();
    EXPECT_EQ(r.outcome, ReadOutcome::FailedAfterPending);
    EXPECT_EQ(r.error, kErrorOperationAborted);
    // Reads after the cancel are not affected by it.
    model->Send(MakeReport({0x00, 0x23}));
    EXPECT_EQ(Read(h, 0).outcome, ReadOutcome::Completed);
    bus.Close(h);
}

TEST_F(UsbBusRead, ClosingTheHandleAbortsItsPendingRead) {
    Handle h = bus.Open(path);
    auto pending = PendingRead(h);
    bus.Close(h);
    ASSERT_EQ(pending.wait_for(5s), std::future_status::ready);
    ReadResult r = pending.get();
    EXPECT_EQ(r.outcome, ReadOutcome::FailedAfterPending);
    EXPECT_EQ(r.error, kErrorOperationAborted);
}

TEST_F(UsbBusRead, UnplugFailsPendingAndLaterReadsUntilAFreshOpenAfterPlug) {
    Handle h = bus.Open(path);
    model->Send(MakeReport({0x00, 0x23}));
    Read(h, 0);
    auto pending = PendingRead(h);
    bus.Unplug(device);
    ASSERT_EQ(pending.wait_for(5s), std::future_status::ready);
    ReadResult r = pending.get();
    EXPECT_EQ(r.outcome, ReadOutcome::FailedAfterPending);
    EXPECT_EQ(r.error, kErrorDeviceNotConnected);

    r = Read(h, kLong);
    EXPECT_EQ(r.outcome, ReadOutcome::FailedAtOnce);
    EXPECT_EQ(r.error, kErrorDeviceNotConnected);
    HidAttributes attr;
    std::wstring serial;
    EXPECT_FALSE(bus.Attributes(h, attr));
    EXPECT_FALSE(bus.SerialString(h, serial));
    uint8_t rate[65] = {0, 'R', 0, 50};
    EXPECT_FALSE(bus.SetFeature(h, rate, sizeof rate));
    EXPECT_EQ(bus.Open(path), kInvalidHandle);

    bus.Plug(device);
    EXPECT_EQ(Read(h, 0).error, kErrorDeviceNotConnected);  // old handles stay dead
    Handle fresh = bus.Open(path);
    ASSERT_NE(fresh, kInvalidHandle);
    EXPECT_TRUE(bus.Attributes(fresh, attr));
    model->Send(MakeReport({0x00, 0x24}));
    EXPECT_EQ(Read(fresh, 0).outcome, ReadOutcome::Completed);
    bus.Close(h);
    bus.Close(fresh);
}

TEST_F(UsbBusRead, ReadsWithUnknownHandlesOrEventsFailAtOnce) {
    Handle h = bus.Open(path);
    Handle closedEvent = bus.CreateReadEvent();
    bus.Close(closedEvent);
    Handle closedDevice = bus.Open(path);
    bus.Close(closedDevice);
    struct Case {
        Handle device;
        Handle event;
    } cases[] = {{h, nullptr},          {h, closedEvent},        {h, h},        {nullptr, event},
                 {closedDevice, event}, {kInvalidHandle, event}, {event, event}};
    for (const Case& c : cases) {
        ReadResult r = bus.ReadTimed(c.device, c.event, buf.data(), 65, kLong);
        EXPECT_EQ(r.outcome, ReadOutcome::FailedAtOnce);
        EXPECT_EQ(r.error, kErrorInvalidHandle);
    }
    bus.Close(h);
}

TEST_F(UsbBusRead, FeatureReportsReachTheModelAndItsAnswerWakesTheReader) {
    Handle h = bus.Open(path);
    model->AnswerFeaturesWith(MakeReport({0x00, 0x24}));
    auto pending = PendingRead(h);
    uint8_t rate[65] = {0, 'R', 0, 50};
    EXPECT_TRUE(bus.SetFeature(h, rate, sizeof rate));
    ASSERT_EQ(pending.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(pending.get().outcome, ReadOutcome::Completed);
    auto features = model->Features();
    ASSERT_EQ(features.size(), 1u);
    EXPECT_EQ(features[0], std::vector<uint8_t>(rate, rate + 65));

    model->RefuseFeatures();
    EXPECT_FALSE(bus.SetFeature(h, rate, sizeof rate));
    Handle silent = bus.Open(nullPath);
    EXPECT_FALSE(bus.SetFeature(silent, rate, sizeof rate));
    bus.Close(h);
    bus.Close(silent);
}

}  // namespace
}  // namespace brisk::sim
