// The virtual Watchman: its reports decoded by hand, first on model time the
// test chooses, then streaming on a bus against the real clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "sim/virtual_mcu.h"
#include "sim/watchman.h"

namespace brisk::sim {
namespace {

using namespace std::chrono_literals;

struct Decoded {
    int16_t accel[3];
    int16_t gyro[3];
    uint32_t ts;
    uint8_t seq;
};

int16_t Le16(const uint8_t* p) {
    return int16_t(uint16_t(p[0] | (p[1] << 8)));
}

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

Decoded Sample(const uint8_t* report, int k) {
    const uint8_t* p = report + 1 + 17 * k;
    Decoded d;
    for (int a = 0; a < 3; ++a) {
        d.accel[a] = Le16(p + 2 * a);
        d.gyro[a] = Le16(p + 6 + 2 * a);
    }
    d.ts = Le32(p + 12);
    d.seq = p[16];
    return d;
}

Decoded Sample(const InputReport& r, int k) {
    return Sample(r.bytes, k);
}

TEST(WatchmanReport, SamplesSitLittleEndianAtOffsets1_18_35) {
    WatchmanSample s[3];
    s[1].accel[0] = -2;
    s[1].accel[2] = 0x1234;
    s[1].gyro[1] = -300;
    s[1].timestamp = 0xA1B2C3D4;
    s[1].seq = 0xFE;
    s[2].seq = 0xFF;
    InputReport r;
    r.bytes[60] = 0x77;
    EncodeImuReport(s, r);
    ASSERT_EQ(r.length, 64);
    EXPECT_EQ(r.bytes[0], 0x20);
    const uint8_t expected[17] = {0xFE, 0xFF, 0, 0,    0x34, 0x12, 0,    0,   0xD4,
                                  0xFE, 0,    0, 0xD4, 0xC3, 0xB2, 0xA1, 0xFE};
    for (int i = 0; i < 17; ++i) {
        EXPECT_EQ(r.bytes[18 + i], expected[i]) << i;
    }
    EXPECT_EQ(r.bytes[35 + 16], 0xFF);
    EXPECT_EQ(r.bytes[60], 0);  // the tail is zero, whatever was there
}

class WatchmanClock : public ::testing::Test {
  protected:
    std::vector<InputReport> At(Clock::duration since) {
        std::vector<InputReport> out;
        model.Produce(t0 + since, out);
        return out;
    }
    Clock::time_point t0 = Clock::now();
    WatchmanModel model{t0};
};

TEST_F(WatchmanClock, EmitsEveryReportDueWithRisingSequenceAndTime) {
    auto reports = At(30ms);
    ASSERT_EQ(reports.size(), 10u);  // 1000 samples/s: a report every 3 ms
    for (size_t i = 0; i < reports.size(); ++i) {
        ASSERT_EQ(reports[i].length, 64);
        EXPECT_EQ(reports[i].bytes[0], 0x20);
        for (int k = 0; k < 3; ++k) {
            Decoded d = Sample(reports[i], k);
            uint32_t n = uint32_t(3 * i + k);
            EXPECT_EQ(d.seq, n);
            EXPECT_EQ(d.ts, 1000 * (n + 1));   // microseconds of model time
            EXPECT_NEAR(d.accel[1], 2048, 2);  // 1 g at 2048 counts/g
            EXPECT_NEAR(d.accel[0], 0, 2);
            EXPECT_NEAR(d.accel[2], 0, 2);
            for (int a = 0; a < 3; ++a) {
                EXPECT_NEAR(d.gyro[a], 0, 1);
            }
        }
    }
    EXPECT_TRUE(At(32ms).empty());
    EXPECT_EQ(model.NextDue(t0 + 32ms), t0 + 33ms);
    EXPECT_EQ(model.ReportsSent(), 10u);
}

TEST_F(WatchmanClock, SequenceWrapsAt255AndAFallenBehindReaderSeesAGap) {
    uint8_t expected = 0;
    for (int ms = 3; ms <= 900; ms += 15) {
        for (const InputReport& r : At(std::chrono::milliseconds(ms))) {
            for (int k = 0; k < 3; ++k) {
                ASSERT_EQ(Sample(r, k).seq, expected);
                ++expected;
            }
        }
    }
    // Reports due at 3, 6, ..., 1800 ms; only the last 32 of the 300 since
    // 900 ms come out, the others' numbers are gone.
    auto late = At(1800ms);
    ASSERT_EQ(late.size(), WatchmanModel::kMaxBurst);
    EXPECT_EQ(Sample(late[0], 0).seq, uint8_t(3 * (600 - 32)));
    EXPECT_EQ(Sample(late.back(), 2).seq, uint8_t(3 * 600 - 1));
    EXPECT_EQ(Sample(late.back(), 2).ts, 1800000u);
}

TEST_F(WatchmanClock, SleepSilencesAndWakeResumesWithTheNextNumber) {
    auto before = At(6ms);
    ASSERT_EQ(before.size(), 2u);
    model.Sleep();
    model.Junk();
    EXPECT_TRUE(At(500ms).empty());
    EXPECT_EQ(model.NextDue(t0 + 500ms), Clock::time_point::max());
    model.Wake(t0 + 1000ms);
    auto after = At(1003ms);
    ASSERT_EQ(after.size(), 2u);  // the junk kept for the wake-up, then one report
    EXPECT_EQ(after[0].bytes[0], 0x21);
    EXPECT_EQ(Sample(after[1], 0).seq, 6);
    EXPECT_EQ(Sample(after[1], 2).ts, 1003000u);
}

TEST_F(WatchmanClock, SkipRepeatAndJunkComeAtTheNextLook) {
    model.Repeat();  // nothing to repeat yet: dropped, not stuck
    EXPECT_EQ(model.NextDue(t0), t0 + 3ms);
    auto first = At(3ms);
    ASSERT_EQ(first.size(), 1u);

    model.Repeat();
    model.Junk();
    EXPECT_EQ(model.NextDue(t0 + 4ms), t0 + 4ms);
    auto extra = At(4ms);
    ASSERT_EQ(extra.size(), 2u);
    EXPECT_EQ(0, std::memcmp(extra[0].bytes, first[0].bytes, 64));
    EXPECT_EQ(extra[0].length, 64);
    EXPECT_EQ(extra[1].bytes[0], 0x21);
    EXPECT_EQ(extra[1].length, 64);

    model.Skip(4);
    auto next = At(6ms);
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(Sample(next[0], 0).seq, 3 + 4);
    EXPECT_EQ(Sample(next[0], 1).seq, 8);
    EXPECT_EQ(model.ReportsSent(), 3u);
}

TEST_F(WatchmanClock, SetValuesAreSentExactlyAndTheRateChangesTheSpacing) {
    model.SetAccel(-100, 200, 32767);
    model.SetGyro(1, -2, 3);
    model.SetRate(250, t0);
    auto reports = At(24ms);
    ASSERT_EQ(reports.size(), 2u);  // 250 samples/s: a report every 12 ms
    Decoded a = Sample(reports[0], 0);
    Decoded b = Sample(reports[1], 0);
    EXPECT_EQ(b.ts - a.ts, 12000u);
    EXPECT_EQ(Sample(reports[0], 1).ts - a.ts, 4000u);
    for (const InputReport& r : reports) {
        for (int k = 0; k < 3; ++k) {
            Decoded d = Sample(r, k);
            EXPECT_EQ(d.accel[0], -100);
            EXPECT_EQ(d.accel[1], 200);
            EXPECT_EQ(d.accel[2], 32767);
            EXPECT_EQ(d.gyro[0], 1);
            EXPECT_EQ(d.gyro[1], -2);
            EXPECT_EQ(d.gyro[2], 3);
        }
    }
}

TEST(WatchmanDevices, WatchmanListsItsImuLastAndTheMcuHasNoSerial) {
    UsbBus bus;
    auto imu = std::make_shared<WatchmanModel>();
    bus.Attach(WatchmanDevice(L"LHR-5A1B2C3D", L"PCIROOT(0)#USBROOT(0)#USB(3)#USB(2)", imu));
    bus.Attach(McuUsbDevice(L"PCIROOT(0)#USBROOT(0)#USB(3)#USB(1)",
                            {std::make_shared<SilentInterface>()}));
    std::vector<HidInterface> found;
    bus.ListHidInterfaces(found);
    ASSERT_EQ(found.size(), 4u);
    EXPECT_NE(found[0].path.find(L"vid_28de&pid_2300&mi_01#"), std::wstring::npos);
    EXPECT_NE(found[1].path.find(L"vid_28de&pid_2300&mi_02#"), std::wstring::npos);
    EXPECT_NE(found[2].path.find(L"vid_28de&pid_2300&mi_00#"), std::wstring::npos);
    EXPECT_NE(found[3].path.find(L"vid_35bd&pid_0101&mi_00#"), std::wstring::npos);
    std::vector<DevNode> nodes;
    bus.ListDeviceNodes(L"USB\\VID_35BD&PID_0101", nodes);
    ASSERT_EQ(nodes.size(), 2u);
    std::wstring id;
    bus.DeviceId(nodes[0], id);
    EXPECT_EQ(id.find(L"USB\\VID_35BD&PID_0101\\6&"), 0u) << id;

    UsbDeviceDesc inOrder = WatchmanDevice(L"LHR-1", L"", imu, false);
    EXPECT_TRUE(inOrder.listOrder.empty());
    EXPECT_EQ(inOrder.interfaces[0], imu);
}

// A Watchman streaming on a bus, read as the tool reads it.
class WatchmanOnBus : public ::testing::Test {
  protected:
    void SetUp() override {
        bus.Attach(WatchmanDevice(L"LHR-5A1B2C3D", L"PCIROOT(0)#USBROOT(0)#USB(2)", imu));
        std::vector<HidInterface> found;
        bus.ListHidInterfaces(found);
        handle = bus.Open(found[2].path);
        ASSERT_NE(handle, kInvalidHandle);
        event = bus.CreateReadEvent();
    }
    void TearDown() override {
        bus.Close(handle);
        bus.Close(event);
        EXPECT_EQ(bus.OpenHandles(), 0u);
        EXPECT_EQ(bus.OpenEvents(), 0u);
        EXPECT_EQ(bus.BadCloses(), 0u);
        EXPECT_EQ(bus.OpensOf(L"&mi_01"), 0u);
        EXPECT_EQ(bus.OpensOf(L"&mi_02"), 0u);
    }
    ReadResult Read(uint32_t timeoutMs = 1000) {
        return bus.ReadTimed(handle, event, buf, 64, timeoutMs);
    }

    std::shared_ptr<WatchmanModel> imu = std::make_shared<WatchmanModel>();
    UsbBus bus;
    Handle handle = kInvalidHandle;
    Handle event = nullptr;
    uint8_t buf[64] = {};
};

TEST_F(WatchmanOnBus, StreamsAboutAThousandSamplesPerSecondInOrder) {
    auto start = Clock::now();
    ASSERT_EQ(Read().outcome, ReadOutcome::Completed);
    Decoded prev = Sample(buf, 2);
    uint64_t advanced = 0;
    size_t reports = 0;
    while (Clock::now() - start < 500ms) {
        ReadResult r = Read();
        ASSERT_EQ(r.outcome, ReadOutcome::Completed);
        ASSERT_EQ(r.bytes, 64u);
        ASSERT_EQ(buf[0], 0x20);
        ++reports;
        for (int k = 0; k < 3; ++k) {
            Decoded d = Sample(buf, k);
            uint8_t step = uint8_t(d.seq - prev.seq);
            // Rising, wrapping at 255; a reader starved by a loaded machine may
            // see a gap, never a step back.
            ASSERT_GE(step, 1);
            ASSERT_LT(step, 128);
            ASSERT_GT(d.ts, prev.ts);
            advanced += step;
            prev = d;
        }
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_GT(reports, 20u);
    EXPECT_GT(advanced, 0.5 * 1000 * seconds);
    EXPECT_LT(advanced, 1.5 * 1000 * seconds + 100);
}

TEST_F(WatchmanOnBus, ASleepingWatchmanTimesOutAndWakesAPendingRead) {
    imu->Sleep();
    while (Read(0).outcome == ReadOutcome::Completed) {
    }
    EXPECT_EQ(Read(200).outcome, ReadOutcome::TimedOut);
    auto pending = std::async(std::launch::async, [this] {
        uint8_t mine[64];
        return bus.ReadTimed(handle, event, mine, 64, 20000);
    });
    std::this_thread::sleep_for(50ms);
    imu->Wake();
    bus.Notify();
    ASSERT_EQ(pending.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(pending.get().outcome, ReadOutcome::Completed);
}

TEST_F(WatchmanOnBus, SkipRepeatAndJunkShowInTheStream) {
    bus.SetDeliveryTick(0us);  // report by report, as on real hardware
    ASSERT_EQ(Read().outcome, ReadOutcome::Completed);
    imu->Repeat();
    imu->Junk();
    imu->Skip(10);
    bus.Notify();
    uint8_t prev[64];
    std::memcpy(prev, buf, 64);
    bool sawRepeat = false, sawJunk = false, sawSkip = false;
    for (int i = 0; i < 200 && !(sawRepeat && sawJunk && sawSkip); ++i) {
        ASSERT_EQ(Read().outcome, ReadOutcome::Completed);
        if (buf[0] == 0x21) {
            sawJunk = true;
            continue;
        }
        ASSERT_EQ(buf[0], 0x20);
        if (std::memcmp(buf, prev, 64) == 0) {
            sawRepeat = true;
        } else if (uint8_t(Sample(buf, 0).seq - Sample(prev, 2).seq) == 11) {
            sawSkip = true;
        }
        std::memcpy(prev, buf, 64);
    }
    EXPECT_TRUE(sawRepeat);
    EXPECT_TRUE(sawJunk);
    EXPECT_TRUE(sawSkip);
}

}  // namespace
}  // namespace brisk::sim
