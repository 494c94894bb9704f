#include "present/free_run.h"

#include <gtest/gtest.h>

#include <vector>

namespace brisk {
namespace {

constexpr double kPeriod = 1.0 / 75.0;
constexpr double kFast = 0.001;            // loop spinning: vsync lost
constexpr double kPaced = kPeriod;         // one scan-out per frame
constexpr double kMiddle = 0.7 * kPeriod;  // neither fast nor slow once avg has settled

// Feeds `count` frames of `dt`, all at `elapsed`; returns the changes seen
// with the 1-based frame at which each happened.
struct Seen {
    FreeRunChange change;
    int frame;
};
std::vector<Seen> Feed(FreeRunDetector& d, double dt, int count, double elapsed) {
    std::vector<Seen> seen;
    for (int i = 1; i <= count; ++i) {
        const FreeRunChange c = d.OnFrame(dt, elapsed);
        if (c != FreeRunChange::None) {
            seen.push_back({c, i});
        }
    }
    return seen;
}

FreeRunChange First(const std::vector<Seen>& seen) {
    return seen.empty() ? FreeRunChange::None : seen.front().change;
}

TEST(FreeRun, PacedFramesNeverEnter) {
    FreeRunDetector d(kPeriod);
    EXPECT_TRUE(Feed(d, kPaced, 1000, 1.0).empty());
    EXPECT_TRUE(Feed(d, kMiddle, 1000, 2.0).empty());
    EXPECT_FALSE(d.FreeRunning());
    EXPECT_EQ(d.Events(), 0u);
}

TEST(FreeRun, EntersOnTheThirtiethFrameWhoseSmoothedTimeIsUnderHalfThePeriod) {
    FreeRunDetector d(kPeriod);
    // The smoothed time starts at the period and needs 8 frames of 1 ms to
    // fall under half of it; from there 30 fast frames are counted.
    const std::vector<Seen> seen = Feed(d, kFast, 40, 1.0);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].change, FreeRunChange::Entered);
    EXPECT_EQ(seen[0].frame, 8 + 29);
    EXPECT_TRUE(d.FreeRunning());
    EXPECT_EQ(d.Events(), 1u);
}

TEST(FreeRun, ASlowFrameRestartsTheFastCount) {
    FreeRunDetector d(kPeriod);
    Feed(d, kFast, 30, 1.0);  // 23 fast frames counted
    // 60 ms: slow, and lifts the smoothed time just over half the period, so
    // that the second 1 ms frame after it is fast again.
    EXPECT_TRUE(Feed(d, 0.060, 1, 1.0).empty());
    const std::vector<Seen> seen = Feed(d, kFast, 40, 2.0);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].frame, 2 + 29);  // 30 new fast frames, not the 7 missing before
}

TEST(FreeRun, LeavesAfterTenSlowFramesCountedSinceTheLastFastOne) {
    FreeRunDetector d(kPeriod);
    Feed(d, kFast, 40, 1.0);
    ASSERT_TRUE(d.FreeRunning());
    // Paced frames are still "fast" while the smoothed time climbs back over
    // half the period (5 frames); then each one counts as slow.
    std::vector<Seen> seen = Feed(d, kPaced, 14, 2.0);
    EXPECT_TRUE(seen.empty());
    // Frames neither fast nor slow leave the slow count alone.
    EXPECT_TRUE(Feed(d, kMiddle, 3, 2.0).empty());
    seen = Feed(d, kPaced, 1, 2.5);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].change, FreeRunChange::Left);
    EXPECT_FALSE(d.FreeRunning());
    EXPECT_EQ(d.Events(), 1u);
}

TEST(FreeRun, AfterLeavingTheSmoothedTimeStartsAgainFromThePeriod) {
    FreeRunDetector d(kPeriod);
    Feed(d, kFast, 40, 1.0);
    Feed(d, kPaced, 15, 2.0);
    ASSERT_FALSE(d.FreeRunning());
    const std::vector<Seen> seen = Feed(d, kFast, 40, 20.0);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].frame, 8 + 29);
}

TEST(FreeRun, ANewFreeRunWithinTenSecondsOfTheLastEndIsCountedButNotAnnounced) {
    FreeRunDetector d(kPeriod);
    EXPECT_EQ(First(Feed(d, kFast, 40, 5.0)), FreeRunChange::Entered);
    EXPECT_EQ(First(Feed(d, kPaced, 15, 20.0)), FreeRunChange::Left);  // ends at 20 s

    EXPECT_EQ(First(Feed(d, kFast, 40, 23.0)), FreeRunChange::EnteredSilent);
    EXPECT_EQ(First(Feed(d, kPaced, 15, 25.0)), FreeRunChange::LeftSilent);  // ends at 25 s

    // Exactly 10 s later is still within the quiet time; later is not.
    EXPECT_EQ(First(Feed(d, kFast, 40, 35.0)), FreeRunChange::EnteredSilent);
    EXPECT_EQ(First(Feed(d, kPaced, 15, 40.0)), FreeRunChange::LeftSilent);
    EXPECT_EQ(First(Feed(d, kFast, 40, 50.5)), FreeRunChange::Entered);
    EXPECT_EQ(First(Feed(d, kPaced, 15, 51.0)), FreeRunChange::Left);
    EXPECT_EQ(d.Events(), 4u);
}

}  // namespace
}  // namespace brisk
