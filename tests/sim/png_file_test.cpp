#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sim/png_file.h"
#include "support/png_image.h"

namespace brisk::sim {
namespace {

TEST(PngFile, RoundTripsEveryPixel) {
    const int w = 7, h = 3;
    std::vector<uint8_t> rgba(w * h * 4);
    for (size_t i = 0; i < rgba.size(); ++i) {
        rgba[i] = static_cast<uint8_t>(i * 37 + 11);
    }
    const std::string path = testing::TempDir() + "brisk_png_roundtrip.png";
    ASSERT_TRUE(WriteRgbaPng(path, w, h, rgba.data()));

    support::PngImage back(path);
    ASSERT_TRUE(back.Loaded());
    EXPECT_EQ(back.Width(), w);
    EXPECT_EQ(back.Height(), h);
    EXPECT_EQ(back.Rgba(), rgba);
    std::remove(path.c_str());
}

TEST(PngFile, RefusesNonsenseAndUnwritablePaths) {
    uint8_t px[4] = {1, 2, 3, 4};
    EXPECT_FALSE(WriteRgbaPng(testing::TempDir() + "x.png", 0, 1, px));
    EXPECT_FALSE(WriteRgbaPng(testing::TempDir() + "x.png", 1, 1, nullptr));
    EXPECT_FALSE(WriteRgbaPng("/nonexistent-dir/x.png", 1, 1, px));
}

}  // namespace
}  // namespace brisk::sim
