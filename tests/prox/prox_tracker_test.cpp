// The reader's per-report logic: moving mean, hysteresis, warm-up.
#include <gtest/gtest.h>

#include "prox/prox_tracker.h"

namespace brisk {
namespace {

// One telemetry report with report ID 0 carrying `distance`.
struct Telemetry {
    explicit Telemetry(uint16_t distance)
        : bytes{0x00,
                0x23,
                0,
                0,
                0,
                static_cast<uint8_t>(distance >> 8),
                static_cast<uint8_t>(distance & 0xFF)} {}
    uint8_t bytes[7];
};

TelemetryUpdate Feed(TelemetryTracker& t, uint16_t distance, bool worn) {
    Telemetry const r(distance);
    return t.OnReport(r.bytes, sizeof r.bytes, worn);
}

TEST(WornDecision, HysteresisBandAtTheDefaults) {
    EXPECT_FALSE(DecideWorn(false, 1599, kProxThreshold, kProxHysteresis));
    EXPECT_TRUE(DecideWorn(false, 1600, kProxThreshold, kProxHysteresis));
    EXPECT_TRUE(DecideWorn(true, 1401, kProxThreshold, kProxHysteresis));
    EXPECT_FALSE(DecideWorn(true, 1400, kProxThreshold, kProxHysteresis));
    EXPECT_FALSE(DecideWorn(false, 1500, kProxThreshold, kProxHysteresis));
    EXPECT_TRUE(DecideWorn(true, 1500, kProxThreshold, kProxHysteresis));
}

TEST(WornDecision, BandEdgesOutsideSixteenBitsDoNotWrap) {
    // A band reaching below zero: worn never turns away again.
    EXPECT_TRUE(DecideWorn(true, 0, 50, 100));
    // A band reaching above 65535: away never turns worn.
    EXPECT_FALSE(DecideWorn(false, 65535, 65500, 100));
}

TEST(DistanceMeanTest, MeanOfTheLastEightRoundedDown) {
    DistanceMean m;
    for (int i = 0; i < 7; ++i) {
        m.Push(65535);
        EXPECT_FALSE(m.Full());
    }
    m.Push(65535);
    ASSERT_TRUE(m.Full());
    EXPECT_EQ(m.Mean(), 65535u);  // the sum must not overflow
    for (uint16_t d : {10, 10, 10, 10, 10, 10, 10, 13}) {
        m.Push(d);
    }
    EXPECT_EQ(m.Mean(), 10u);  // 83 / 8, and nothing of the older entries
    m.Restart();
    EXPECT_FALSE(m.Full());
}

TEST(TelemetryTrackerTest, NoDecisionBeforeTheEighthMessage) {
    TelemetryTracker t(kProxThreshold, kProxHysteresis);
    for (int i = 0; i < 7; ++i) {
        TelemetryUpdate const u = Feed(t, 3000, false);
        EXPECT_TRUE(u.telemetry);
        EXPECT_EQ(u.distance, 3000);
        EXPECT_FALSE(u.decided);
    }
    TelemetryUpdate const u = Feed(t, 3000, false);
    EXPECT_TRUE(u.decided);
    EXPECT_TRUE(u.worn);

    // A reconnect starts the warm-up again.
    t.Restart();
    for (int i = 0; i < 7; ++i) {
        EXPECT_FALSE(Feed(t, 0, true).decided);
    }
    TelemetryUpdate const after = Feed(t, 0, true);
    EXPECT_TRUE(after.decided);
    EXPECT_FALSE(after.worn);
}

TEST(TelemetryTrackerTest, DecisionFollowsThePublishedState) {
    TelemetryTracker t(kProxThreshold, kProxHysteresis);
    for (int i = 0; i < 8; ++i) {
        Feed(t, 1500, false);
    }
    EXPECT_TRUE(Feed(t, 1500, true).worn);
    EXPECT_FALSE(Feed(t, 1500, false).worn);
}

TEST(TelemetryTrackerTest, OnlyTelemetryCountsTowardsTheWarmUp) {
    TelemetryTracker t(kProxThreshold, kProxHysteresis);
    uint8_t const lone[] = {0x00};
    uint8_t const fiveBytes[] = {0x00, 0x23, 0x00, 0x00, 0x00, 0x05};
    EXPECT_FALSE(t.OnReport(lone, sizeof lone, false).telemetry);
    EXPECT_FALSE(t.OnReport(fiveBytes, sizeof fiveBytes, false).telemetry);
    EXPECT_FALSE(t.OnReport(nullptr, 0, false).telemetry);

    // Ignored reports do not count towards the warm-up, before or after a restart.
    for (int round = 0; round < 2; ++round) {
        t.Restart();
        for (int i = 0; i < 7; ++i) {
            Feed(t, 2000, false);
            t.OnReport(lone, sizeof lone, false);
            t.OnReport(fiveBytes, sizeof fiveBytes, false);
        }
        EXPECT_TRUE(Feed(t, 2000, false).decided);
    }
}

}  // namespace
}  // namespace brisk
