// The virtual Watchman measured against a capture of the real one: the
// head-mounted display's Watchman at rest for 19.6 s (tests/data/real), read by
// tshark rather than by our own capture reader, so that a fault there cannot
// hide one here. One measuring function sees both streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "sim/watchman.h"

namespace brisk::sim {
namespace {

using namespace std::chrono_literals;

constexpr const char* kTshark = "/usr/bin/tshark";
constexpr const char* kCapture = BRISK_REAL_DATA_DIR "/vive-index-cal.pcap.gz";

struct TimedReport {
    double seconds = 0;
    std::array<uint8_t, 52> bytes{};
};

struct Slot {
    int16_t accel[3];
    int16_t gyro[3];
    uint32_t ts;
    uint8_t seq;
    bool empty;
};

Slot Decode(const std::array<uint8_t, 52>& r, int k) {
    const uint8_t* p = r.data() + 1 + 17 * k;
    Slot s{};
    for (int a = 0; a < 3; ++a) {
        s.accel[a] = int16_t(uint16_t(p[2 * a] | p[2 * a + 1] << 8));
        s.gyro[a] = int16_t(uint16_t(p[6 + 2 * a] | p[7 + 2 * a] << 8));
    }
    s.ts = uint32_t(p[12]) | uint32_t(p[13]) << 8 | uint32_t(p[14]) << 16 | uint32_t(p[15]) << 24;
    s.seq = p[16];
    s.empty = std::all_of(p, p + 17, [](uint8_t b) { return b == 0; });
    return s;
}

struct Moments {
    double n = 0, sum = 0, sumSq = 0;
    void Add(double x) {
        n += 1;
        sum += x;
        sumSq += x * x;
    }
    double Mean() const { return sum / n; }
    double Sd() const { return std::sqrt(std::max(0.0, sumSq / n - Mean() * Mean())); }
};

struct Figures {
    size_t reports = 0;
    double reportsPerSecond = 0;
    double samplesPerSecond = 0;
    double newShare[4] = {};    // reports bringing 0, 1, 2, 3 new samples
    double rotatedShare = 0;    // next samples one slot on from the previous
    double ticksPerSample = 0;  // time stamp ticks between consecutive samples
    double accelMagnitude = 0;
    double accelSd = 0;  // the mean over the axes
    double gyroSd = 0;
};

// New samples are those ahead of the newest seen so far, within half the
// sequence circle; a sample that follows the previous new one by exactly one
// counts for the slot rotation and the time stamp spacing.
Figures Measure(const std::vector<TimedReport>& reports) {
    Figures f;
    f.reports = reports.size();
    size_t perReport[4] = {};
    size_t consecutive = 0, rotated = 0, samples = 0;
    double ticks = 0;
    Moments magnitude, accel[3], gyro[3];
    bool started = false;
    Slot last{};
    int lastSlot = 0;
    for (const TimedReport& r : reports) {
        std::array<int, 3> order{};
        int fresh = 0;
        for (int k = 0; k < 3; ++k) {
            Slot s = Decode(r.bytes, k);
            int ahead = uint8_t(s.seq - last.seq);
            if (!s.empty && (!started || (ahead >= 1 && ahead < 128))) {
                order[size_t(fresh++)] = k;
            }
        }
        auto distance = [&](int k) { return uint8_t(Decode(r.bytes, k).seq - last.seq - 1); };
        for (int i = 1; i < fresh; ++i) {  // nearest first
            for (int j = i; j > 0 && distance(order[size_t(j)]) < distance(order[size_t(j - 1)]);
                 --j) {
                std::swap(order[size_t(j)], order[size_t(j - 1)]);
            }
        }
        ++perReport[std::min(fresh, 3)];
        for (int i = 0; i < fresh; ++i) {
            Slot s = Decode(r.bytes, order[size_t(i)]);
            if (started && uint8_t(s.seq - last.seq) == 1) {
                ++consecutive;
                rotated += order[size_t(i)] == (lastSlot + 1) % 3;
                ticks += double(uint32_t(s.ts - last.ts));
            }
            started = true;
            last = s;
            lastSlot = order[size_t(i)];
            ++samples;
            double sq = 0;
            for (int a = 0; a < 3; ++a) {
                sq += double(s.accel[a]) * s.accel[a];
                accel[a].Add(s.accel[a]);
                gyro[a].Add(s.gyro[a]);
            }
            magnitude.Add(std::sqrt(sq));
        }
    }
    const double span = reports.back().seconds - reports.front().seconds;
    f.reportsPerSecond = double(reports.size() - 1) / span;
    f.samplesPerSecond = double(samples) / span;
    for (int i = 0; i < 4; ++i) {
        f.newShare[i] = double(perReport[i]) / double(reports.size());
    }
    f.rotatedShare = double(rotated) / double(consecutive);
    f.ticksPerSample = ticks / double(consecutive);
    f.accelMagnitude = magnitude.Mean();
    f.accelSd = (accel[0].Sd() + accel[1].Sd() + accel[2].Sd()) / 3;
    f.gyroSd = (gyro[0].Sd() + gyro[1].Sd() + gyro[2].Sd()) / 3;
    return f;
}

std::string Describe(const char* name, const Figures& f) {
    char line[400];
    std::snprintf(line, sizeof line,
                  "%s: %zu reports, %.1f reports/s, %.1f samples/s, new per report "
                  "0:%.4f 1:%.4f 2:%.4f 3:%.4f, rotated %.4f, %.1f ticks/sample, |a| %.1f, "
                  "accel sd %.1f, gyro sd %.1f\n",
                  name, f.reports, f.reportsPerSecond, f.samplesPerSecond, f.newShare[0],
                  f.newShare[1], f.newShare[2], f.newShare[3], f.rotatedShare, f.ticksPerSample,
                  f.accelMagnitude, f.accelSd, f.gyroSd);
    return line;
}

uint8_t HexByte(const char* p) {
    return uint8_t(std::strtoul(std::string(p, 2).c_str(), nullptr, 16));
}

// The capture's IMU reports (endpoint 0x81 completions of 52 bytes, report
// 0x20) with their capture times, as tshark reads them.
bool ReadRealReports(std::vector<TimedReport>& out) {
    const std::string command = std::string(kTshark) + " -r '" + kCapture +
                                "' -Y \"usb.endpoint_address == 0x81 && usb.urb_type == 'C' && "
                                "usb.data_len == 52\" -T fields -e frame.time_epoch "
                                "-e usb.capdata 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return false;
    }
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        char* hex = nullptr;
        TimedReport r;
        r.seconds = std::strtod(line, &hex);
        while (*hex == '\t' || *hex == ' ') {
            ++hex;
        }
        if (std::strlen(hex) < 104 || HexByte(hex) != 0x20) {
            continue;
        }
        for (size_t i = 0; i < r.bytes.size(); ++i) {
            r.bytes[i] = HexByte(hex + 2 * i);
        }
        out.push_back(r);
    }
    return pclose(pipe) == 0;
}

// The model at its default rate for 20 s, looked at every 10 ms as the bus
// does; each report is timed at the look that produced it.
std::vector<TimedReport> VirtualReports() {
    const Clock::time_point t0{};
    WatchmanModel model(t0);
    std::vector<TimedReport> out;
    std::vector<InputReport> produced;
    for (auto t = 10ms; t <= 20s; t += 10ms) {
        produced.clear();
        model.Produce(t0 + t, produced);
        for (const InputReport& p : produced) {
            TimedReport r;
            r.seconds = std::chrono::duration<double>(t).count();
            std::copy_n(p.bytes, r.bytes.size(), r.bytes.begin());
            out.push_back(r);
        }
    }
    return out;
}

TEST(WatchmanRealism, TheVirtualStreamMeasuresLikeTheRealOne) {
    if (access(kTshark, X_OK) != 0) {
        GTEST_SKIP() << "tshark is not installed (scripts/deps installs it)";
    }
    std::vector<TimedReport> real;
    ASSERT_TRUE(ReadRealReports(real)) << kCapture;
    ASSERT_EQ(real.size(), 18922u);  // as counted when the capture was taken in
    const Figures r = Measure(real);
    const Figures v = Measure(VirtualReports());
    const std::string both = Describe("real", r) + Describe("virtual", v);
    std::printf("%s", both.c_str());
    SCOPED_TRACE(both);

    // Cadence: a report a millisecond, a little fewer for the reports the
    // host takes late; each brings mostly one new sample, a few two, almost
    // never three, and none without.
    EXPECT_NEAR(v.samplesPerSecond, r.samplesPerSecond, 0.01 * r.samplesPerSecond);
    EXPECT_NEAR(v.reportsPerSecond, r.reportsPerSecond, 0.02 * r.reportsPerSecond);
    for (const Figures* f : {&r, &v}) {
        EXPECT_LT(f->newShare[0], 0.001);
        EXPECT_GT(f->newShare[1], 0.95);
        EXPECT_LT(f->newShare[3], 0.002);
    }
    EXPECT_NEAR(v.newShare[2], r.newShare[2], 0.01);
    EXPECT_GT(v.newShare[2], 0.01);

    // The ring: every next sample sits one slot on.
    EXPECT_EQ(r.rotatedShare, 1.0);
    EXPECT_EQ(v.rotatedShare, 1.0);

    // A 48 MHz time stamp: 48,000 ticks a sample at 1 kHz, give or take the
    // real crystal's few hundred parts per million.
    EXPECT_NEAR(r.ticksPerSample, 48000, 48);
    EXPECT_NEAR(v.ticksPerSample, 48000, 48);

    // At rest: 1 g at 8192 counts per g within a real unit's calibration,
    // and sensor noise of the same size.
    EXPECT_NEAR(r.accelMagnitude, kWatchmanCountsPerG, 0.01 * kWatchmanCountsPerG);
    EXPECT_NEAR(v.accelMagnitude, kWatchmanCountsPerG, 0.01 * kWatchmanCountsPerG);
    EXPECT_GT(v.accelSd, r.accelSd / 1.5);
    EXPECT_LT(v.accelSd, r.accelSd * 1.5);
    EXPECT_GT(v.gyroSd, r.gyroSd / 2);
    EXPECT_LT(v.gyroSd, r.gyroSd * 2);
}

}  // namespace
}  // namespace brisk::sim
