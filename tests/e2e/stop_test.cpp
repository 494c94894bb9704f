// Stopping a run from the console: the scenario's "tool stop" and a real
// SIGINT both end it in order, with totals and a verdict, within about a
// second (the status monitor finishes its cycle) plus a frame.
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"

namespace brisk::e2e {
namespace {

// Generous for a loaded machine: one status cycle, one frame, shutdown.
constexpr double kMaxStopToExit = 3.0;

void ExpectOrderlyEnd(const RunResult& run) {
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    int present = IndexOfPrefix(run.out, "PRESENT RESULT: ");
    int imu = IndexOfPrefix(run.out, "IMU RESULT: ");
    ASSERT_GE(present, 0);
    EXPECT_GT(imu, present);
    ASSERT_FALSE(run.out.empty());
    EXPECT_EQ(run.out.back().text, kVerdictPass);
    EXPECT_EQ(IndexOf(run.out, kVerdictPass), imu + 1);
}

TEST(E2eStop, ScenarioStopEndsAnUnlimitedRunInOrder) {
    RunResult run = RunSim("3 tool stop\n", {});
    SCOPED_TRACE(Describe(run));
    ExpectOrderlyEnd(run);
    EXPECT_GE(run.endSeconds, 2.9);
    EXPECT_LT(run.endSeconds - 3.0, kMaxStopToExit);
}

TEST(E2eStop, SigintEndsAnUnlimitedRunInOrder) {
    RunOptions options;
    options.sigintOnLine = "  fps=";  // the first status line: the loop is running
    RunResult run = RunSim("", {}, options);
    SCOPED_TRACE(Describe(run));
    ASSERT_GE(run.sigintSeconds, 0.0);
    ExpectOrderlyEnd(run);
    EXPECT_LT(run.endSeconds - run.sigintSeconds, kMaxStopToExit);
    std::optional<PresentResult> pr = FindPresentResult(run);
    ASSERT_TRUE(pr.has_value());
    EXPECT_GT(pr->frames, 30);
}

// A stop during the 1.5 s start-up wait: start-up completes, one frame is
// painted and presented, and the status monitor never prints.
TEST(E2eStop, StopDuringStartupWaitShowsExactlyOneFrame) {
    RunResult run = RunSim("0.5 tool stop\n", {"10"});
    SCOPED_TRACE(Describe(run));
    ExpectOrderlyEnd(run);
    std::optional<PresentResult> pr = FindPresentResult(run);
    ASSERT_TRUE(pr.has_value());
    EXPECT_EQ(pr->frames, 1);
    EXPECT_NE(IndexOfPrefix(run.out, "PRESENT RESULT: 1 frames in "), -1);
    EXPECT_EQ(IndexOfPrefix(run.out, "  fps="), -1);
    EXPECT_NE(IndexOfPrefix(run.out, "IMU stream up: "), -1);
    EXPECT_LT(run.endSeconds, 1.5 + kMaxStopToExit);
}

}  // namespace
}  // namespace brisk::e2e
