#include "app/frame_geometry.h"

#include <cmath>

namespace brisk {

int BarOffset(double seconds, int halfWidth) {
    return static_cast<int>(std::fmod(seconds * 0.25, 1.0) * (halfWidth - kBarWidth));
}

int NeedlePosition(int16_t gx, int16_t gy, int16_t gz, int halfWidth) {
    float x = gx, y = gy, z = gz;
    float m = std::sqrt(x * x + y * y + z * z);
    float f = m / kGyroFullScale;
    if (f > 1.0f) {
        f = 1.0f;
    }
    float span = static_cast<float>(halfWidth - 2 * kNeedleMargin - kNeedleWidth);
    return kNeedleMargin + static_cast<int>(std::trunc(f * span));
}

bool ImuIsFresh(bool haveSample, bool running, double age) {
    return haveSample && running && age < kFreshLimitSeconds;
}

FrameGeometry ComputeFrameGeometry(int width, int height, double seconds, int16_t gx, int16_t gy,
                                   int16_t gz) {
    const int hw = width / 2;
    const int bx = BarOffset(seconds, hw);
    const int th = height / 24;
    const int ty = height - 2 * th;
    const int n = NeedlePosition(gx, gy, gz, hw);

    FrameGeometry g;
    g.eyes[0] = {0, 0, hw, height};
    g.eyes[1] = {hw, 0, width, height};
    g.bars[0] = {bx, 0, bx + kBarWidth, height};
    g.bars[1] = {hw + bx, 0, hw + bx + kBarWidth, height};
    g.tracks[0] = {0, ty, hw, ty + th};
    g.tracks[1] = {hw, ty, width, ty + th};
    g.needles[0] = {n, ty, n + kNeedleWidth, ty + th};
    g.needles[1] = {hw + n, ty, hw + n + kNeedleWidth, ty + th};
    return g;
}

}  // namespace brisk
