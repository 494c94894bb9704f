// The IMU health figures as the run log's summary cells, and back. Each
// axis's cell is "MEAN SD MIN MAX SATURATED SATURATED_AT STUCK_AT" (the two
// times in seconds of stream, "-" when never); an Allan curve's is
// "TAU:SIGMA ..." (seconds, counts); "imu_arw" and "imu_bias_instability"
// hold one value per gyro axis, x y z ("-" when the curve is too short; the
// bias instability as "SIGMA@TAU").
#pragma once

#include <string>

#include "imu/imu_health.h"
#include "log/log_rows.h"

namespace brisk {

void AddHealthCells(LogCells& cells, const ImuHealthFigures& f);

std::string AxisCell(const AxisFigures& a);
std::string AllanCell(const AllanCurve& curve);

}  // namespace brisk
