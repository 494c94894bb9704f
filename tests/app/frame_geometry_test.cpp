#include <gtest/gtest.h>

#include "app/frame_geometry.h"

namespace brisk {
namespace {

void ExpectRect(const Rect& r, long l, long t, long rt, long b) {
    EXPECT_EQ(r.left, l);
    EXPECT_EQ(r.top, t);
    EXPECT_EQ(r.right, rt);
    EXPECT_EQ(r.bottom, b);
}

TEST(FrameGeometry, HeadsetSurfaceFigures) {
    FrameGeometry g = ComputeFrameGeometry(5088, 2544, 0.0, 0, 0, 0);
    ExpectRect(g.eyes[0], 0, 0, 2544, 2544);
    ExpectRect(g.eyes[1], 2544, 0, 5088, 2544);
    ExpectRect(g.tracks[0], 0, 2332, 2544, 2438);  // th = 106, ty = 2332
    ExpectRect(g.tracks[1], 2544, 2332, 5088, 2438);
    ExpectRect(g.bars[0], 0, 0, 64, 2544);
    ExpectRect(g.bars[1], 2544, 0, 2608, 2544);
    ExpectRect(g.needles[0], 64, 2332, 88, 2438);
    ExpectRect(g.needles[1], 2608, 2332, 2632, 2438);
    // The needle's far end and the bar's last offset within an eye.
    EXPECT_EQ(NeedlePosition(1200, 1600, 0, 2544), 2456);
    EXPECT_EQ(BarOffset(3.99999, 2544), 2479);
}

TEST(FrameGeometry, BarSweepsEveryFourSeconds) {
    EXPECT_EQ(BarOffset(0.0, 100), 0);
    EXPECT_EQ(BarOffset(2.0, 100), 18);  // trunc(0.5 * 36)
    EXPECT_EQ(BarOffset(4.0, 100), 0);
    EXPECT_EQ(BarOffset(5.0, 100), 9);
}

TEST(FrameGeometry, NeedleFollowsGyroMagnitudeAndStopsAtFullScale) {
    const int hw = 2544;
    EXPECT_EQ(NeedlePosition(0, 0, 0, hw), 64);
    EXPECT_EQ(NeedlePosition(1200, 1600, 0, hw), hw - 88);  // magnitude exactly 2000
    EXPECT_EQ(NeedlePosition(-32768, 32767, -32768, hw), hw - 88);
    EXPECT_EQ(NeedlePosition(0, 0, 1000, hw), 64 + (hw - 152) / 2);
}

TEST(FrameGeometry, OddWidthGivesTheRightEyeOneMoreColumn) {
    FrameGeometry g = ComputeFrameGeometry(201, 48, 0.0, 0, 0, 0);
    EXPECT_EQ(g.eyes[0].right - g.eyes[0].left, 100);
    EXPECT_EQ(g.eyes[1].right - g.eyes[1].left, 101);
    EXPECT_EQ(g.tracks[1].right, 201);
}

TEST(FrameGeometry, BothEyesShareOffsets) {
    FrameGeometry g = ComputeFrameGeometry(640, 240, 1.3, 300, -20, 90);
    EXPECT_EQ(g.bars[1].left - g.eyes[1].left, g.bars[0].left);
    EXPECT_EQ(g.needles[1].left - g.eyes[1].left, g.needles[0].left);
}

TEST(FrameGeometry, FreshnessLimitIsStrict) {
    EXPECT_TRUE(ImuIsFresh(true, true, 0.2499));
    EXPECT_FALSE(ImuIsFresh(true, true, 0.25));
    EXPECT_FALSE(ImuIsFresh(false, true, 0.0));
    EXPECT_FALSE(ImuIsFresh(true, false, 0.0));
}

}  // namespace
}  // namespace brisk
