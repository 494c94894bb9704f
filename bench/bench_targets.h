// Targets beside the figures: each benchmark names its per-iteration CPU-time
// target, and the reporter prints one line per benchmark saying whether the
// figure (the median when repeated) meets it. CPU time rather than wall time:
// on a shared machine a preempted thread inflates wall time but not CPU time.
#pragma once

#include <benchmark/benchmark.h>

#include <string>

namespace brisk::bench {

// Shows "target <= N unit" as the run's label and keeps the target, in
// nanoseconds per iteration, as the counter "target_ns" for the summary.
void SetTarget(benchmark::State& state, double targetNs);

// For a figure shown without a target: the label reads "info: NOTE" and the
// summary repeats the figure with the note.
void SetInfo(benchmark::State& state, const std::string& note);

// Runs the benchmarks chosen on the command line with the target summary
// after the usual table. Returns 1 when a benchmark failed to run, else 0:
// a missed target is reported, not an error (the machine may be loaded).
int RunWithTargets(int argc, char** argv);

}  // namespace brisk::bench
