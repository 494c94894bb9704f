#include "sim/imu_noise.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace brisk::sim {
namespace {

// Eight 16-bit uniforms summed: mean 8 * 32767.5, standard deviation
// sqrt(8 * (65536^2 - 1) / 12).
constexpr double kSumMean = 8 * 32767.5;
const double kSumScale = 1.0 / std::sqrt(8.0 * (65536.0 * 65536.0 - 1.0) / 12.0);

uint32_t SumOfQuarters(uint64_t r) {
    return uint32_t(r & 0xFFFF) + uint32_t((r >> 16) & 0xFFFF) + uint32_t((r >> 32) & 0xFFFF) +
           uint32_t(r >> 48);
}

int16_t ToCounts(double v) {
    return int16_t(std::clamp(std::floor(v + 0.5), -32768.0, 32767.0));
}

}  // namespace

ImuNoise::ImuNoise(uint64_t seed, double samplesPerSecond) : state(seed), rate(1.0) {
    SetRate(samplesPerSecond);
}

void ImuNoise::SetRate(double samplesPerSecond) {
    rate = samplesPerSecond > 0.0 ? samplesPerSecond : 1.0;
    for (int a = 0; a < kAxes; ++a) {
        Scale(a);
    }
}

void ImuNoise::SetTerms(int axis, NoiseTerms t) {
    terms[axis] = {std::max(t.density, 0.0), std::max(t.walk, 0.0)};
    Scale(axis);
}

bool ImuNoise::Silent() const {
    return std::all_of(std::begin(terms), std::end(terms),
                       [](const NoiseTerms& t) { return t.density == 0.0 && t.walk == 0.0; });
}

void ImuNoise::Scale(int axis) {
    whiteSd[axis] = terms[axis].density * std::sqrt(rate);
    stepSd[axis] = terms[axis].walk / std::sqrt(rate);
}

uint64_t ImuNoise::Next() {
    // splitmix64: one add and three multiply-xorshifts, no state to speak of.
    uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

double ImuNoise::Gaussian() {
    uint32_t sum = SumOfQuarters(Next()) + SumOfQuarters(Next());
    return (double(sum) - kSumMean) * kSumScale;
}

void ImuNoise::Step(double (&out)[kAxes]) {
    for (int a = 0; a < kAxes; ++a) {
        // Zero terms draw nothing, so a quiet axis costs nothing.
        if (stepSd[a] != 0.0) {
            bias[a] += stepSd[a] * Gaussian();
        }
        out[a] = whiteSd[a] != 0.0 ? bias[a] + whiteSd[a] * Gaussian() : bias[a];
    }
}

void ImuNoise::Skip(uint64_t samples) {
    for (int a = 0; a < kAxes; ++a) {
        if (stepSd[a] != 0.0 && samples != 0) {
            bias[a] += stepSd[a] * std::sqrt(double(samples)) * Gaussian();
        }
    }
}

void ImuNoise::Step(const int16_t (&base)[kAxes], int16_t (&out)[kAxes]) {
    double noise[kAxes];
    Step(noise);
    for (int a = 0; a < kAxes; ++a) {
        out[a] = ToCounts(double(base[a]) + noise[a]);
    }
}

}  // namespace brisk::sim
