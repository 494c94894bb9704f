#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "sim/softgpu/raster.h"

namespace brisk::softgpu {
namespace {

using Pixels = std::vector<std::uint8_t>;

std::array<std::uint8_t, 4> At(const Pixels& p, std::uint32_t width, int x, int y) {
    const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 4;
    return {p[i], p[i + 1], p[i + 2], p[i + 3]};
}

TEST(FloatToUnorm8, RoundsToNearestAndClamps) {
    EXPECT_EQ(FloatToUnorm8(0.0f), 0);
    EXPECT_EQ(FloatToUnorm8(0.5f), 128);
    EXPECT_EQ(FloatToUnorm8(1.0f), 255);
    EXPECT_EQ(FloatToUnorm8(-0.25f), 0);
    EXPECT_EQ(FloatToUnorm8(7.0f), 255);
    EXPECT_EQ(FloatToUnorm8(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(FloatToUnorm8(std::numeric_limits<float>::infinity()), 255);
    // The painter's channels: 63.75, 20.4, 102.0, 7.65, 89.25, and 0.9f whose
    // product 229.49999 rounds to 229.5f in single precision, so 230.
    EXPECT_EQ(FloatToUnorm8(0.25f), 64);
    EXPECT_EQ(FloatToUnorm8(0.08f), 20);
    EXPECT_EQ(FloatToUnorm8(0.4f), 102);
    EXPECT_EQ(FloatToUnorm8(0.03f), 8);
    EXPECT_EQ(FloatToUnorm8(0.35f), 89);
    EXPECT_EQ(FloatToUnorm8(0.9f), 230);
    // Exact halves go to the even neighbour.
    EXPECT_EQ(FloatToUnorm8(0.5f / 255.0f), 0);
    EXPECT_EQ(FloatToUnorm8(1.5f / 255.0f), 2);
    EXPECT_EQ(FloatToUnorm8(2.5f / 255.0f), 2);
}

TEST(RasterizeClears, EmptyListLeavesZeroes) {
    const Pixels p = RasterizeClears(3, 2, {});
    EXPECT_EQ(p, Pixels(3 * 2 * 4, 0));
    EXPECT_TRUE(RasterizeClears(0, 5, {{{1, 1, 1, 1}, {}}}).empty());
}

TEST(RasterizeClears, NoRectanglesClearsTheWholeSurface) {
    const Pixels p = RasterizeClears(4, 3, {{{1.0f, 0.5f, 0.0f, 1.0f}, {}}});
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(At(p, 4, x, y), (std::array<std::uint8_t, 4>{255, 128, 0, 255}));
        }
    }
}

TEST(RasterizeClears, LaterClearsPaintOverEarlierOnesAndRectanglesAreExclusive) {
    const std::vector<ClearOp> ops = {
        {{0.0f, 0.0f, 1.0f, 1.0f}, {}},
        {{1.0f, 0.0f, 0.0f, 1.0f}, {{1, 1, 3, 2}, {2, 0, 4, 1}}},
        {{0.0f, 1.0f, 0.0f, 1.0f}, {{2, 1, 3, 3}}},
    };
    const Pixels p = RasterizeClears(4, 3, ops);
    const std::array<std::uint8_t, 4> b{0, 0, 255, 255}, r{255, 0, 0, 255}, g{0, 255, 0, 255};
    const std::array<std::uint8_t, 4> expected[3][4] = {
        {b, b, r, r},
        {b, r, g, b},
        {b, b, g, b},
    };
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(At(p, 4, x, y), expected[y][x]) << x << "," << y;
        }
    }
}

TEST(RasterizeClears, ClipsToTheSurfaceAndSkipsEmptyOrInvertedRectangles) {
    const std::vector<ClearOp> ops = {{{1, 1, 1, 1},
                                       {{-5, -5, 1, 1},     // top-left pixel only
                                        {3, 2, 100, 100},   // bottom-right pixel only
                                        {2, 0, 2, 3},       // empty
                                        {3, 1, 1, 2},       // inverted
                                        {10, 10, 20, 20},   // outside
                                        {-9, 0, -1, 3}}}};  // outside
    const Pixels p = RasterizeClears(4, 3, ops);
    int lit = 0;
    for (std::size_t i = 0; i < p.size(); i += 4) {
        lit += p[i] == 255;
    }
    EXPECT_EQ(lit, 2);
    EXPECT_EQ(At(p, 4, 0, 0)[0], 255);
    EXPECT_EQ(At(p, 4, 3, 2)[0], 255);
}

// Against the plain definition: a pixel takes the colour of the last clear
// that covers it.
TEST(RasterizeClears, MatchesPerPixelDefinitionOnRandomClears) {
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> coord(-4, 24);
    std::uniform_real_distribution<float> channel(-0.2f, 1.2f);
    const std::uint32_t w = 19, h = 13;
    for (int round = 0; round < 50; ++round) {
        std::vector<ClearOp> ops(1 + rng() % 6);
        for (ClearOp& op : ops) {
            op.color = {channel(rng), channel(rng), channel(rng), channel(rng)};
            op.rects.resize(rng() % 4);
            for (ClearRect& r : op.rects) {
                r = {coord(rng), coord(rng), coord(rng), coord(rng)};
            }
        }
        const Pixels p = RasterizeClears(w, h, ops);
        for (int y = 0; y < static_cast<int>(h); ++y) {
            for (int x = 0; x < static_cast<int>(w); ++x) {
                std::array<std::uint8_t, 4> want{0, 0, 0, 0};
                for (const ClearOp& op : ops) {
                    bool covered = op.rects.empty();
                    for (const ClearRect& r : op.rects) {
                        covered |= x >= r.left && x < r.right && y >= r.top && y < r.bottom;
                    }
                    if (covered) {
                        for (int c = 0; c < 4; ++c) {
                            const float v = std::fmin(std::fmax(op.color[c], 0.0f), 1.0f);
                            want[c] = static_cast<std::uint8_t>(std::nearbyint(v * 255.0f));
                        }
                    }
                }
                ASSERT_EQ(At(p, w, x, y), want) << "round " << round << " at " << x << "," << y;
            }
        }
    }
}

}  // namespace
}  // namespace brisk::softgpu
