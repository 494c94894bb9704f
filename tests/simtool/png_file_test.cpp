#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sim/png_file.h"

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#endif
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#include <stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

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

    int rw = 0, rh = 0, channels = 0;
    unsigned char* back = stbi_load(path.c_str(), &rw, &rh, &channels, 4);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(rw, w);
    EXPECT_EQ(rh, h);
    EXPECT_EQ(channels, 4);
    EXPECT_EQ(std::vector<uint8_t>(back, back + rgba.size()), rgba);
    stbi_image_free(back);
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
