// IMU counts in g and degrees per second, from the range the device
// reports (0x01) and the calibration its configuration holds.
//
// The calibration's units, as the real units show them: scaling a resting
// unit's counts by its range and acc_scale and subtracting acc_bias read as
// m/s^2 gives 1 g within 1.4 % on all four real captures (read as g, the
// bias would move them up to 18 % off). gyro_bias is in rad/s, the other SI
// unit beside it. The older top-level calibration is taken the same way.
#pragma once

#include <cstdint>

#include "identity/feature_reports.h"
#include "identity/watchman_config.h"

namespace brisk::identity {

constexpr double kStandardGravity = 9.80665;  // m/s^2 per g

struct ImuScale {
    double gPerCount = 0.0;    // from the range, or from --counts-per-g
    double dpsPerCount = 0.0;  // from the range
    Vec3 accScale{1, 1, 1};
    Vec3 accBiasG{0, 0, 0};
    Vec3 gyroScale{1, 1, 1};
    Vec3 gyroBiasDps{0, 0, 0};
};

// The range alone gives the scale; a calibration (shape other than kNone)
// adds its factors and biases.
ImuScale MakeImuScale(const ImuRange& range, const ImuCalibration& calibration);

Vec3 AccelG(const ImuScale& scale, const int16_t counts[3]);
Vec3 GyroDps(const ImuScale& scale, const int16_t counts[3]);

}  // namespace brisk::identity
