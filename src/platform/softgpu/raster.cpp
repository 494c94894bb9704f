#include "platform/softgpu/raster.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace brisk::softgpu {

std::uint8_t FloatToUnorm8(float value) {
    if (!(value > 0.0f)) {  // also NaN
        return 0;
    }
    if (value >= 1.0f) {
        return 255;
    }
    // In double, so that a channel like 0.9f (229.49999 x 255) is not pushed
    // up to the next step by a rounding of the product.
    return static_cast<std::uint8_t>(std::floor(static_cast<double>(value) * 255.0 + 0.5));
}

namespace {

void FillRect(std::vector<std::uint8_t>& pixels, std::uint32_t width, std::uint32_t height,
              const ClearRect& r, const std::uint8_t rgba[4]) {
    const std::int64_t left = std::max<std::int64_t>(r.left, 0);
    const std::int64_t top = std::max<std::int64_t>(r.top, 0);
    const std::int64_t right = std::min<std::int64_t>(r.right, width);
    const std::int64_t bottom = std::min<std::int64_t>(r.bottom, height);
    if (left >= right || top >= bottom) {
        return;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(right - left) * 4;
    std::uint8_t* first = pixels.data() + (static_cast<std::size_t>(top) * width + left) * 4;
    for (std::size_t i = 0; i < rowBytes; i += 4) {
        std::memcpy(first + i, rgba, 4);
    }
    for (std::int64_t y = top + 1; y < bottom; ++y) {
        std::memcpy(first + static_cast<std::size_t>(y - top) * width * 4, first, rowBytes);
    }
}

}  // namespace

std::vector<std::uint8_t> RasterizeClears(std::uint32_t width, std::uint32_t height,
                                          const std::vector<ClearOp>& ops) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4, 0);
    const ClearRect whole{0, 0, width, height};
    for (const ClearOp& op : ops) {
        const std::uint8_t rgba[4] = {FloatToUnorm8(op.color[0]), FloatToUnorm8(op.color[1]),
                                      FloatToUnorm8(op.color[2]), FloatToUnorm8(op.color[3])};
        if (op.rects.empty()) {
            FillRect(pixels, width, height, whole, rgba);
        }
        for (const ClearRect& r : op.rects) {
            FillRect(pixels, width, height, r, rgba);
        }
    }
    return pixels;
}

}  // namespace brisk::softgpu
