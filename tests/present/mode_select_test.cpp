#include "present/mode_select.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace brisk {
namespace {

constexpr auto Mode = MakeDirectModeMode;

ModeChoice Choose(const std::vector<DirectModeMode>& modes) {
    return ChooseMode(modes.data(), modes.size(), PresenterConfig{});
}

TEST(ModeSelect, RateIsNumeratorOverDenominatorAndZeroWithoutDenominator) {
    EXPECT_DOUBLE_EQ(ModeRefreshHz(Mode(1, 1, 75, 1, 22)), 75.0);
    EXPECT_DOUBLE_EQ(ModeRefreshHz(Mode(1, 1, 90000, 1000, 22)), 90.0);
    EXPECT_DOUBLE_EQ(ModeRefreshHz(Mode(1, 1, 75, 0, 22)), 0.0);
}

TEST(ModeSelect, PicksTheOneExactFitAmongOthers) {
    const ModeChoice c = Choose({Mode(3840, 1920, 75, 1, 22), Mode(5088, 2544, 60, 1, 22),
                                 Mode(5088, 2544, 75, 1, 22), Mode(5088, 2544, 75, 1, 23),
                                 Mode(2544, 5088, 75, 1, 22), Mode(5088, 2545, 75, 1, 22)});
    EXPECT_EQ(c.index, 2);
    EXPECT_DOUBLE_EQ(c.refreshHz, 75.0);
}

TEST(ModeSelect, WhenSeveralMatchTheLastOneWinsWithItsOwnRate) {
    ModeChoice c = Choose({Mode(5088, 2544, 749, 10, 22), Mode(5088, 2544, 753, 10, 22)});
    EXPECT_EQ(c.index, 1);
    EXPECT_DOUBLE_EQ(c.refreshHz, 75.3);
    c = Choose({Mode(5088, 2544, 753, 10, 22), Mode(5088, 2544, 749, 10, 22)});
    EXPECT_EQ(c.index, 1);
    EXPECT_DOUBLE_EQ(c.refreshHz, 74.9);
}

TEST(ModeSelect, RateMustBeWithinHalfAHertzStrictly) {
    EXPECT_EQ(Choose({Mode(5088, 2544, 149, 2, 22)}).index, -1);  // 74.5
    EXPECT_EQ(Choose({Mode(5088, 2544, 151, 2, 22)}).index, -1);  // 75.5
    EXPECT_EQ(Choose({Mode(5088, 2544, 7451, 100, 22)}).index, 0);
    EXPECT_EQ(Choose({Mode(5088, 2544, 7549, 100, 22)}).index, 0);
}

TEST(ModeSelect, RefusesWithoutDenominatorOrWithAnotherFormat) {
    EXPECT_EQ(Choose({Mode(5088, 2544, 75, 0, 22)}).index, -1);
    EXPECT_EQ(Choose({Mode(5088, 2544, 75, 1, 21)}).index, -1);
    EXPECT_EQ(Choose({}).index, -1);
    PresenterConfig zeroHz;
    zeroHz.refreshHz = 0.0;
    const DirectModeMode noDen = Mode(5088, 2544, 75, 0, 22);
    EXPECT_EQ(ChooseMode(&noDen, 1, zeroHz).index, 0);  // 0 Hz is a rate like any other
}

TEST(ModeSelect, AnyRefreshTakesTheLastModeOfThatSizeAndFormat) {
    PresenterConfig any{3840, 1920};
    any.anyRefresh = true;
    const std::vector<DirectModeMode> modes = {
        Mode(3840, 1920, 60, 1, 22), Mode(3840, 1920, 90, 1, 22), Mode(3840, 1920, 120, 1, 23),
        Mode(5088, 2544, 144, 1, 22)};
    EXPECT_EQ(ChooseMode(modes.data(), modes.size(), any).index, 1);
}

TEST(ModeSelect, ForcingDscChangesOnlyTheDscWords) {
    DirectModeMode m = Mode(5088, 2544, 75, 1, 22);
    m.opaque[0] = 7;
    m.opaque[1] = 9;
    DirectModeMode forced = m;
    ForceDsc(forced);
    EXPECT_EQ(forced.dscEnable, 1u);
    EXPECT_EQ(forced.dscVersion, 0x11u);
    EXPECT_EQ(forced.dscSliceCount, 4u);
    EXPECT_EQ(forced.dscBitsPerPixelX16, 128u);
    forced.dscEnable = forced.dscVersion = forced.dscSliceCount = forced.dscBitsPerPixelX16 = 0;
    EXPECT_EQ(std::memcmp(&forced, &m, sizeof m), 0);
}

TEST(ModeSelect, TypelessSurfacesMapToTheirTypedViewsAndNothingElseDoes) {
    EXPECT_EQ(TypedRtvFormat(9), 10);
    EXPECT_EQ(TypedRtvFormat(23), 24);
    EXPECT_EQ(TypedRtvFormat(27), 28);
    EXPECT_EQ(TypedRtvFormat(90), 87);
    EXPECT_EQ(TypedRtvFormat(92), 88);
    for (int32_t refused : {0, 1, 10, 24, 28, 87, 88, 91, -1}) {
        EXPECT_EQ(TypedRtvFormat(refused), 0) << refused;
    }
}

}  // namespace
}  // namespace brisk
