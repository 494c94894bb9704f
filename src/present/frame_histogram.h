// Frame-start intervals of a whole run, counted in 0.1 ms bins: fine enough to
// tell a 13.3 ms frame at 75 Hz from a 14 ms one, fixed in size so the
// present loop counts a frame without allocating, and cheap enough (a
// multiply, a compare, two increments) to count every frame.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace brisk {

struct FrameHistogram {
    static constexpr double kBinMs = 0.1;
    static constexpr size_t kBins = 2000;  // up to 200 ms; longer ones overflow
    static constexpr double kCeilingMs = kBinMs * kBins;

    void Add(double ms) {
        ++count;
        if (ms > maxMs) {
            maxMs = ms;
        }
        // The bound is tested on the very value that indexes. Negative never
        // happens (a steady clock); it would count in the first bin.
        const double bin = ms * (1.0 / kBinMs);
        if (bin < static_cast<double>(kBins)) {
            ++bins[bin > 0.0 ? static_cast<size_t>(bin) : 0];
        } else {
            ++overflow;
        }
    }

    std::array<uint32_t, kBins> bins{};
    uint64_t overflow = 0;  // intervals of kCeilingMs or more
    uint64_t count = 0;     // intervals counted, overflow included
    double maxMs = 0.0;     // the longest, exactly
};

// The interval below which a share `q` (0..1) of the intervals fall, by the
// nearest rank: the middle of its bin, never past the exact maximum; the
// maximum itself when the rank falls among the overflow. 0 when empty.
double FrameIntervalPercentile(const FrameHistogram& h, double q);

// Intervals longer than `ms`, to the bin: a bin is counted when it starts at
// or after `ms`, and the overflow with them. From the ceiling on, the overflow
// counts when the maximum is longer (an upper bound: the bins end there).
uint64_t FrameIntervalsOver(const FrameHistogram& h, double ms);

// What a run's summary says about its frame pacing.
struct FrameIntervalSummary {
    uint64_t intervals = 0;
    double p50Ms = 0.0;
    double p99Ms = 0.0;
    double p999Ms = 0.0;
    double maxMs = 0.0;
    uint64_t overOneAndAHalfPeriods = 0;  // longer than 1.5 refresh periods
};

FrameIntervalSummary SummariseFrameIntervals(const FrameHistogram& h, double refreshHz);

}  // namespace brisk
