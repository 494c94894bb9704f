// The virtual Watchman's injected faults, read back from its reports: first
// through the model's Produce on model time, then from a scenario through
// the virtual headset's bus, as brisk-sim and the device server run them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "sim/scenario.h"
#include "sim/virtual_headset.h"
#include "sim/watchman.h"

namespace brisk::sim {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kTicksPerMs = 48000;

struct Sample {
    int16_t v[kAxisCount];  // ax ay az gx gy gz
    uint32_t ts;
    uint8_t seq;
};

Sample Decode(const uint8_t* report, int slot, bool& empty) {
    const uint8_t* p = report + 1 + 17 * slot;
    empty = std::all_of(p, p + 17, [](uint8_t b) { return b == 0; });
    Sample s{};
    for (int a = 0; a < kAxisCount; ++a) {
        s.v[a] = int16_t(uint16_t(p[2 * a] | p[2 * a + 1] << 8));
    }
    s.ts = uint32_t(p[12]) | uint32_t(p[13]) << 8 | uint32_t(p[14]) << 16 | uint32_t(p[15]) << 24;
    s.seq = p[16];
    return s;
}

// Every sample the reports carry, once each and oldest first: a report's
// ring holds its newest sample and up to two before it.
struct SampleLog {
    void Add(const uint8_t* report) {
        std::vector<Sample> fresh;
        for (int k = 0; k < 3 && report[0] == kWatchmanImuReportId; ++k) {
            bool empty = false;
            Sample s = Decode(report, k, empty);
            if (!empty) {
                fresh.push_back(s);
            }
        }
        if (fresh.empty()) {
            return;
        }
        // Numbered after `from`, the ring's samples lie within two of each other.
        uint8_t from = all.empty() ? uint8_t(fresh[0].seq - 3) : all.back().seq;
        std::sort(fresh.begin(), fresh.end(), [from](const Sample& a, const Sample& b) {
            return uint8_t(a.seq - from) < uint8_t(b.seq - from);
        });
        for (const Sample& s : fresh) {
            if (uint8_t(s.seq - from - 1) < 127) {  // new: 1 to 127 ahead
                all.push_back(s);
            }
        }
    }
    std::vector<Sample> all;
};

// Model time from `fromMs` to `toMs`, looked at every 10 ms as the bus does.
void Play(WatchmanModel& model, Clock::time_point t0, int fromMs, int toMs, SampleLog& log) {
    for (int ms = fromMs + 10; ms <= toMs; ms += 10) {
        std::vector<InputReport> out;
        model.Produce(t0 + std::chrono::milliseconds(ms), out);
        for (const InputReport& r : out) {
            log.Add(r.bytes);
        }
    }
}

// A clock off by some ppm, set at power-up and changed half-way: every
// sample still 48,000 device ticks after the one before, but the host sees
// them come faster or slower, and NextDue hands out the host time of the
// next tick count exactly.
TEST(WatchmanClockOffset, TicksAtTheOffsetRateAndSamplesEvery48000OfThem) {
    struct Row {
        double ppm, ppmAfter10s;
    };
    for (Row row :
         {Row{-950, -950}, Row{2500, 2500}, Row{0, -950}, Row{-100000, 100000}, Row{40, 0}}) {
        SCOPED_TRACE(::testing::Message() << row.ppm << " then " << row.ppmAfter10s);
        Clock::time_point t0 = Clock::now();
        WatchmanModel model{t0};
        SampleLog log;
        model.SetClockOffset(row.ppm, t0);
        Play(model, t0, 0, 10000, log);
        model.SetClockOffset(row.ppmAfter10s, t0 + 10s);
        Play(model, t0, 10000, 20000, log);
        const double f1 = 48e6 * (1 + row.ppm * 1e-6), f2 = 48e6 * (1 + row.ppmAfter10s * 1e-6);
        ASSERT_NEAR(double(log.all.size()), 10000 * (f1 + f2) / 48e6, 3);
        for (size_t i = 1; i < log.all.size(); ++i) {
            ASSERT_EQ(uint32_t(log.all[i].ts - log.all[i - 1].ts), kTicksPerMs) << i;
            ASSERT_EQ(uint8_t(log.all[i].seq - log.all[i - 1].seq), 1) << i;
        }
        EXPECT_EQ(log.all.back().ts, uint32_t(log.all.size() * kTicksPerMs));
        // Sample k's host time: k * 48,000 ticks, reached at the second rate
        // from 10 s on. The next one due is the first after 20 s, to the ns.
        auto hostNs = [&](double k) { return 10e9 + (k * kTicksPerMs - 10 * f1) / f2 * 1e9; };
        double dueNs = double(
            std::chrono::duration_cast<std::chrono::nanoseconds>(model.NextDue(t0 + 20s) - t0)
                .count());
        double k = std::round((10 * f1 + (dueNs - 10e9) * f2 / 1e9) / kTicksPerMs);
        EXPECT_NEAR(dueNs, hostNs(k), 2.0);  // on a sample's tick count
        EXPECT_GE(dueNs, 20e9 - 2);
        EXPECT_LE(hostNs(k - 1), 20e9 + 2);            // and the first after 20 s
        EXPECT_LE(k - 1 - double(log.all.size()), 2);  // the host holds back at most two
    }
}

TEST(WatchmanFaults, DroppedSamplesLeaveTimeGapsWithUnbrokenSequenceNumbers) {
    Clock::time_point t0 = Clock::now();
    WatchmanModel model{t0};
    model.DropEvery(10);
    SampleLog log;
    Play(model, t0, 0, 2000, log);
    // Then a reader 5 s behind: the samples it never sees count right too.
    Play(model, t0, 6990, 7000, log);
    ASSERT_GE(log.all.size(), 1798u + 20u);
    // Sample time k ms carries number k - k / 10 - 1: the 10th, 20th, ...
    // are lost and the numbers close up over them.
    size_t gaps = 0;
    for (size_t i = 0; i < log.all.size(); ++i) {
        uint32_t k = log.all[i].ts / kTicksPerMs;
        ASSERT_NE(k % 10, 0u) << k;
        ASSERT_EQ(log.all[i].seq, uint8_t(k - k / 10 - 1)) << k;
        gaps += i > 0 && k <= 2000 && log.all[i].ts - log.all[i - 1].ts == 2 * kTicksPerMs;
    }
    EXPECT_GE(gaps, 198u);
    EXPECT_GE(log.all.back().ts, 6997 * kTicksPerMs);
    model.DropEvery(0);
    SampleLog after;
    Play(model, t0, 7000, 7500, after);
    ASSERT_GE(after.all.size(), 498u);
    for (size_t i = 3; i < after.all.size(); ++i) {  // past the ring's two from before
        EXPECT_EQ(after.all[i].ts - after.all[i - 1].ts, kTicksPerMs) << i;
    }
}

TEST(WatchmanFaults, AStuckAxisRepeatsItsValueAndASaturatedOneReadsTheLimit) {
    Clock::time_point t0 = Clock::now();
    WatchmanModel model{t0};  // the default noise: every axis moves
    SampleLog log;
    Play(model, t0, 0, 200, log);
    model.Stick(kAxisGx);
    model.Stick(kAxisAy);
    model.Saturate(kAxisAz);
    model.Saturate(kAxisGx);  // over stuck
    Play(model, t0, 200, 400, log);
    model.Unsaturate();
    Play(model, t0, 400, 500, log);
    model.Unstick();
    Play(model, t0, 500, 700, log);
    ASSERT_GE(log.all.size(), 698u);
    const Sample& before = log.all[199];  // sample 200, the last before
    int moved[kAxisCount] = {};
    for (size_t i = 200; i < 500; ++i) {  // samples 201 to 500
        const Sample& s = log.all[i];
        ASSERT_EQ(s.v[kAxisAy], before.v[kAxisAy]) << i;
        ASSERT_EQ(s.v[kAxisGx], i < 400 ? 32767 : before.v[kAxisGx]) << i;
        if (i < 400) {
            ASSERT_EQ(s.v[kAxisAz], 32767) << i;
        }
        moved[kAxisAx] += s.v[kAxisAx] != log.all[i - 1].v[kAxisAx];
        moved[kAxisAz] += i >= 400 && std::abs(s.v[kAxisAz]) < 100;
    }
    for (size_t i = 501; i < 698; ++i) {
        moved[kAxisGx] += log.all[i].v[kAxisGx] != log.all[i - 1].v[kAxisGx];
        moved[kAxisAy] += log.all[i].v[kAxisAy] != log.all[i - 1].v[kAxisAy];
    }
    EXPECT_GT(moved[kAxisAx], 250);  // the others keep their noise
    EXPECT_EQ(moved[kAxisAz], 100);  // back to the sensor's values
    EXPECT_GT(moved[kAxisAy], 150);
    EXPECT_GT(moved[kAxisGx], 100);
}

// Noise set by density: its size per sample follows the rate, it rides on
// the set values, and a density of 0 makes a sensor exact.
TEST(WatchmanNoise, DensityGivesItsSizeAtEachRateOnTopOfTheSetValues) {
    struct Row {
        int rate;
        double accelDensity, gyroDensity;
    };
    for (Row row : {Row{1000, 0, 0.2}, Row{250, 1.5, 0.2}, Row{1000, 0.5, 0}}) {
        Clock::time_point t0 = Clock::now();
        WatchmanModel model{t0};
        model.SetRate(row.rate, t0);
        model.SetAccel(100, 8000, -300);
        model.SetGyro(5, -7, 0);
        model.SetGyroNoise(row.gyroDensity);
        model.SetAccelNoise(row.accelDensity);
        SampleLog log;
        Play(model, t0, 0, 40000, log);
        ASSERT_NEAR(double(log.all.size()), 40.0 * row.rate, 2);
        const int16_t set[kAxisCount] = {100, 8000, -300, 5, -7, 0};
        for (int a = 0; a < kAxisCount; ++a) {
            double sum = 0, sumSq = 0, n = double(log.all.size());
            for (const Sample& s : log.all) {
                sum += s.v[a];
                sumSq += double(s.v[a]) * s.v[a];
            }
            double want = (a < kAxisGx ? row.accelDensity : row.gyroDensity) * std::sqrt(row.rate);
            // Rounding to counts adds 1/sqrt(12) in quadrature.
            double sd = std::sqrt(sumSq / n - sum / n * sum / n);
            EXPECT_NEAR(sd, std::sqrt(want * want + (want > 0 ? 1.0 / 12 : 0)), 0.03 * want)
                << row.rate << " Hz, axis " << a;
            EXPECT_NEAR(sum / n, set[a], 0.05 * want) << row.rate << " Hz, axis " << a;
        }
    }
}

// A scenario's new lines, through the virtual headset's bus as the tool
// reads them: each reaches the Watchman and does what it says.
TEST(WatchmanScenario, NoiseAndFaultLinesReachTheWatchman) {
    const char* text =
        "0 watchman accel 10 20 30\n"
        "0 watchman gyro 1 2 3\n"
        "0 watchman accel-noise 2\n"
        "0 watchman gyro-noise 0\n"
        "0 watchman gyro-walk 50\n"
        "0 watchman stuck ax\n"
        "0 watchman saturate gz\n"
        "0 watchman drop-every 5\n"
        "0 watchman clock -100000\n";
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(ParseScenario(text, "faults.txt", scenario, error)) << error;
    Clock::time_point built = Clock::now();
    VirtualHeadset headset;
    ASSERT_TRUE(headset.Build(scenario, "faults.txt", error)) << error;
    headset.StartTimeline(Clock::now(), [] {});
    double setUp = std::chrono::duration<double>(Clock::now() - built).count();
    UsbBus& bus = headset.Bus();
    std::vector<HidDeviceInfo> found;
    bus.ListHidDevices(found);
    auto imu = std::find_if(found.begin(), found.end(), [](const HidDeviceInfo& h) {
        return h.vendorId == 0x28DE && h.productId == 0x2300 && h.interfaceNumber == 0;
    });
    ASSERT_NE(imu, found.end());
    Handle handle = bus.Open(imu->path);
    Handle event = bus.CreateReadEvent();
    SampleLog log;
    uint8_t buf[64];
    uint32_t newestTs = 0;
    double elapsed = 0;
    for (int reads = 0; reads < 5000 && log.all.size() < 300; ++reads) {
        ASSERT_EQ(bus.ReadTimed(handle, event, buf, 64, 5000).outcome, ReadOutcome::Completed);
        log.Add(buf);
        newestTs = log.all.back().ts;
        elapsed = std::chrono::duration<double>(Clock::now() - built).count();
    }
    bus.Close(handle);
    bus.Close(event);
    headset.StopTimeline();
    ASSERT_GE(log.all.size(), 300u);
    // 10 % slow once set: the device cannot have counted more than 43.2 M
    // ticks a second since (48 M before).
    EXPECT_LE(double(newestTs), elapsed * 43.2e6 + setUp * 4.8e6);
    int ayMoved = 0, gyMoved = 0, lostAt = -1;
    for (size_t i = 1; i < log.all.size(); ++i) {
        const Sample &s = log.all[i], &p = log.all[i - 1];
        EXPECT_EQ(s.v[kAxisAx], 10);  // stuck before the first sample: its set value
        EXPECT_EQ(s.v[kAxisGz], 32767);
        ayMoved += s.v[kAxisAy] != p.v[kAxisAy];
        if (uint8_t(s.seq - p.seq) != 1) {
            continue;  // a reader starved on a busy machine lost some
        }
        gyMoved += s.v[kAxisGy] != p.v[kAxisGy];
        EXPECT_LE(std::abs(s.v[kAxisGy] - p.v[kAxisGy]), 12);  // a walk, not white noise
        if (s.ts - p.ts == 2 * kTicksPerMs) {
            int at = int((s.ts / kTicksPerMs - 1) % 5);
            EXPECT_TRUE(lostAt < 0 || lostAt == at);  // every fifth time, in step
            lostAt = at;
        } else {
            EXPECT_EQ(s.ts - p.ts, kTicksPerMs);
        }
    }
    EXPECT_GE(lostAt, 0);
    EXPECT_GT(ayMoved, 200);
    EXPECT_GT(gyMoved, 50);
}

}  // namespace
}  // namespace brisk::sim
