// A histogram of unsigned 32-bit intervals in fixed memory: exact below 256,
// then 128 buckets per power of two, so any value is known to within 0.8 %.
// Adding is a few bit operations; the quantiles walk the buckets, so they
// are for snapshots, not for every sample.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace brisk {

class IntervalHistogram {
  public:
    static constexpr unsigned kSubBits = 7;  // 128 buckets per power of two
    static constexpr size_t kBuckets = (size_t{1} << kSubBits) * (33 - kSubBits);

    void Add(uint32_t value);
    uint64_t Count() const { return count; }
    uint32_t Max() const { return max; }
    // The value at quantile q (0..1): the middle of the bucket holding the
    // ceil(q * Count())-th smallest value, the exact maximum for the top one.
    // 0 when empty.
    double Quantile(double q) const;

    static size_t BucketOf(uint32_t value);
    // The smallest value of a bucket and how many values it spans.
    static uint64_t BucketLow(size_t bucket);
    static uint64_t BucketWidth(size_t bucket);

  private:
    std::array<uint32_t, kBuckets> counts{};
    uint64_t count = 0;
    uint32_t max = 0;
};

}  // namespace brisk
