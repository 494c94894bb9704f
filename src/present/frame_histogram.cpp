#include "present/frame_histogram.h"

#include <algorithm>
#include <cmath>

namespace brisk {

double FrameIntervalPercentile(const FrameHistogram& h, double q) {
    if (h.count == 0) {
        return 0.0;
    }
    const double wanted = std::ceil(std::clamp(q, 0.0, 1.0) * static_cast<double>(h.count));
    const uint64_t rank = std::max<uint64_t>(1, static_cast<uint64_t>(wanted));
    uint64_t seen = 0;
    for (size_t i = 0; i < FrameHistogram::kBins; ++i) {
        seen += h.bins[i];
        if (seen >= rank) {
            return std::min((static_cast<double>(i) + 0.5) * FrameHistogram::kBinMs, h.maxMs);
        }
    }
    return h.maxMs;
}

uint64_t FrameIntervalsOver(const FrameHistogram& h, double ms) {
    if (ms >= FrameHistogram::kCeilingMs) {
        return h.maxMs > ms ? h.overflow : 0;
    }
    const double firstBin = std::ceil(std::max(ms, 0.0) / FrameHistogram::kBinMs - 1e-9);
    uint64_t over = h.overflow;
    for (size_t i = static_cast<size_t>(firstBin); i < FrameHistogram::kBins; ++i) {
        over += h.bins[i];
    }
    return over;
}

FrameIntervalSummary SummariseFrameIntervals(const FrameHistogram& h, double refreshHz) {
    FrameIntervalSummary s;
    s.intervals = h.count;
    s.p50Ms = FrameIntervalPercentile(h, 0.5);
    s.p99Ms = FrameIntervalPercentile(h, 0.99);
    s.p999Ms = FrameIntervalPercentile(h, 0.999);
    s.maxMs = h.maxMs;
    if (refreshHz > 0.0) {
        s.overOneAndAHalfPeriods = FrameIntervalsOver(h, 1.5 * 1000.0 / refreshHz);
    }
    return s;
}

}  // namespace brisk
