#include "sim/softgpu/raster.h"

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
    // Scaled in single precision and rounded half to even, as Direct3D 12 on
    // Mesa does it: 0.9f becomes 229.5f and so 230, 0.5f gives 127.5 and so 128.
    const float scaled = value * 255.0f;
    const float below = std::floor(scaled);
    const float fraction = scaled - below;
    int result = static_cast<int>(below);
    if (fraction > 0.5f || (fraction == 0.5f && result % 2 == 1)) {
        ++result;
    }
    return static_cast<std::uint8_t>(result);
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
