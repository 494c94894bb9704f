// Runs that end during start-up: no IMU to read (exit 2) or no display to
// take (exit 3). Nothing of the run's totals or verdict may appear.
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"

namespace brisk::e2e {
namespace {

using Lines = std::vector<std::string>;

TEST(E2eStartup, BriskWithoutAHeadsetPrintsOnlyTheImuStreamsLinesAndExitsTwo) {
    RunResult run = RunProgram({BriskPath(), "2"}, {});
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(Texts(run.out), Lines{"TundraImu: 0 Watchman device(s), 0 MCU-paired"});
    EXPECT_EQ(Texts(run.err), Lines{kNoMatchingWatchman});
    EXPECT_LT(run.endSeconds, 1.4);  // no 1.5 s wait: the driver stopped at once
}

TEST(E2eStartup, NoWatchmanOnTheBusExitsTwoWithTheSameLinesAsBrisk) {
    RunResult run = RunSim("0 watchman absent\n", {"2"});
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(Texts(run.out), Lines{"TundraImu: 0 Watchman device(s), 0 MCU-paired"});
    EXPECT_EQ(Texts(run.err), Lines{kNoMatchingWatchman});
}

// Without a serial only a Watchman beside the headset's MCU is taken.
TEST(E2eStartup, LoneWatchmanWithoutMcuIsNotPickedAndListed) {
    RunResult run = RunSim("0 mcu absent\n", {"2"});
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(Texts(run.out), Lines{"TundraImu: 1 Watchman device(s), 0 MCU-paired"});
    EXPECT_EQ(Texts(run.err),
              (Lines{"TundraImu: cannot pick among 1 Watchman device(s) (0 MCU-paired, no Davovo "
                     "MCU on the bus) — is the Davovo attached? Or pass its LHR serial:",
                     "  LHR-5A1B2C3D", kNoMatchingWatchman}));
}

TEST(E2eStartup, NoDisplayExitsThreeWithoutStatusTotalsOrVerdict) {
    RunResult run = RunSim("0 display absent\n", {"2"});
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(Texts(run.err), Lines{"Presenter: no DirectMode display (Davovo not attached?)"});
    ASSERT_FALSE(run.out.empty());
    EXPECT_EQ(run.out.back().text, "EnableDirectMode(0x2709) = 0x0");
    EXPECT_NE(IndexOfPrefix(run.out, "IMU stream up: "), -1);
    EXPECT_NE(IndexOfPrefix(run.out, "McuProx: "), -1);
    EXPECT_EQ(IndexOfPrefix(run.out, "  fps="), -1);
    EXPECT_EQ(IndexOfPrefix(run.out, "PRESENT RESULT"), -1);
    EXPECT_EQ(IndexOfPrefix(run.out, "IMU RESULT"), -1);
    EXPECT_EQ(IndexOfPrefix(run.out, "VERDICT"), -1);
}

}  // namespace
}  // namespace brisk::e2e
