// "--display none": the IMU and the proximity sensor without a display.
#include <gtest/gtest.h>

#include <algorithm>

#include "e2e/e2e_support.h"

namespace brisk::e2e {
namespace {

const char* const kSensorsPass = "VERDICT: PASS (sensors only — no display tested)";

// The same faulty run ended by its own time limit and by SIGINT: the IMU's
// cable is pulled and plugged back in, the stream recovers, the run passes.
struct StopBy {
    const char* name;
    std::vector<std::string> args;
    double sigintAfter;
};

void PrintTo(const StopBy& p, std::ostream* os) {
    *os << p.name;
}

class SensorsOnly : public testing::TestWithParam<StopBy> {};

TEST_P(SensorsOnly, SurvivesAnImuUnplugAndPassesOnTheSensorsAlone) {
    RunOptions options;
    options.sigintAfterSeconds = GetParam().sigintAfter;
    RunResult run = RunSim("3 watchman unplug\n4.5 watchman plug\n", GetParam().args, options);
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(Count(run.err, "TundraImu: reconnected to LHR-5A1B2C3D"), 1);
    EXPECT_EQ(IndexOfPrefix(run.out, "PRESENT RESULT"), -1);
    std::vector<StatusLine> status = StatusLines(run);
    ASSERT_GE(status.size(), 4u);
    long long slowest = 100000;
    for (const StatusLine& s : status) {
        EXPECT_TRUE(s.fpsNotApplicable) << "line " << s.index;
        EXPECT_EQ(s.prox, "away(200)");
        slowest = std::min(slowest, s.imu);
    }
    EXPECT_EQ(slowest, 0);
    EXPECT_GT(status.back().imu, 900);
    ASSERT_GE(run.out.size(), 2u);
    EXPECT_EQ(run.out.end()[-2].text.rfind("IMU RESULT: ", 0), 0u);
    EXPECT_EQ(run.out.back().text, kSensorsPass);
    // 1.5 s of IMU start-up, then 5 s of run or SIGINT at 6.5 s; at most one
    // status cycle more to stop.
    EXPECT_GE(run.endSeconds, 6.4);
    EXPECT_LT(run.endSeconds, 8.5);
}

INSTANTIATE_TEST_SUITE_P(
    E2e, SensorsOnly,
    testing::Values(StopBy{"TimeLimit", {"--display", "none", "--mode", "1x1", "5"}, -1.0},
                    StopBy{"Sigint", {"--display", "none"}, 6.5}),
    [](const testing::TestParamInfo<StopBy>& info) { return std::string(info.param.name); });

TEST(E2eSensorsOnly, NoImuExitsTwoWithoutAVerdict) {
    RunResult run = RunSim("0 watchman absent\n", {"--display", "none", "2"});
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(Texts(run.err), std::vector<std::string>{kNoMatchingWatchman});
    EXPECT_EQ(Texts(run.out),
              std::vector<std::string>{"TundraImu: 0 Watchman device(s), 0 MCU-paired"});
}

}  // namespace
}  // namespace brisk::e2e
