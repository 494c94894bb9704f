#include "imu/interval_histogram.h"

#include <bit>
#include <cmath>

namespace brisk {
namespace {

constexpr uint32_t kExactBelow = 2u << IntervalHistogram::kSubBits;

}  // namespace

size_t IntervalHistogram::BucketOf(uint32_t value) {
    if (value < kExactBelow) {
        return value;
    }
    const unsigned shift = static_cast<unsigned>(std::bit_width(value)) - (kSubBits + 1);
    return (size_t{shift} << kSubBits) + (value >> shift);
}

uint64_t IntervalHistogram::BucketLow(size_t bucket) {
    if (bucket < kExactBelow) {
        return bucket;
    }
    const unsigned shift = static_cast<unsigned>(bucket >> kSubBits) - 1;
    return static_cast<uint64_t>(bucket - (size_t{shift} << kSubBits)) << shift;
}

uint64_t IntervalHistogram::BucketWidth(size_t bucket) {
    return bucket < kExactBelow ? 1 : uint64_t{1} << ((bucket >> kSubBits) - 1);
}

void IntervalHistogram::Add(uint32_t value) {
    // A bucket's count saturates rather than wrap: four billion intervals
    // are seven weeks at 1 kHz.
    uint32_t& slot = counts[BucketOf(value)];
    if (slot != UINT32_MAX) {
        ++slot;
    }
    ++count;
    if (value > max) {
        max = value;
    }
}

double IntervalHistogram::Quantile(double q) const {
    if (count == 0) {
        return 0.0;
    }
    const double wanted = std::ceil(q * static_cast<double>(count));
    const uint64_t rank = wanted < 1.0 ? 1 : static_cast<uint64_t>(wanted);
    uint64_t seen = 0;
    for (size_t b = 0; b < kBuckets; ++b) {
        seen += counts[b];
        if (seen >= rank) {
            if (b == BucketOf(max)) {
                return max;  // the top bucket's middle could lie above the maximum
            }
            const uint64_t width = BucketWidth(b);
            return static_cast<double>(BucketLow(b)) + static_cast<double>(width - 1) / 2.0;
        }
    }
    return max;
}

}  // namespace brisk
