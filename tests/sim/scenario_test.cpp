#include <gtest/gtest.h>

#include "sim/scenario.h"

namespace brisk::sim {
namespace {

std::string ErrorOf(const std::string& text) {
    Scenario s;
    std::string error;
    EXPECT_FALSE(ParseScenario(text, "demo.txt", s, error)) << text;
    EXPECT_TRUE(s.actions.empty());
    return error;
}

TEST(Scenario, ReadsEveryKindOfLine) {
    const char* text =
        "# a headset put on and off\n"
        "0 watchman serial LHR-5A1B2C3D\n"
        "\n"
        "0   display surface-format 28   # trailing comment\n"
        "2.5 mcu distance 1650\r\n"
        "3 watchman accel -10 20 2048\n"
        "4 display vsync free\n"
        "5 mcu ack off\n"
        "6 tool stop\n";
    Scenario s;
    std::string error;
    ASSERT_TRUE(ParseScenario(text, "demo.txt", s, error)) << error;
    ASSERT_EQ(s.actions.size(), 7u);
    EXPECT_EQ(s.actions[0].kind, ActionKind::WatchmanSerial);
    EXPECT_EQ(s.actions[0].text, "LHR-5A1B2C3D");
    EXPECT_EQ(s.actions[0].line, 2);
    EXPECT_EQ(s.actions[1].kind, ActionKind::DisplaySurfaceFormat);
    EXPECT_EQ(s.actions[1].value[0], 28);
    EXPECT_EQ(s.actions[2].seconds, 2.5);
    EXPECT_EQ(s.actions[2].value[0], 1650);
    EXPECT_EQ(s.actions[3].value[0], -10);
    EXPECT_EQ(s.actions[3].value[2], 2048);
    EXPECT_EQ(s.actions[4].value[0], kVsyncFree);
    EXPECT_EQ(s.actions[5].value[0], 0);
    EXPECT_EQ(s.actions[6].kind, ActionKind::ToolStop);
}

TEST(Scenario, OrdersByTimeKeepingFileOrderAtEqualTimes) {
    Scenario s;
    std::string error;
    ASSERT_TRUE(ParseScenario("3 watchman unplug\n1 mcu sleep\n3 watchman plug\n1 mcu wake\n", "f",
                              s, error));
    ASSERT_EQ(s.actions.size(), 4u);
    EXPECT_EQ(s.actions[0].kind, ActionKind::McuSleep);
    EXPECT_EQ(s.actions[1].kind, ActionKind::McuWake);
    EXPECT_EQ(s.actions[2].kind, ActionKind::WatchmanUnplug);
    EXPECT_EQ(s.actions[3].kind, ActionKind::WatchmanPlug);
}

TEST(Scenario, ReportsMistakesWithFileAndLine) {
    EXPECT_EQ(ErrorOf("1 watchman unplug\n2 headset unplug\n"),
              "demo.txt:2: unknown device 'headset'");
    EXPECT_EQ(ErrorOf("1 watchman explode\n"), "demo.txt:1: unknown action 'explode' for watchman");
    EXPECT_EQ(ErrorOf("-1 watchman unplug\n"), "demo.txt:1: negative time '-1'");
    EXPECT_EQ(ErrorOf("1 mcu distance\n"), "demo.txt:1: missing argument for 'mcu distance'");
    EXPECT_EQ(ErrorOf("1 mcu distance 5 6\n"),
              "demo.txt:1: unexpected argument '6' for 'mcu distance'");
    EXPECT_EQ(ErrorOf("1 mcu distance 70000\n"),
              "demo.txt:1: bad number '70000' for 'mcu distance' (expected 0 to 65535)");
    EXPECT_EQ(ErrorOf("1 watchman gyro 1 2 x\n"),
              "demo.txt:1: bad number 'x' for 'watchman gyro' (expected -32768 to 32767)");
    EXPECT_EQ(ErrorOf("1 display vsync maybe\n"),
              "demo.txt:1: expected 'on', 'free' or 'stop' for 'display vsync', got 'maybe'");
    EXPECT_EQ(ErrorOf("2 display absent\n"), "demo.txt:1: 'display absent' only at time 0");
    EXPECT_EQ(ErrorOf("1\n"), "demo.txt:1: missing device and action");
    EXPECT_EQ(ErrorOf("1 tool\n"), "demo.txt:1: missing action");
}

TEST(Scenario, RefusesTimesThatAreNotPlainSeconds) {
    for (const char* t : {"1e3", "inf", "nan", "0x10", "1.2.3", ".", "+1", "1s"}) {
        std::string error = ErrorOf(std::string(t) + " tool stop\n");
        EXPECT_NE(error.find("bad time"), std::string::npos) << t << ": " << error;
    }
}

// A far-off time used to wrap around the clock the timeline waits on and
// fire at once: a stop meant for the year 5000 ended the run at start-up.
TEST(Scenario, RefusesTimesBeyondWhatTheTimelineCanWaitFor) {
    EXPECT_EQ(ErrorOf("99999999999 tool stop\n"),
              "demo.txt:1: time '99999999999' is beyond 100000000 seconds");
    EXPECT_EQ(ErrorOf("1 tool stop\n100000000.5 mcu sleep\n"),
              "demo.txt:2: time '100000000.5' is beyond 100000000 seconds");
    Scenario s;
    std::string error;
    EXPECT_TRUE(ParseScenario("100000000 tool stop\n", "demo.txt", s, error)) << error;
}

TEST(Scenario, RefusesBinaryAndOverlongSerials) {
    EXPECT_EQ(ErrorOf(std::string("0 tool stop\n1 tool\0stop\n", 25)),
              "demo.txt:2: not a text file");
    EXPECT_EQ(ErrorOf("0 watchman serial " + std::string(127, 'A') + "\n"),
              "demo.txt:1: serial longer than 126 characters");
}

TEST(Scenario, ReadsTheWatchmansNoiseAndFaultLines) {
    Scenario s;
    std::string error;
    ASSERT_TRUE(ParseScenario(
        "0 watchman gyro-noise 0.2\n0 watchman clock -950.5\n1 watchman gyro-walk .05\n"
        "2 watchman accel-noise 1000\n3 watchman stuck gz\n4 watchman saturate off\n"
        "5 watchman drop-every 10\n",
        "f", s, error))
        << error;
    ASSERT_EQ(s.actions.size(), 7u);
    const ActionKind kinds[] = {ActionKind::WatchmanGyroNoise, ActionKind::WatchmanClock,
                                ActionKind::WatchmanGyroWalk,  ActionKind::WatchmanAccelNoise,
                                ActionKind::WatchmanStuck,     ActionKind::WatchmanSaturate,
                                ActionKind::WatchmanDropEvery};
    const double numbers[] = {0.2, -950.5, 0.05, 1000, 0, 0, 0};
    const int64_t values[] = {0, 0, 0, 0, 5, -1, 10};
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(s.actions[i].kind, kinds[i]) << i;
        EXPECT_EQ(s.actions[i].number, numbers[i]) << i;
        EXPECT_EQ(s.actions[i].value[0], values[i]) << i;
    }
    const std::string range = " (expected -100000 to 100000)";
    EXPECT_EQ(ErrorOf("1 watchman gyro-noise -1\n"),
              "demo.txt:1: bad number '-1' for 'watchman gyro-noise' (expected 0 to 1000)");
    EXPECT_EQ(ErrorOf("1 watchman gyro-walk 1e2\n"),
              "demo.txt:1: bad number '1e2' for 'watchman gyro-walk' (expected 0 to 1000)");
    for (const char* v : {"-100001", "--5", "-", "nan"}) {
        EXPECT_EQ(ErrorOf(std::string("1 watchman clock ") + v + "\n"),
                  std::string("demo.txt:1: bad number '") + v + "' for 'watchman clock'" + range);
    }
    EXPECT_EQ(ErrorOf("1 watchman stuck gw\n"),
              "demo.txt:1: expected an axis (ax, ay, az, gx, gy, gz) or 'off' for 'watchman "
              "stuck', got 'gw'");
    EXPECT_EQ(ErrorOf("1 watchman saturate ax ay\n"),
              "demo.txt:1: unexpected argument 'ay' for 'watchman saturate'");
    EXPECT_EQ(ErrorOf("1 watchman drop-every 1.5\n"),
              "demo.txt:1: bad number '1.5' for 'watchman drop-every' (expected 0 to 1000000)");
}

// What the identity faults do is IdentityBackends' table; here, their mistakes.
TEST(Scenario, RefusesMalformedIdentityFaultLines) {
    EXPECT_EQ(ErrorOf("1 watchman feature-stall maybe\n"),
              "demo.txt:1: expected 'on' or 'off' for 'watchman feature-stall', got 'maybe'");
    EXPECT_EQ(ErrorOf("1 watchman config-drop\n"),
              "demo.txt:1: missing argument for 'watchman config-drop'");
    EXPECT_EQ(ErrorOf("1 watchman config-corrupt now\n"),
              "demo.txt:1: unexpected argument 'now' for 'watchman config-corrupt'");
    EXPECT_EQ(ErrorOf("0 watchman config-drop " + std::string(127, 'k') + "\n"),
              "demo.txt:1: key longer than 126 characters");
}

TEST(Scenario, ReadsTheWatchmansLightLines) {
    struct Row {
        const char* line;
        ActionKind kind;
        int64_t value;
    } rows[] = {
        {"0 watchman light-generation 1", ActionKind::WatchmanLightGeneration, 1},
        {"1 watchman photodiode-dead 25", ActionKind::WatchmanPhotodiodeDead, 25},
        {"1 watchman photodiode-weak 0", ActionKind::WatchmanPhotodiodeWeak, 0},
        {"1 watchman photodiode-abnormal 255", ActionKind::WatchmanPhotodiodeAbnormal, 255},
        {"9 watchman photodiode-ok 3", ActionKind::WatchmanPhotodiodeOk, 3},
        {"2 watchman station-off 1", ActionKind::WatchmanStationOff, 1},
        {"3 watchman station-on 0", ActionKind::WatchmanStationOn, 0},
        {"4 watchman light off", ActionKind::WatchmanLight, 0},
        {"5 watchman light on", ActionKind::WatchmanLight, 1},
    };
    for (const Row& row : rows) {
        Scenario s;
        std::string error;
        ASSERT_TRUE(ParseScenario(std::string(row.line) + "\n", "f", s, error)) << error;
        ASSERT_EQ(s.actions.size(), 1u);
        EXPECT_EQ(s.actions[0].kind, row.kind) << row.line;
        EXPECT_EQ(s.actions[0].value[0], row.value) << row.line;
        EXPECT_FALSE(IsSetupOnly(row.kind)) << row.line;
    }
    EXPECT_EQ(ErrorOf("1 watchman light-generation 3\n"),
              "demo.txt:1: bad number '3' for 'watchman light-generation' (expected 1 to 2)");
    EXPECT_EQ(ErrorOf("1 watchman photodiode-dead 256\n"),
              "demo.txt:1: bad number '256' for 'watchman photodiode-dead' (expected 0 to 255)");
    EXPECT_EQ(ErrorOf("1 watchman station-off 2\n"),
              "demo.txt:1: bad number '2' for 'watchman station-off' (expected 0 to 1)");
    EXPECT_EQ(ErrorOf("1 watchman light dim\n"),
              "demo.txt:1: expected 'on' or 'off' for 'watchman light', got 'dim'");
}

}  // namespace
}  // namespace brisk::sim
