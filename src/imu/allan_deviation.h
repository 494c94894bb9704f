// The Allan deviation of one gyro axis at octave-spaced cluster sizes (1, 2,
// 4, ... samples), computed as the samples stream in: each cluster size keeps
// the running sum of its open cluster, the previous cluster's mean and the
// sum of squared differences of consecutive means (non-overlapping clusters).
// A finished cluster of one size is half of the next size's, so a sample
// costs two level updates on average and memory is fixed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace brisk {

class AllanAccumulator {
  public:
    // Cluster sizes 2^0 .. 2^(kLevels-1) samples: up to 2.3 h at 1 kHz.
    static constexpr size_t kLevels = 24;

    void Add(int16_t value);

    // sigma at 2^level samples; false while fewer than two clusters of that
    // size have been seen.
    bool Deviation(size_t level, double& sigma, uint64_t* clusterPairs = nullptr) const;

  private:
    struct Level {
        int64_t pendingSum = 0;  // the first half of the next size's cluster
        bool havePending = false;
        bool havePrevious = false;
        double previousMean = 0.0;
        double squaredDiffs = 0.0;
        uint64_t pairs = 0;
    };
    std::array<Level, kLevels> levels{};
};

// 2^-k, so that a cluster's mean is a multiplication.
inline constexpr std::array<double, AllanAccumulator::kLevels> kAllanInverseSizes = [] {
    std::array<double, AllanAccumulator::kLevels> v{};
    double size = 1.0;
    for (double& x : v) {
        x = 1.0 / size;
        size *= 2.0;
    }
    return v;
}();

// Inline: the reader thread calls it three times a sample.
inline void AllanAccumulator::Add(int16_t value) {
    // A finished cluster at level k has the sum `sum` of 2^k samples.
    int64_t sum = value;
    for (size_t k = 0; k < kLevels; ++k) {
        Level& level = levels[k];
        const double mean = static_cast<double>(sum) * kAllanInverseSizes[k];
        if (level.havePrevious) {
            const double d = mean - level.previousMean;
            level.squaredDiffs += d * d;
            ++level.pairs;
        }
        level.previousMean = mean;
        level.havePrevious = true;
        if (!level.havePending) {
            level.pendingSum = sum;
            level.havePending = true;
            return;
        }
        sum += level.pendingSum;
        level.havePending = false;
    }
}

// One point of an Allan curve.
struct AllanPoint {
    double tauSeconds = 0.0;
    double sigma = 0.0;  // in the sensor's counts
};

struct AllanCurve {
    std::array<AllanPoint, AllanAccumulator::kLevels> points{};
    size_t size = 0;
};

// The curve of `acc` at cluster times 2^k * samplePeriod no longer than
// `maxTau` seconds.
AllanCurve ReadAllanCurve(const AllanAccumulator& acc, double samplePeriod, double maxTau);

// sigma at `tau`, interpolated between the curve's neighbouring points on
// log-log axes; false when `tau` lies outside the curve.
bool AllanAt(const AllanCurve& curve, double tau, double& sigma);

// The curve's lowest point; false for an empty curve.
bool AllanMinimum(const AllanCurve& curve, AllanPoint& lowest);

}  // namespace brisk
