// The per-frame diagnostic picture: eye backgrounds, sweeping bars, and the
// IMU tracks with their gyro needles, all as solid rectangle clears.
#pragma once

#include "imu/tundra_imu.h"
#include "present/present_backend.h"
#include "platform/gpu_flavour.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {

// Records four clears when the IMU is not fresh, five when it is.
void DrawFrame(const FrameContext& ctx, TundraImu& imu);

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
