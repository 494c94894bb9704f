// The run summary's pacing figures from the frame-interval histogram.
#include "present/frame_histogram.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace brisk {
namespace {

struct Case {
    const char* name;
    std::vector<std::pair<double, int>> intervals;  // milliseconds, how many
    FrameIntervalSummary expected;                  // at 75 Hz: over 20 ms
};

TEST(FrameHistogram, PercentilesMaximumAndLateFramesByTheTable) {
    const Case cases[] = {
        {"empty", {}, {0, 0.0, 0.0, 0.0, 0.0, 0}},
        // The percentile is its bin's middle, never past the exact maximum.
        {"steady 75 Hz", {{13.333, 1000}}, {1000, 13.333, 13.333, 13.333, 13.333, 0}},
        // 13.3 ms and 14 ms land in different bins.
        {"a few at 14 ms", {{13.333, 990}, {14.0, 10}}, {1000, 13.35, 13.35, 14.0, 14.0, 0}},
        // Counted from the bin that starts at 20 ms: 19.95 is not late, 20.05 is.
        {"at the threshold", {{19.95, 5}, {20.05, 3}}, {8, 19.95, 20.05, 20.05, 20.05, 3}},
        // Past the last bin: overflow, which the maximum stands for.
        {"stalls past the bins",
         {{13.333, 997}, {25.0, 1}, {1000.0, 2}},
         {1000, 13.35, 13.35, 1000.0, 1000.0, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameHistogram h;
        for (const auto& [ms, n] : c.intervals) {
            for (int i = 0; i < n; ++i) {
                h.Add(ms);
            }
        }
        const FrameIntervalSummary s = SummariseFrameIntervals(h, 75.0);
        EXPECT_EQ(s.intervals, c.expected.intervals);
        EXPECT_NEAR(s.p50Ms, c.expected.p50Ms, 1e-9);
        EXPECT_NEAR(s.p99Ms, c.expected.p99Ms, 1e-9);
        EXPECT_NEAR(s.p999Ms, c.expected.p999Ms, 1e-9);
        EXPECT_NEAR(s.maxMs, c.expected.maxMs, 1e-9);
        EXPECT_EQ(s.overOneAndAHalfPeriods, c.expected.overOneAndAHalfPeriods);
    }
}

}  // namespace
}  // namespace brisk
