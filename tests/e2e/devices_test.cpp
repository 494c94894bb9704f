// Runs in which one device misbehaves: the lines that tell the engineer, and
// what reaches the verdict and the exit code.
#include <gtest/gtest.h>

#include <regex>

#include "e2e/e2e_support.h"

namespace brisk::e2e {
namespace {

// No proximity data: no MCU at all (the serial then picks the Watchman no
// MCU vouches for), or an MCU that never acknowledges the rate command.
struct NoProximity {
    const char* name;
    const char* scenario;
    std::vector<std::string> args;
    const char* countLine;
};

void PrintTo(const NoProximity& p, std::ostream* os) {
    *os << p.name;
}

class WithoutProximity : public testing::TestWithParam<NoProximity> {};

TEST_P(WithoutProximity, TheRunPassesWithNoProximityFieldAndNoEvents) {
    RunResult run = RunSim(GetParam().scenario, GetParam().args);
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(Texts(run.err), std::vector<std::string>{"McuProx: no 35BD:0101 interface ACKed "
                                                       "the rate command (Davovo unplugged?)"});
    ASSERT_GE(run.out.size(), 2u);
    EXPECT_EQ(run.out[0].text, GetParam().countLine);
    EXPECT_EQ(run.out[1].text, "TundraImu: using LHR-5A1B2C3D");
    EXPECT_EQ(IndexOfPrefix(run.out, "McuProx: "), -1);
    std::vector<StatusLine> status = StatusLines(run);
    ASSERT_GE(status.size(), 2u);
    for (const StatusLine& s : status) {
        EXPECT_EQ(s.prox, "n/a");
    }
    EXPECT_EQ(IndexOfPrefix(run.out, "prox: "), -1);
    EXPECT_EQ(run.out.back().text, kVerdictPass);
}

INSTANTIATE_TEST_SUITE_P(
    E2e, WithoutProximity,
    testing::Values(NoProximity{"McuAbsent",
                                "0 mcu absent\n",
                                {"--imu-serial", kDefaultSerial, "2.5"},
                                "TundraImu: 1 Watchman device(s), 0 MCU-paired"},
                    NoProximity{"McuSilent",
                                "0 mcu ack off\n",
                                {"2.5"},
                                "TundraImu: 1 Watchman device(s), 1 MCU-paired"}),
    [](const testing::TestParamInfo<NoProximity>& info) { return std::string(info.param.name); });

TEST(E2eDevices, DonThenDoffPrintsOneLineEachBeforeTheStatusLine) {
    // Both changes fall well inside the status monitor's life, at least one
    // cycle apart. It starts about 1.5 s in, and under ThreadSanitizer on a
    // loaded machine has been seen past 2.2 s: the don comes at 3.2 s.
    RunResult run = RunSim("3.2 mcu distance 1700\n5.0 mcu distance 200\n", {"5.5"});
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    const std::string donned = "prox: headset DONNED (distance 1700)";
    const std::string doffed = "prox: headset DOFFED (distance 200)";
    EXPECT_EQ(Count(run.out, donned), 1);
    EXPECT_EQ(Count(run.out, doffed), 1);
    EXPECT_EQ(IndexOfPrefix(run.out, "prox: "), IndexOf(run.out, donned));
    int on = IndexOf(run.out, donned);
    int off = IndexOf(run.out, doffed);
    ASSERT_GE(on, 0);
    ASSERT_GT(off, on);

    std::vector<StatusLine> status = StatusLines(run);
    ASSERT_GE(status.size(), 4u);
    EXPECT_LT(status.front().index, on);
    // The worn state follows a mean of the last readings, so a status line
    // may show the new distance before the state flips; the flip itself is
    // the event line, right before the status line of its cycle.
    for (const StatusLine& s : status) {
        bool worn = s.index > on && s.index < off;
        EXPECT_EQ(s.prox.substr(0, 5), worn ? "worn(" : "away(") << "line " << s.index;
        if (s.index == on + 1) {
            EXPECT_EQ(s.prox, "worn(1700)");
        }
        if (s.index > off) {
            EXPECT_EQ(s.prox, "away(200)");
        }
    }
    EXPECT_EQ(run.out[on + 1].text.rfind("  fps=", 0), 0u);
    EXPECT_EQ(run.out[off + 1].text.rfind("  fps=", 0), 0u);
    EXPECT_EQ(run.out.back().text, kVerdictPass);
}

TEST(E2eDevices, DisplayRemovedMidRunEndsWithDisplayLostAndExitFour) {
    RunResult run = RunSim("2 display remove\n", {"6"});
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 4);
    static const std::regex kRemoved(
        R"(Presenter: D3D12 device removed \(0x[0-9a-f]+\) — display lost \(cable pulled\?\), exiting present loop)");
    ASSERT_EQ(run.err.size(), 1u);
    EXPECT_TRUE(std::regex_match(run.err[0].text, kRemoved));

    std::optional<PresentResult> pr = FindPresentResult(run);
    std::optional<ImuResult> ir = FindImuResult(run);
    ASSERT_TRUE(pr.has_value());
    ASSERT_TRUE(ir.has_value());
    EXPECT_GT(pr->frames, 0);
    EXPECT_GT(ir->samples, 0);
    EXPECT_LT(IndexOfPrefix(run.out, "PRESENT RESULT"), IndexOfPrefix(run.out, "IMU RESULT"));
    EXPECT_EQ(IndexOfPrefix(run.out, "IMU RESULT") + 1, IndexOf(run.out, kVerdictDisplayLost));
    EXPECT_EQ(run.out.back().text, kVerdictDisplayLost);
    EXPECT_EQ(Count(run.out, kVerdictPass) + Count(run.out, kVerdictFail), 0);
    EXPECT_LT(run.endSeconds, 6.5);  // long before the 6 s of presenting were up
}

TEST(E2eDevices, PresentErrorsFailTheVerdictButExitZero) {
    RunResult run = RunSim("2 display present-errors 3\n", {"2"});
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    static const std::regex kPresentError(R"(Present12 = 0x([0-9a-f]+) at frame (\d+))");
    ASSERT_EQ(run.err.size(), 3u);
    long long firstFrame = -1;
    for (size_t i = 0; i < run.err.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(run.err[i].text, m, kPresentError));
        EXPECT_NE(m[1], "0");
        if (i == 0) {
            firstFrame = std::stoll(m[2]);
        }
        EXPECT_EQ(std::stoll(m[2]), firstFrame + static_cast<long long>(i));
    }
    std::optional<PresentResult> pr = FindPresentResult(run);
    ASSERT_TRUE(pr.has_value());
    EXPECT_EQ(pr->presentErrors, 3);
    EXPECT_GT(pr->frames, firstFrame + 3);  // the loop went on
    EXPECT_EQ(run.out.back().text, kVerdictFail);
}

TEST(E2eDevices, VsyncLostIsSelfPacedAndTaggedButPasses) {
    RunResult run = RunSim("1.5 display vsync free\n", {"3"});
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(Texts(run.err),
              std::vector<std::string>{"WARNING: present loop free-running (vsync lost — headset "
                                       "doffed?), self-pacing at 75 Hz"});
    int present = IndexOfPrefix(run.out, "PRESENT RESULT");
    std::vector<StatusLine> status = StatusLines(run);
    ASSERT_GE(status.size(), 2u);
    int tagged = 0;
    for (size_t i = 0; i < status.size(); ++i) {
        tagged += status[i].freeRun ? 1 : 0;
        if (i > 0 && status[i].index < present) {
            // Throttled to the panel's rate, not spinning.
            EXPECT_TRUE(status[i].freeRun);
            EXPECT_GE(status[i].fps, 55.0);
            EXPECT_LE(status[i].fps, 95.0);
        }
    }
    EXPECT_GE(tagged, 1);
    std::optional<PresentResult> pr = FindPresentResult(run);
    ASSERT_TRUE(pr.has_value());
    EXPECT_EQ(pr->freeRunEvents, 1);
    EXPECT_EQ(run.out.back().text, kVerdictPass);
}

// A serial with a byte outside ASCII (the scenario file gives it as Latin-1
// 0xE9) is printed in UTF-8 on every line that names it, each line whole,
// and the same serial typed back in UTF-8 selects the device.
TEST(E2eDevices, SerialOutsideAsciiKeepsEveryLineWhole) {
    const std::string utf8Serial = "LHR-\xC3\xA9X";
    RunResult run = RunSim("0 watchman serial LHR-\xE9X\n1.8 watchman unplug\n2.0 watchman plug\n",
                           {"--imu-serial", utf8Serial, "4.6"});
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(IndexOf(run.out, "TundraImu: using " + utf8Serial), 1);
    EXPECT_EQ(IndexOfPrefix(run.out, "IMU stream up: "), 2);
    EXPECT_EQ(Count(run.err, "TundraImu: reconnected to " + utf8Serial), 1);
    for (const TimedLine& line : run.err) {
        EXPECT_EQ(line.text.find("TundraImu:", 1), std::string::npos) << line.text;
    }
    EXPECT_EQ(run.out.back().text, kVerdictPass);
}

}  // namespace
}  // namespace brisk::e2e
