// Noise of known size from the virtual Watchman's noise model, stepped
// sample by sample into the health accumulator: the angle random walk and
// the bias instability it reads off the Allan curve are the injected ones.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>

#include "imu/imu_health.h"
#include "sim/imu_noise.h"

namespace brisk {
namespace {

TEST(ImuHealthInjected, AngleRandomWalkAndBiasInstabilityComeBack) {
    // White noise N and a bias walk K chosen so that the curve's minimum
    // falls on a cluster time the tool reads (8192 samples, 8.192 s): the
    // minimum sqrt(2NK/sqrt(3)) lies at sqrt(3)N/K.
    constexpr double kRate = 1000.0;
    constexpr double kN = 4.0;                            // counts/sqrt(Hz)
    const double kK = std::sqrt(3.0) * kN / 8.192;        // counts/sqrt(s)
    const double arw = std::sqrt(kN * kN + kK * kK / 3);  // sigma at 1 s
    const double minimum = std::sqrt(2 * kN * kK / std::sqrt(3.0));

    sim::ImuNoise noise(sim::ImuNoise::kDefaultSeed, kRate);
    for (int axis = 0; axis < 3; ++axis) {
        noise.SetTerms(axis, {0.4, 0.0});  // about 12 counts a sample, as the real one
        noise.SetTerms(3 + axis, {kN, kK});
    }
    auto health = std::make_unique<ImuHealth>();
    const int16_t base[6] = {0, 8192, 0, 20, -30, 5};
    ImuSample s;
    constexpr uint32_t kSamples = 4'000'000;  // 4000 s: about 490 clusters at the minimum
    for (uint32_t i = 0; i < kSamples; ++i) {
        int16_t values[6];
        noise.Step(base, values);
        for (int axis = 0; axis < 3; ++axis) {
            s.accel[axis] = values[axis];
            s.gyro[axis] = values[3 + axis];
        }
        s.timestamp = i * kImuNominalTicksPerSample;
        s.seq = static_cast<uint8_t>(i);
        health->AddReport(int64_t{i} * 1'000'000, &s, 1);
    }
    const ImuHealthFigures f = health->Figures();
    for (int axis = 0; axis < 3; ++axis) {
        std::printf(
            "gyro %c: ARW %.3f (injected %.3f), bias instability %.3f at %.3f s (%.3f at %.3f s)\n",
            "xyz"[axis], f.angleRandomWalk[axis], arw, f.biasInstability[axis].sigma,
            f.biasInstability[axis].tauSeconds, minimum, std::sqrt(3.0) * kN / kK);
        SCOPED_TRACE(axis);
        EXPECT_NEAR(f.angleRandomWalk[axis], arw, arw * 0.10);
        EXPECT_NEAR(f.biasInstability[axis].sigma, minimum, minimum * 0.10);
        EXPECT_GE(f.biasInstability[axis].tauSeconds, 4.0);
        EXPECT_LE(f.biasInstability[axis].tauSeconds, 16.5);
        EXPECT_NEAR(f.gyro[axis].sd, kN * std::sqrt(kRate), kN * std::sqrt(kRate) * 0.05);
    }
    EXPECT_EQ(f.flags, 0u) << HealthFlagText(f);
}

}  // namespace
}  // namespace brisk
