// The tool's command line as brisk reads it, handed through brisk-sim; and
// brisk-sim's own mistakes, reported before any device starts.
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"

namespace brisk::e2e {
namespace {

using Lines = std::vector<std::string>;

TEST(E2eCommandLine, SerialThatMatchesNothingListsTheCandidatesAndExitsTwo) {
    RunResult run = RunSim("", {"10", "--imu-serial", "ABC", "20"});
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(Texts(run.out), Lines{"TundraImu: 1 Watchman device(s), 1 MCU-paired"});
    EXPECT_EQ(Texts(run.err),
              (Lines{"TundraImu: cannot pick among 1 Watchman device(s) (1 MCU-paired) — is the "
                     "Davovo attached? Or pass its LHR serial:",
                     "  LHR-5A1B2C3D  [shares hub with Davovo MCU]", kNoMatchingWatchman}));
}

// The serial is consumed with its option, and the last number is the limit.
TEST(E2eCommandLine, SerialPicksItsWatchmanAndTheLastNumberWins) {
    RunResult run = RunSim("0 watchman serial ABC\n", {"30", "--imu-serial", "ABC", "2"});
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(IndexOf(run.out, "TundraImu: using ABC"), 1);
    std::optional<PresentResult> pr = FindPresentResult(run);
    ASSERT_TRUE(pr.has_value());
    EXPECT_GE(pr->seconds, 1.9);
    EXPECT_LE(pr->seconds, 2.6);
    EXPECT_EQ(run.out.back().text, kVerdictPass);
}

// Argument lists that must leave the run without a time limit, although a
// misreading would end it after 1 s of presenting. A "tool stop" ends it.
class NoTimeLimit : public testing::TestWithParam<Lines> {};

TEST_P(NoTimeLimit, RunsUntilStoppedWithTheDefaultWatchman) {
    RunResult run = RunSim("3.5 tool stop\n", GetParam());
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(IndexOf(run.out, "TundraImu: using LHR-5A1B2C3D"), 1);
    std::optional<PresentResult> pr = FindPresentResult(run);
    ASSERT_TRUE(pr.has_value());
    EXPECT_GE(pr->seconds, 1.4);
    EXPECT_GE(run.endSeconds, 3.4);
    EXPECT_EQ(run.out.back().text, kVerdictPass);
}

std::string NoTimeLimitName(const testing::TestParamInfo<Lines>& info) {
    static const char* const kNames[] = {"TrailingSerialOption", "Negative"};
    return kNames[info.index];
}

INSTANTIATE_TEST_SUITE_P(E2e, NoTimeLimit,
                         testing::Values(Lines{"1", "--imu-serial"},  // trailing: a number, 0
                                         Lines{"1", "-5"}),
                         NoTimeLimitName);

// Arguments that end brisk-sim at once, before any device starts: help and
// version on stdout, a bad or unknown tool option as one line on stderr.
struct ExitAtOnce {
    const char* name;
    Lines args;  // after brisk-sim
    int exitCode;
    std::string start;  // of the first line on stdout (exit 0) or the one on stderr
};

void PrintTo(const ExitAtOnce& c, std::ostream* os) {
    *os << c.name;
}

class ExitsAtOnce : public testing::TestWithParam<ExitAtOnce> {};

TEST_P(ExitsAtOnce, WithoutStartingADevice) {
    const ExitAtOnce& p = GetParam();
    Lines argv{BriskSimPath()};
    argv.insert(argv.end(), p.args.begin(), p.args.end());
    RunResult run = RunProgram(argv, {});
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, p.exitCode);
    EXPECT_LT(run.endSeconds, 1.0);  // well before the IMU's 1.5 s start-up wait
    EXPECT_EQ(IndexOfPrefix(run.out, "TundraImu:"), -1);
    const std::vector<TimedLine>& lines = p.exitCode == 0 ? run.out : run.err;
    // Help and version print on stdout only; a usage error is one line on stderr.
    EXPECT_EQ(p.exitCode == 0 ? run.err.size() : run.out.size(), 0u);
    ASSERT_EQ(lines.size() == 1 || (p.exitCode == 0 && !lines.empty()), true);
    EXPECT_EQ(lines[0].text.substr(0, p.start.size()), p.start);
}

const std::string kVersion = BRISK_VERSION;

INSTANTIATE_TEST_SUITE_P(
    E2e, ExitsAtOnce,
    testing::Values(
        ExitAtOnce{
            "ToolHelp", {"--", "--help", "--bogus"}, 0, "usage: brisk [--imu-serial SERIAL]"},
        ExitAtOnce{"ToolVersion", {"--", "--version"}, 0, "brisk " + kVersion},
        ExitAtOnce{"SimHelp", {"-h", "5"}, 0, "usage: brisk-sim [--scenario FILE]"},
        ExitAtOnce{"SimVersion", {"--version"}, 0, "brisk-sim " + kVersion},
        ExitAtOnce{
            "BadDisplay", {"--display", "bogus"}, 64, "brisk: --display: unknown kind 'bogus'"},
        ExitAtOnce{"DisplayWithoutKind", {"5", "--display"}, 64, "brisk: --display needs a KIND"},
        ExitAtOnce{
            "BadMode", {"--mode", "12x", "5"}, 64, "brisk: --mode: bad mode '12x' (expected"},
        ExitAtOnce{"ModeWithoutValue", {"--", "--mode"}, 64, "brisk: --mode needs WxH or WxH@HZ"},
        ExitAtOnce{"UnknownOption", {"3", "--bogus"}, 64, "brisk: unknown option '--bogus'"},
        // Once read as 0 (an endless run), now a mistake.
        ExitAtOnce{"WordForSeconds", {"1", "soon"}, 64, "brisk: SECONDS: 'soon' is not a number"},
        ExitAtOnce{"MistypedSimOption",
                   {"--senario", "demo.txt"},
                   64,
                   "brisk-sim: unknown option '--senario' (brisk-sim's own: --scenario"},
        // Once read as a word (an endless run), now a mistyped option.
        ExitAtOnce{"JoinedSerial", {"1", "--imu-serial=ABC"}, 64, "brisk: unknown option '--imu"},
        ExitAtOnce{"RecordWithoutFile", {"5", "--record"}, 64, "brisk: --record needs a FILE"},
        ExitAtOnce{"RecordWhereNoFileCanBe",
                   {"--record", "/nonexistent/brisk.pcap", "5"},
                   64,
                   "brisk: --record: cannot create /nonexistent/brisk.pcap: No such file or "
                   "directory"},
        ExitAtOnce{"ReplayAddressWithoutReplay",
                   {"--replay-imu", "3", "5"},
                   64,
                   "brisk-sim: --replay-imu and --replay-mcu need --replay FILE"},
        ExitAtOnce{"ReplayBadAddress",
                   {"--replay", "x.pcap", "--replay-mcu", "128", "5"},
                   64,
                   "brisk-sim: --replay-mcu needs a USB device address (1 to 127)"},
        ExitAtOnce{"ExtendedOffWindows",
                   {"--display", "extended:1", "5"},
                   64,
                   "brisk-sim: --display extended: the desktop output path is Windows only"}),
    [](const testing::TestParamInfo<ExitAtOnce>& info) { return std::string(info.param.name); });

// brisk-sim's own mistakes: one line on stderr, nothing on stdout, exit 64.
struct SimMistake {
    const char* name;
    const char* scenario;  // nullptr: no scenario file
    Lines simArgs;
    const char* reason;  // after "brisk-sim: FILE:" or "brisk-sim: "
};

void PrintTo(const SimMistake& mistake, std::ostream* os) {
    *os << mistake.name;
}

class SimMistakes : public testing::TestWithParam<SimMistake> {};

TEST_P(SimMistakes, AreReportedWithFileAndLineAndExit64) {
    const SimMistake& p = GetParam();
    Lines argv{BriskSimPath()};
    argv.insert(argv.end(), p.simArgs.begin(), p.simArgs.end());
    TempFile file(".scenario");
    std::string expected = std::string("brisk-sim: ") + p.reason;
    if (p.scenario != nullptr) {
        file.Write(p.scenario);
        argv.insert(argv.begin() + 1, {"--scenario", file.Path()});
        expected = "brisk-sim: " + file.Path() + ":" + p.reason;
    }
    argv.push_back("1");
    RunResult run = RunProgram(argv, {});
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 64);
    EXPECT_TRUE(run.out.empty());
    EXPECT_EQ(Texts(run.err), Lines{expected});
}

INSTANTIATE_TEST_SUITE_P(
    E2e, SimMistakes,
    testing::Values(
        SimMistake{
            "UnknownDevice", "0 mcu absent\n2 gizmo stop\n", {}, "2: unknown device 'gizmo'"},
        SimMistake{"UnknownAction", "0 watchman nap\n", {}, "1: unknown action 'nap' for watchman"},
        SimMistake{"BadNumber",
                   "# a comment\n\n1 watchman rate fast\n",
                   {},
                   "3: bad number 'fast' for 'watchman rate' (expected 1 to 20000)"},
        SimMistake{"NegativeTime", "-1 tool stop\n", {}, "1: negative time '-1'"},
        SimMistake{
            "SetUpActionLate", "2 display absent\n", {}, "1: 'display absent' only at time 0"},
        SimMistake{"ActionOnAbsentDevice",
                   "0 watchman absent\n1 watchman sleep\n",
                   {},
                   "2: the watchman is absent in this scenario"},
        SimMistake{"MissingFile",
                   nullptr,
                   {"--scenario", "/nonexistent/brisk-e2e.scenario"},
                   "cannot read scenario /nonexistent/brisk-e2e.scenario"},
        SimMistake{
            "CaptureWithoutArguments", nullptr, {"--capture"}, "--capture needs FRAME and PNGFILE"},
        SimMistake{"CaptureIntoMissingFolder",
                   nullptr,
                   {"--capture", "10", "/nonexistent-dir/x.png"},
                   "--capture: cannot create /nonexistent-dir/x.png: No such file or directory"}),
    [](const testing::TestParamInfo<SimMistake>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brisk::e2e
