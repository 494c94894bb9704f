// The noise generator against the figures its header promises: what a test
// injects is what the tool has to find, so the sizes must hold, not just
// look noisy.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "sim/imu_noise.h"

namespace brisk::sim {
namespace {

constexpr int kGx = 3;

// Overlapping Allan variance of `rate` samples per second at cluster size m.
double AllanVariance(const std::vector<double>& y, double rate, size_t m) {
    std::vector<double> x(y.size() + 1, 0.0);  // the integral, in count-seconds
    for (size_t i = 0; i < y.size(); ++i) {
        x[i + 1] = x[i] + y[i] / rate;
    }
    double tau = double(m) / rate, sum = 0;
    size_t terms = x.size() - 2 * m;
    for (size_t k = 0; k < terms; ++k) {
        double d = x[k + 2 * m] - 2 * x[k + m] + x[k];
        sum += d * d;
    }
    return sum / (2 * tau * tau * double(terms));
}

// The formulas a test uses to predict the tool's Allan figures, checked on
// int16 samples as the Watchman sends them, at two rates: at one sample's
// tau it is the standard deviation of a sample.
TEST(ImuNoise, AllanDeviationFollowsTheHeadersFormulasAtEachRate) {
    constexpr double kN = 0.2, kK = 0.1, kSeconds = 600;
    auto predicted = [](double tau) { return std::sqrt(kN * kN / tau + kK * kK * tau / 3); };
    const double tauMin = std::sqrt(3.0) * kN / kK;
    EXPECT_NEAR(predicted(tauMin), std::sqrt(2 * kN * kK / std::sqrt(3.0)), 1e-12);
    for (double rate : {1000.0, 250.0}) {
        ImuNoise noise(42, rate);
        for (int a = kGx; a < ImuNoise::kAxes; ++a) {
            noise.SetTerms(a, {kN, kK});
        }
        std::vector<double> axis[3];
        const int16_t base[ImuNoise::kAxes] = {0, 8192, 0, 0, 0, 0};
        int16_t out[ImuNoise::kAxes];
        for (size_t i = 0; i < size_t(kSeconds * rate); ++i) {
            noise.Step(base, out);
            for (int a = 0; a < 3; ++a) {
                axis[a].push_back(out[kGx + a]);
            }
            ASSERT_EQ(out[1], 8192);  // an axis without terms is left alone
        }
        // Longer clusters, fewer of them: the estimate loosens with tau.
        const double taus[] = {1 / rate, 1.0, tauMin}, tolerance[] = {0.02, 0.05, 0.10};
        for (int t = 0; t < 3; ++t) {
            auto m = size_t(std::lround(taus[t] * rate));
            double var = 0;
            for (const auto& y : axis) {
                var += AllanVariance(y, rate, m) / 3;
            }
            double want = predicted(double(m) / rate);
            EXPECT_NEAR(std::sqrt(var), want, tolerance[t] * want) << rate << " Hz, " << taus[t];
        }
    }
}

// Samples a fallen-behind reader never sees still move the bias: over one
// second it has the walk's spread, K * sqrt(1 s), across many devices.
TEST(ImuNoise, SkippedSamplesWalkTheBiasAsFarAsSteppedOnes) {
    constexpr double kK = 0.5;
    double sumSq[2] = {};
    for (uint64_t seed = 1; seed <= 2000; ++seed) {
        ImuNoise skipped(seed), stepped(seed + 5000);
        skipped.SetTerms(kGx, {0, kK});
        stepped.SetTerms(kGx, {0, kK});
        skipped.Skip(1000);
        double out[ImuNoise::kAxes];
        for (int i = 0; i < 1000; ++i) {
            stepped.Step(out);
        }
        sumSq[0] += skipped.Bias(kGx) * skipped.Bias(kGx) / 2000;
        sumSq[1] += stepped.Bias(kGx) * stepped.Bias(kGx) / 2000;
    }
    EXPECT_NEAR(std::sqrt(sumSq[0]), kK, 0.05 * kK);  // 2000 runs: good to 2 %
    EXPECT_NEAR(std::sqrt(sumSq[1]), kK, 0.05 * kK);
}

}  // namespace
}  // namespace brisk::sim
