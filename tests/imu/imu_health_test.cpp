// The IMU health accumulator on synthetic streams whose truth is known: a
// clock off by a set ppm, samples dropped in time, a stuck or saturated
// axis, stamps that wrap and restart.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <random>

#include "imu/imu_health.h"

namespace brisk {
namespace {

// One sample per report, as a Watchman delivers at 1 kHz on a quiet bus,
// with the host's arrival times a little late at random.
struct SyntheticStream {
    double ppm = 0.0;
    int dropEvery = 0;  // every N-th sample lost in time, sequence numbers kept
    ImuHealth health;
    double hostSeconds = 0.0;
    uint32_t stamp = 0x12345678;
    uint8_t seq = 7;
    uint64_t n = 0;
    std::mt19937 rng{42};

    using Shape = std::function<void(ImuSample&, double seconds)>;
    void Run(double seconds, const Shape& shape = nullptr) {
        const double period = 1e-3 / (1.0 + ppm * 1e-6);
        std::normal_distribution<double> noise(0.0, 5.0);
        std::uniform_real_distribution<double> late(0.0, 200e-6);
        const double end = hostSeconds + seconds;
        while (hostSeconds < end) {
            hostSeconds += period;
            stamp += kImuNominalTicksPerSample;
            if (dropEvery > 0 && ++n % dropEvery == 0) {
                continue;
            }
            ImuSample s;
            for (int axis = 0; axis < 3; ++axis) {
                s.accel[axis] =
                    static_cast<int16_t>(std::lround(noise(rng)) + (axis == 1 ? 8192 : 0));
                s.gyro[axis] = static_cast<int16_t>(std::lround(noise(rng)));
            }
            s.timestamp = stamp;
            s.seq = seq++;
            if (shape) {
                shape(s, hostSeconds);
            }
            const double arrival = hostSeconds + late(rng);
            health.AddReport(static_cast<int64_t>(arrival * 1e9), &s, 1);
        }
    }
};

TEST(ImuHealth, ClockAndIntervalsOfHealthyAndFaultyStreams) {
    struct Case {
        const char* name;
        double ppm;
        int dropEvery;
        double seconds;
        unsigned flags;
        uint64_t missingByTime;
    } cases[] = {
        {"healthy, slow like the real one", -950.0, 0, 60.0, 0, 0},
        {"fast beyond USB's tolerance", 3000.0, 0, 20.0, kFlagClock, 0},
        {"every tenth sample lost in time", 0.0, 10, 20.0, kFlagIntervalP99, 2000},
        {"stamps wrap twice", 400.0, 0, 200.0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SyntheticStream stream;
        stream.ppm = c.ppm;
        stream.dropEvery = c.dropEvery;
        stream.Run(c.seconds);
        const ImuHealthFigures f = stream.health.Figures();
        ASSERT_TRUE(f.haveClock);
        EXPECT_NEAR(f.clockPpm, c.ppm, 5.0);
        EXPECT_EQ(f.flags, c.flags) << HealthFlagText(f);
        EXPECT_NEAR(static_cast<double>(f.missingByTime), static_cast<double>(c.missingByTime),
                    1.0);
        EXPECT_EQ(f.missingBySeq, 0u);
        EXPECT_NEAR(f.ticksPerSample, kImuNominalTicksPerSample, 0.01);
        EXPECT_NEAR(f.intervalP50, 1e-3, 1e-6);
        EXPECT_NEAR(f.deliveryP50, 1e-3, 0.1e-3);
        EXPECT_NEAR(f.accelMagnitudeG, 1.0, 0.01);
        EXPECT_NEAR(f.gyro[0].sd, 5.0, 0.2);
        EXPECT_EQ(f.reportsWithSeveral, 0u);
        EXPECT_EQ(HealthFlagText(f).empty(), c.flags == 0);
    }
}

TEST(ImuHealth, ReconnectsAndSilencesDoNotBendTheClock) {
    SyntheticStream stream;
    stream.ppm = -950.0;
    stream.Run(20.0);
    // A reconnect: the device restarts its clock and numbers.
    stream.health.Reconnect();
    stream.stamp = 0;
    stream.seq = 0;
    stream.Run(20.0);
    // Three seconds of silence, the stamps running on meanwhile.
    stream.hostSeconds += 3.0;
    stream.stamp += static_cast<uint32_t>(3 * 48e6 * (1 - 950e-6));
    stream.Run(20.0);
    const ImuHealthFigures f = stream.health.Figures();
    EXPECT_NEAR(f.clockPpm, -950.0, 5.0);
    EXPECT_EQ(f.missingByTime, 0u);
    EXPECT_EQ(f.flags, 0u) << HealthFlagText(f);
    EXPECT_NEAR(f.deliveryMax, 3.0, 0.01);
}

TEST(ImuHealth, StuckAndSaturatedAxesAreFlaggedSoonAfterTheyStart) {
    SyntheticStream stream;
    stream.Run(10.0, [](ImuSample& s, double t) {
        if (t >= 3.0) {
            s.gyro[1] = 17;  // stuck from 3 s
        }
        if (t >= 5.0 && t < 6.5) {
            s.accel[2] = INT16_MAX;  // pinned at full scale: saturated, not stuck
        }
    });
    const ImuHealthFigures f = stream.health.Figures();
    EXPECT_EQ(f.flags, kFlagStuck | kFlagSaturated);
    EXPECT_GE(f.gyro[1].stuckAtSeconds, 4.0);
    EXPECT_LE(f.gyro[1].stuckAtSeconds, 5.0);
    EXPECT_NEAR(f.accel[2].saturatedAtSeconds, 5.0, 0.01);
    EXPECT_NEAR(static_cast<double>(f.accel[2].saturated), 1500.0, 1.0);
    EXPECT_LT(f.accel[2].stuckAtSeconds, 0.0);
    EXPECT_EQ(f.accel[2].max, INT16_MAX);
    EXPECT_LT(f.gyro[0].stuckAtSeconds, 0.0);
    EXPECT_EQ(HealthFlagText(f), "accel z saturated (1500 samples); gyro y stuck");
}

TEST(ImuHealth, ReportsOfSeveralAndOfNoNewSamplesAreCounted) {
    ImuHealth health;
    ImuSample s[3];
    for (int i = 0; i < 3; ++i) {
        s[i].timestamp = 48000u * static_cast<uint32_t>(i);
        s[i].seq = static_cast<uint8_t>(i);
        s[i].gyro[0] = static_cast<int16_t>(i);
    }
    health.AddReport(1'000'000, s, 1);
    health.AddReport(4'000'000, s + 1, 2);
    health.AddReport(5'000'000, nullptr, 0);
    const ImuHealthFigures f = health.Figures();
    EXPECT_EQ(f.reports, 3u);
    EXPECT_EQ(f.samples, 3u);
    EXPECT_EQ(f.reportsWithSeveral, 1u);
    EXPECT_EQ(f.reportsWithNone, 1u);
    EXPECT_NEAR(f.deliveryMax, 3e-3, 1e-9);
    EXPECT_FALSE(f.haveClock);  // far too short to say
}

TEST(IntervalHistogram, QuantilesAreWithinHalfABucket) {
    IntervalHistogram h;
    for (uint32_t v : {0u, 1u, 255u, 256u, 47999u, 48000u, 96000u, 0xFFFFFFFFu}) {
        const size_t b = IntervalHistogram::BucketOf(v);
        ASSERT_LT(b, IntervalHistogram::kBuckets);
        EXPECT_GE(v, IntervalHistogram::BucketLow(b)) << v;
        EXPECT_LT(v - IntervalHistogram::BucketLow(b), IntervalHistogram::BucketWidth(b)) << v;
        EXPECT_LE(IntervalHistogram::BucketWidth(b), v / 128 + 1) << v;
    }
    for (uint32_t i = 1; i <= 1000; ++i) {
        h.Add(i * 1000);
    }
    EXPECT_NEAR(h.Quantile(0.5), 500000.0, 500000.0 * 0.004);
    EXPECT_NEAR(h.Quantile(0.99), 990000.0, 990000.0 * 0.004);
    EXPECT_EQ(h.Quantile(1.0), 1000000.0);
    EXPECT_EQ(h.Max(), 1000000u);
    EXPECT_EQ(IntervalHistogram().Quantile(0.5), 0.0);
}

TEST(AllanDeviation, WhiteNoiseFallsAsOneOverRootTau) {
    AllanAccumulator acc;
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 100.0);
    for (int i = 0; i < (1 << 20); ++i) {
        acc.Add(static_cast<int16_t>(std::lround(noise(rng))));
    }
    const AllanCurve curve = ReadAllanCurve(acc, 1e-3, (1 << 20) * 1e-3 / 10.0);
    ASSERT_EQ(curve.size, 17u);  // 1 ms .. 65.5 s, a tenth of 1049 s
    for (size_t k : {0u, 4u, 8u, 12u}) {
        EXPECT_NEAR(curve.points[k].sigma, 100.0 / std::sqrt(std::ldexp(1.0, int(k))),
                    100.0 / std::sqrt(std::ldexp(1.0, int(k))) * 0.05)
            << k;
    }
    double at1s = 0.0;
    ASSERT_TRUE(AllanAt(curve, 1.0, at1s));
    EXPECT_NEAR(at1s, 100.0 * std::sqrt(1e-3), 0.3);
    AllanPoint lowest;
    ASSERT_TRUE(AllanMinimum(curve, lowest));
    EXPECT_EQ(lowest.tauSeconds, curve.points[curve.size - 1].tauSeconds);

    AllanAccumulator constant;
    for (int i = 0; i < 1000; ++i) {
        constant.Add(-5);
    }
    double sigma = -1.0;
    ASSERT_TRUE(constant.Deviation(3, sigma));
    EXPECT_EQ(sigma, 0.0);
    EXPECT_FALSE(constant.Deviation(9, sigma));  // 1000 samples: fewer than two clusters of 512
}

}  // namespace
}  // namespace brisk
