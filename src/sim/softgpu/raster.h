// Rasterising render-target clears into 8-bit RGBA, the way a GPU executes
// ClearRenderTargetView with rectangle lists. Pure: no device, no GPU types,
// so the comparison against a real Direct3D 12 can use it too.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace brisk::softgpu {

// A clear rectangle: right and bottom exclusive.
struct ClearRect {
    std::int64_t left = 0;
    std::int64_t top = 0;
    std::int64_t right = 0;
    std::int64_t bottom = 0;
};

// One clear: the colour (red, green, blue, alpha as given to the clear) over
// its rectangles, or over the whole surface when there are none.
struct ClearOp {
    std::array<float, 4> color{};
    std::vector<ClearRect> rects;
};

// A float colour channel as an 8-bit unsigned-normalised value: clamped to
// [0, 1], scaled by 255 in single precision and rounded to nearest, ties to
// even (0.5 -> 128, 0.9 -> 230). NaN -> 0.
std::uint8_t FloatToUnorm8(float value);

// Applies `ops` in order to a width x height surface that starts as all
// zero bytes. Rectangles are clipped to the surface; empty or inverted ones
// are skipped. Returns width * height * 4 bytes, rows top to bottom, each
// pixel red, green, blue, alpha.
std::vector<std::uint8_t> RasterizeClears(std::uint32_t width, std::uint32_t height,
                                          const std::vector<ClearOp>& ops);

}  // namespace brisk::softgpu
