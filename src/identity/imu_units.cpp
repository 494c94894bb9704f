#include "identity/imu_units.h"

#include <numbers>

namespace brisk::identity {

ImuScale MakeImuScale(const ImuRange& range, const ImuCalibration& calibration) {
    ImuScale s;
    s.gPerCount = 1.0 / range.CountsPerG();
    s.dpsPerCount = 1.0 / range.CountsPerDps();
    if (calibration.shape == CalibrationShape::kNone) {
        return s;
    }
    s.accScale = calibration.accScale;
    s.gyroScale = calibration.gyroScale;
    for (int i = 0; i < 3; ++i) {
        s.accBiasG[i] = calibration.accBias[i] / kStandardGravity;
        s.gyroBiasDps[i] = calibration.gyroBias[i] * 180.0 / std::numbers::pi;
    }
    return s;
}

Vec3 AccelG(const ImuScale& scale, const int16_t counts[3]) {
    Vec3 g;
    for (int i = 0; i < 3; ++i) {
        g[i] = counts[i] * scale.gPerCount * scale.accScale[i] - scale.accBiasG[i];
    }
    return g;
}

Vec3 GyroDps(const ImuScale& scale, const int16_t counts[3]) {
    Vec3 dps;
    for (int i = 0; i < 3; ++i) {
        dps[i] = counts[i] * scale.dpsPerCount * scale.gyroScale[i] - scale.gyroBiasDps[i];
    }
    return dps;
}

}  // namespace brisk::identity
