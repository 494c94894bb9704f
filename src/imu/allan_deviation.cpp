#include "imu/allan_deviation.h"

#include <cmath>

namespace brisk {

bool AllanAccumulator::Deviation(size_t level, double& sigma, uint64_t* clusterPairs) const {
    if (level >= kLevels || levels[level].pairs == 0) {
        return false;
    }
    const Level& l = levels[level];
    sigma = std::sqrt(l.squaredDiffs / (2.0 * static_cast<double>(l.pairs)));
    if (clusterPairs != nullptr) {
        *clusterPairs = l.pairs;
    }
    return true;
}

AllanCurve ReadAllanCurve(const AllanAccumulator& acc, double samplePeriod, double maxTau) {
    AllanCurve curve;
    if (!(samplePeriod > 0.0)) {
        return curve;
    }
    for (size_t k = 0; k < AllanAccumulator::kLevels; ++k) {
        const double tau = std::ldexp(samplePeriod, static_cast<int>(k));
        double sigma = 0.0;
        if (tau > maxTau || !acc.Deviation(k, sigma)) {
            break;
        }
        curve.points[curve.size++] = {tau, sigma};
    }
    return curve;
}

bool AllanAt(const AllanCurve& curve, double tau, double& sigma) {
    for (size_t i = 0; i < curve.size; ++i) {
        const AllanPoint& hi = curve.points[i];
        if (hi.tauSeconds < tau) {
            continue;
        }
        if (hi.tauSeconds == tau) {
            sigma = hi.sigma;
            return true;
        }
        if (i == 0 || hi.sigma <= 0.0 || curve.points[i - 1].sigma <= 0.0) {
            return false;
        }
        const AllanPoint& lo = curve.points[i - 1];
        const double t = std::log(tau / lo.tauSeconds) / std::log(hi.tauSeconds / lo.tauSeconds);
        sigma = std::exp(std::log(lo.sigma) + t * std::log(hi.sigma / lo.sigma));
        return true;
    }
    return false;
}

bool AllanMinimum(const AllanCurve& curve, AllanPoint& lowest) {
    if (curve.size == 0) {
        return false;
    }
    lowest = curve.points[0];
    for (size_t i = 1; i < curve.size; ++i) {
        if (curve.points[i].sigma < lowest.sigma) {
            lowest = curve.points[i];
        }
    }
    return true;
}

}  // namespace brisk
