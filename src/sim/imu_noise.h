// Sensor noise of known size for the virtual Watchman's IMU, so that a test
// can inject a figure and check that the tool measures it back. Pure: no
// clock, no bus, no allocation; stepped one sample at a time and the same
// numbers for the same seed on every machine.
//
// Six axes in the Watchman's order: accel x, y, z, then gyro x, y, z. Each
// axis adds two terms to its base value, both in raw counts:
//   - white noise of density N, in counts/sqrt(Hz): every sample draws a
//     fresh value of standard deviation N * sqrt(rate);
//   - a bias random walk of K, in counts/sqrt(s): before each sample the
//     bias takes a step of standard deviation K * sqrt(1 / rate), so after
//     t seconds it has wandered by K * sqrt(t) (standard deviation).
// Any axis may carry either term; brisk-sim's scenarios use white noise on
// both sensors and the walk on the gyroscope, the figures an IMU's data
// sheet gives.
//
// What the tool should measure from these samples (rate in samples per
// device second, tau the cluster time in seconds):
//   Allan variance        sigma^2(tau) = N^2 / tau + K^2 * tau / 3
//   angle random walk     sigma(1 s)   = sqrt(N^2 + K^2 / 3), close to N
//                                        when K is small against N
//   curve's minimum       sigma_min    = sqrt(2 * N * K / sqrt(3))
//                         at tau_min   = sqrt(3) * N / K
// There is no flicker term, so the "bias instability" a tool reads off the
// curve is sigma_min itself (with flicker noise it would be 0.664 B).
// Rounding to int16 counts adds white noise of about 1/sqrt(12 * rate)
// counts/sqrt(Hz) (0.009 at 1 kHz): negligible while N * sqrt(rate) is a
// count or more. Values are clamped to the int16 range.
//
// The Gaussian draws are the sum of eight uniform draws (Irwin-Hall),
// scaled to unit variance: exact in mean and variance, which is all the
// Allan deviation and a standard deviation see, with tails cut at 4.9
// sigma and a kurtosis 0.15 below the normal's.
#pragma once

#include <cstdint>

namespace brisk::sim {

struct NoiseTerms {
    double density = 0.0;  // N: white noise, counts/sqrt(Hz)
    double walk = 0.0;     // K: bias random walk, counts/sqrt(s)
};

class ImuNoise {
  public:
    static constexpr int kAxes = 6;  // ax ay az gx gy gz
    static constexpr uint64_t kDefaultSeed = 0x5EED1A11D00DULL;

    explicit ImuNoise(uint64_t seed = kDefaultSeed, double samplesPerSecond = 1000.0);

    // Samples per second of device time, > 0. The biases keep their values.
    void SetRate(double samplesPerSecond);
    double Rate() const { return rate; }
    // Negative values count as 0. The axis's bias keeps its value.
    void SetTerms(int axis, NoiseTerms terms);
    NoiseTerms Terms(int axis) const { return terms[axis]; }
    // True while no axis adds anything.
    bool Silent() const;

    // One sample: each bias takes its step, then `out` gets bias plus
    // white noise, per axis, in counts.
    void Step(double (&out)[kAxes]);
    // One sample added to `base`, rounded to whole counts and clamped to
    // the int16 range.
    void Step(const int16_t (&base)[kAxes], int16_t (&out)[kAxes]);
    double Bias(int axis) const { return bias[axis]; }
    // Samples nobody will see: the biases walk on as over that many steps,
    // in one draw each.
    void Skip(uint64_t samples);

    // A draw of the standard normal (see above for its shape).
    double Gaussian();

  private:
    void Scale(int axis);
    uint64_t Next();

    uint64_t state;
    double rate;
    NoiseTerms terms[kAxes];
    double whiteSd[kAxes] = {};  // per sample
    double stepSd[kAxes] = {};   // per sample
    double bias[kAxes] = {};
};

}  // namespace brisk::sim
