// The per-frame diagnostic picture: eye backgrounds, sweeping bars, and the
// IMU tracks with their gyro needles, all as solid rectangle clears. It also
// carries a console stop request into the present loop.
#pragma once

#include "imu/tundra_imu.h"
#include "present/present_backend.h"

namespace brisk {

// Records four clears when the IMU is not fresh, five when it is. Then, if a
// stop was requested, asks the backend to stop after this frame.
void DrawFrame(const FrameContext& ctx, TundraImu& imu, PresentBackend& backend);

}  // namespace brisk
