// Where the diagnostic picture's rectangles go in one frame: both eyes'
// backgrounds, the sweeping bars, the IMU tracks and the gyro needles.
#pragma once

#include <cstdint>

namespace brisk {

struct Rect {
    long left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
};

constexpr int kBarWidth = 64;
constexpr int kNeedleMargin = 64;
constexpr int kNeedleWidth = 24;
constexpr float kGyroFullScale = 2000.0f;  // raw gyro counts that put the needle at its end
constexpr double kFreshLimitSeconds = 0.25;

struct FrameGeometry {
    Rect eyes[2];     // left, right background
    Rect bars[2];     // sweeping bars, same offset in both eyes
    Rect tracks[2];   // IMU tracks near the bottom
    Rect needles[2];  // only drawn while the IMU is fresh
};

// Bar offset within an eye: sweeps from 0 towards hw - 65 every 4 seconds.
int BarOffset(double seconds, int halfWidth);

// Needle's left edge within an eye for a gyro reading: 64 at rest, hw - 88
// at 2000 counts of magnitude or more.
int NeedlePosition(int16_t gx, int16_t gy, int16_t gz, int halfWidth);

// Fresh: a sample exists, the reader runs and the sample is younger than 0.25 s.
bool ImuIsFresh(bool haveSample, bool running, double age);

FrameGeometry ComputeFrameGeometry(int width, int height, double seconds, int16_t gx, int16_t gy,
                                   int16_t gz);

}  // namespace brisk
