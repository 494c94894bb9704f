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

bool Empty(const Decoded& d) {
    for (int a = 0; a < 3; ++a) {
        if (d.accel[a] != 0 || d.gyro[a] != 0) {
            return false;
        }
    }
    return d.ts == 0 && d.seq == 0;
}

// A report's filled slots by slot number, and which one holds the newest
// sample: the one every other filled slot is behind.
struct Ring {
    Decoded slot[3];
    bool filled[3];
    int count = 0;
    int newest = -1;
    const Decoded& Newest() const { return slot[newest]; }
};

Ring Slots(const uint8_t* report) {
    Ring r;
    for (int k = 0; k < 3; ++k) {
        r.slot[k] = Sample(report, k);
        r.filled[k] = !Empty(r.slot[k]);
        r.count += r.filled[k];
    }
    for (int k = 0; k < 3 && r.newest < 0; ++k) {
        bool ahead = r.filled[k];
        for (int j = 0; j < 3; ++j) {
            ahead = ahead && (!r.filled[j] || uint8_t(r.slot[k].seq - r.slot[j].seq) < 128);
        }
        if (ahead) {
            r.newest = k;
        }
    }
    return r;
}

Ring Slots(const InputReport& r) {
    return Slots(r.bytes);
}

// Ticks of the 48 MHz time stamp clock in one 1 kHz sample period.
constexpr uint32_t kTicksPerMs = 48000;

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

// 100 s of model time looked at every 10 ms, as the bus does: past the time
// stamp's wrap at 89 s and the sequence's at 255.
TEST_F(WatchmanClock, OneReportPerSampleInRingSlotsLosingNothingToTheHostsJitter) {
    size_t reports = 0, filledBefore = 0;
    size_t newPerReport[4] = {};
    uint32_t samples = 0;  // every sample seen, counted from 0
    double sumY = 0;
    for (int ms = 10; ms <= 100000; ms += 10) {
        auto out = At(std::chrono::milliseconds(ms));
        ASSERT_GE(out.size(), 7u) << ms;
        for (const InputReport& r : out) {
            ASSERT_EQ(r.length, 64);
            ASSERT_EQ(r.bytes[0], 0x20);
            Ring ring = Slots(r);
            ASSERT_GE(ring.newest, 0);
            const Decoded& n = ring.Newest();
            const uint32_t fresh = uint8_t(n.seq - uint8_t(samples - 1));
            ASSERT_TRUE(reports == 0 ? n.seq < 3 : fresh >= 1 && fresh <= 3) << ms;
            const uint32_t newest = reports == 0 ? n.seq : samples - 1 + fresh;
            ++newPerReport[reports == 0 ? n.seq + 1 : fresh];
            // Start-up fills slot 0, then 1, then 2; after that every slot
            // holds one of the three newest, each in slot seq mod 3.
            ASSERT_EQ(ring.count, int(std::min<uint32_t>(newest + 1, 3))) << ms;
            ASSERT_GE(ring.count, int(filledBefore));
            filledBefore = size_t(ring.count);
            for (int k = 0; k < 3; ++k) {
                if (!ring.filled[k]) {
                    continue;
                }
                const Decoded& d = ring.slot[k];
                const uint32_t age = uint8_t(n.seq - d.seq);
                ASSERT_LT(age, 3u);
                ASSERT_EQ(uint32_t(k), (newest - age) % 3) << ms;
                // 48 MHz ticks of model time, wrapping at 2^32.
                ASSERT_EQ(d.ts, uint32_t(uint64_t(newest - age + 1) * kTicksPerMs)) << ms;
                ASSERT_NEAR(d.accel[0], 0, 60);
                ASSERT_NEAR(d.accel[1], kWatchmanCountsPerG, 60);  // 1 g on y at rest
                ASSERT_NEAR(d.accel[2], 0, 60);
                for (int a = 0; a < 3; ++a) {
                    ASSERT_NEAR(d.gyro[a], 0, 30);
                }
                sumY += d.accel[1];
            }
            samples = newest + 1;
            ++reports;
        }
    }
    EXPECT_EQ(samples, 100000u);  // none lost
    EXPECT_EQ(model.ReportsSent(), reports);
    // About 2.5 % of reports come late, so their successor brings two.
    EXPECT_NEAR(double(newPerReport[2]) / double(reports), 0.025, 0.01);
    EXPECT_LT(newPerReport[3], reports / 500);
    EXPECT_NEAR(double(reports), 97500, 1000);
    EXPECT_NEAR(sumY / (3.0 * double(reports)), kWatchmanCountsPerG, 2);  // noise, not bias
    EXPECT_TRUE(At(100000ms).empty());
    EXPECT_EQ(model.NextDue(t0 + 100000ms), t0 + 100001ms);
}

TEST_F(WatchmanClock, AFallenBehindReaderGetsTheNewestBurstAndSeesAGap) {
    auto early = At(900ms);
    ASSERT_FALSE(early.empty());
    EXPECT_EQ(Slots(early.back()).Newest().seq, uint8_t(899));
    // Samples due at 901, ..., 1800 ms: only the reports of the last 32 come
    // out; the older ones are gone, their numbers too.
    auto late = At(1800ms);
    ASSERT_LE(late.size(), WatchmanModel::kMaxBurst);
    ASSERT_GE(late.size(), WatchmanModel::kMaxBurst - 4);
    Ring first = Slots(late.front());
    EXPECT_EQ(first.count, 3);  // the two before it ride along, filled
    EXPECT_LE(uint8_t(first.Newest().seq - uint8_t(1800 - 32)), 3);
    for (int k = 0; k < 3; ++k) {
        EXPECT_GT(uint8_t(first.slot[k].seq - uint8_t(899)), 3) << "a gap after 899";
    }
    EXPECT_EQ(Slots(late.back()).Newest().seq, uint8_t(1799));
    EXPECT_EQ(Slots(late.back()).Newest().ts, 1800 * kTicksPerMs);
}

TEST_F(WatchmanClock, SleepSilencesAndWakeStartsAfreshWithTheNextNumber) {
    auto before = At(6ms);
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(Slots(before.back()).Newest().seq, 5);
    model.Sleep();
    model.Junk();
    EXPECT_TRUE(At(500ms).empty());
    EXPECT_EQ(model.NextDue(t0 + 500ms), Clock::time_point::max());
    model.Wake(t0 + 1000ms);
    auto after = At(1003ms);
    ASSERT_GE(after.size(), 2u);  // the junk kept for the wake-up, then the samples
    EXPECT_EQ(after[0].bytes[0], 0x21);
    Ring firstAwake = Slots(after[1]);
    // Slots restart empty: nothing from before the nap is sent again.
    EXPECT_EQ(firstAwake.slot[0].seq, 6);
    EXPECT_EQ(firstAwake.slot[0].ts, 1001 * kTicksPerMs);
    for (size_t i = 1; i < after.size(); ++i) {
        Ring ring = Slots(after[i]);
        for (int k = 0; k < 3; ++k) {
            EXPECT_TRUE(!ring.filled[k] || ring.slot[k].seq >= 6) << i;
        }
    }
    Ring last = Slots(after.back());
    EXPECT_EQ(last.Newest().seq, 8);
    EXPECT_EQ(last.Newest().ts, 1003 * kTicksPerMs);
}

TEST_F(WatchmanClock, SkipRepeatAndJunkComeAtTheNextLook) {
    model.Repeat();  // nothing to repeat yet: dropped, not stuck
    EXPECT_EQ(model.NextDue(t0), t0 + 1ms);
    auto first = At(3ms);
    ASSERT_FALSE(first.empty());

    model.Repeat();
    model.Junk();
    EXPECT_EQ(model.NextDue(t0 + 3500us), t0 + 3500us);
    auto extra = At(3500us);
    ASSERT_EQ(extra.size(), 2u);
    EXPECT_EQ(0, std::memcmp(extra[0].bytes, first.back().bytes, 64));
    EXPECT_EQ(extra[0].length, 64);
    EXPECT_EQ(extra[1].bytes[0], 0x21);
    EXPECT_EQ(extra[1].length, 64);

    model.Skip(4);
    auto next = At(6ms);
    ASSERT_FALSE(next.empty());
    // Samples 3, 4 and 5 are numbered 7, 8 and 9; the ring shows the jump
    // from 2 to 7 beside it.
    Ring ring = Slots(next.back());
    EXPECT_EQ(ring.Newest().seq, 9);
    EXPECT_EQ(ring.Newest().ts, 6 * kTicksPerMs);
    bool sawJump = false;
    for (const InputReport& r : next) {
        Ring s = Slots(r);
        for (int k = 0; k < 3; ++k) {
            sawJump = sawJump || (s.slot[k].seq == 7 && s.slot[(k + 2) % 3].seq == 2);
        }
    }
    EXPECT_TRUE(sawJump);
    EXPECT_EQ(model.ReportsSent(), first.size() + 1 + next.size());
}

TEST_F(WatchmanClock, SetValuesAreSentExactlyWithoutNoiseAndTheRateChangesTheSpacing) {
    model.SetAccelNoise(0);
    model.SetGyroNoise(0);
    model.SetAccel(-100, 200, 32767);
    model.SetGyro(1, -2, 3);
    model.SetRate(250, t0);
    auto reports = At(24ms);
    ASSERT_GE(reports.size(), 4u);  // 250 samples/s: a report every 4 ms
    ASSERT_LE(reports.size(), 6u);
    Ring last = Slots(reports.back());
    EXPECT_EQ(last.Newest().seq, 5);
    EXPECT_EQ(last.Newest().ts, 24 * kTicksPerMs);
    for (int k = 0; k < 3; ++k) {
        const Decoded& d = last.slot[k];
        EXPECT_EQ(d.ts, (d.seq + 1) * 4 * kTicksPerMs);
        EXPECT_EQ(d.accel[0], -100);
        EXPECT_EQ(d.accel[1], 200);
        EXPECT_EQ(d.accel[2], 32767);
        EXPECT_EQ(d.gyro[0], 1);
        EXPECT_EQ(d.gyro[1], -2);
        EXPECT_EQ(d.gyro[2], 3);
    }
    EXPECT_TRUE(At(27ms).empty());
    EXPECT_EQ(model.NextDue(t0 + 27ms), t0 + 28ms);
}

TEST(WatchmanDevices, WatchmanListsItsImuLastAndTheMcuHasNoSerial) {
    UsbBus bus;
    auto imu = std::make_shared<WatchmanModel>();
    bus.Attach(WatchmanDevice(L"LHR-5A1B2C3D", {L"0000:00:14.0", {3, 2}}, imu));
    bus.Attach(McuUsbDevice({L"0000:00:14.0", {3, 1}}, {std::make_shared<SilentInterface>()}));
    std::vector<HidDeviceInfo> found;
    bus.ListHidDevices(found);
    ASSERT_EQ(found.size(), 4u);
    const int listedInterfaces[] = {1, 2, 0, 0};
    for (size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(found[i].interfaceNumber, listedInterfaces[i]) << i;
        EXPECT_EQ(found[i].vendorId, i < 3 ? 0x28DE : 0x35BD) << i;
        EXPECT_EQ(found[i].serial, i < 3 ? L"LHR-5A1B2C3D" : L"") << i;
    }

    UsbDeviceDesc inOrder = WatchmanDevice(L"LHR-1", PortKey{}, imu, false);
    EXPECT_TRUE(inOrder.listOrder.empty());
    EXPECT_EQ(inOrder.interfaces[0], imu);
}

// A Watchman streaming on a bus, read as the tool reads it.
class WatchmanOnBus : public ::testing::Test {
  protected:
    void SetUp() override {
        bus.Attach(WatchmanDevice(L"LHR-5A1B2C3D", {L"0000:00:14.0", {2}}, imu));
        std::vector<HidDeviceInfo> found;
        bus.ListHidDevices(found);
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
        EXPECT_EQ(bus.OpensOf(L"/if1"), 0u);
        EXPECT_EQ(bus.OpensOf(L"/if2"), 0u);
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

// At the real rate, and at one a scenario may ask that brings more reports
// in a 10 ms delivery tick than a handle's queue of 32 holds.
TEST_F(WatchmanOnBus, StreamsEverySampleInOrderAtEachRate) {
    for (const int rate : {1000, 8000}) {
        SCOPED_TRACE(rate);
        imu->SetRate(rate);
        bus.Notify();
        auto start = Clock::now();
        ASSERT_EQ(Read().outcome, ReadOutcome::Completed);
        Decoded prev = Slots(buf).Newest();
        uint64_t advanced = 0, lost = 0;
        size_t reports = 0;
        while (Clock::now() - start < 500ms) {
            ReadResult r = Read();
            ASSERT_EQ(r.outcome, ReadOutcome::Completed);
            ASSERT_EQ(r.bytes, 64u);
            ASSERT_EQ(buf[0], 0x20);
            ++reports;
            Decoded d = Slots(buf).Newest();
            uint8_t step = uint8_t(d.seq - prev.seq);
            // Every report brings a new sample, rising and wrapping at 255; a
            // reader starved by a loaded machine may see a gap, never a step back.
            ASSERT_GE(step, 1);
            ASSERT_LT(step, 128);
            ASSERT_NE(d.ts, prev.ts);
            advanced += step;
            lost += step > 3 ? step - 3 : 0;  // more than the report's three slots hold
            prev = d;
        }
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        EXPECT_GT(reports, 100u);
        EXPECT_GE(advanced, reports);
        EXPECT_GT(advanced, 0.5 * rate * seconds);
        EXPECT_LT(advanced, 1.5 * rate * seconds + 100);
        // The bus's own batching lost more than half of them at 8000 a
        // second; a reader the machine starves for a few ms loses a little.
        EXPECT_LT(lost, advanced / 10);
    }
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
        } else {
            // Ten numbers skipped: the newest is 11 past the last one seen
            // (12 or 13 when the host was late with a report).
            uint8_t step = uint8_t(Slots(buf).Newest().seq - Slots(prev).Newest().seq);
            sawSkip = sawSkip || (step >= 11 && step <= 13);
        }
        std::memcpy(prev, buf, 64);
    }
    EXPECT_TRUE(sawRepeat);
    EXPECT_TRUE(sawJunk);
    EXPECT_TRUE(sawSkip);
}

}  // namespace
}  // namespace brisk::sim
