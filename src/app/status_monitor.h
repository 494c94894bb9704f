// Once a second: one status line (frame rate, IMU rate and age, gaps, stalls,
// |a|, gyro, proximity, free-run) and a line whenever the headset is put on
// or taken off. Runs on a thread of its own until stopRequested is raised.
#pragma once

#include "imu/tundra_imu.h"
#include "present/present_backend.h"
#include "prox/mcu_prox.h"
#include "platform/gpu_flavour.h"

namespace brisk {

class LogWriter;
class WatchmanLight;

inline namespace BRISK_GPU_NAMESPACE {

// `backend` is null in a sensors-only run: the frame rate then reads n/a.
// `log`, when not null, gets each status line with its figures. `light`,
// not null only with --optical, adds the light's figures (of `photodiodes`).
void StatusMonitor(const bool& haveProx, McuProx& prox, TundraImu& imu, PresentBackend* backend,
                   LogWriter* log, const WatchmanLight* light = nullptr, uint32_t photodiodes = 0);

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
