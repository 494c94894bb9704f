// The reasons table as rows: end figures and --fail-on items in, the raised
// reasons (counted or only noted) out; --fail-on and the options that imply
// items, as typed; and the presence of a device from its lost and back lines.
#include "run/reasons.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "run/command_line.h"
#include "run/presence.h"

namespace brisk {
namespace {

// "imu_gaps>0.1%,imu_health": the items by code, as the map holds them.
std::string Items(const FailOn& f) {
    std::string out;
    for (const auto& [code, limit] : f.limits) {
        char text[64];
        std::snprintf(text, sizeof text, ">%g%s", limit.value, limit.share ? "%" : "");
        out += (out.empty() ? "" : ",") + code + (code == "imu_health" ? "" : text);
    }
    return out;
}

// "!code: text" for a counted reason, "?code: text" for a finding.
std::vector<std::string> Raised(const RunTotals& t, const char* failOn) {
    FailOn asked;
    std::string error;
    if (*failOn != '\0') {
        EXPECT_TRUE(ParseFailOn(failOn, asked, error)) << error;
    }
    std::vector<std::string> out;
    for (const Reason& r : RaisedReasons(t, asked)) {
        out.push_back((r.counted ? "!" : "?") + r.code + ": " + r.text);
    }
    return out;
}

// A healthy ten-second run with a display, an IMU and an MCU.
RunTotals Healthy() {
    RunTotals t;
    t.frames = 750;
    t.imuSamples = 10000;
    t.runSeconds = 10.0;
    t.imu.watched = true;
    t.mcu.watched = true;
    return t;
}

TEST(Reasons, EachRowRaisesOnItsFigureAndCountsByDefaultOrWhenAsked) {
    struct Row {
        const char* name;
        std::function<void(RunTotals&)> change;
        const char* failOn;
        std::vector<std::string> raised;
    };
    using T = RunTotals;
    // clang-format off
    const Row rows[] = {
        {"healthy", [](T&) {}, "", {}},
        {"no frames", [](T& t) { t.frames = 0; }, "", {"!no_frames: no frames presented"}},
        {"one present error", [](T& t) { t.presentErrors = 1; }, "", {"!present_errors: 1 present error"}},
        {"no samples", [](T& t) { t.imuSamples = 0; }, "", {"!no_imu_samples: no IMU samples"}},
        {"IMU lost, not back", [](T& t) { t.imu = {true, false, 1, 0, 4.0, 6.0}; }, "",
         {"!imu_lost: IMU lost at 4.0 s and not back", "?imu_absent: IMU absent for 6.0 s of 10.0 s"}},
        {"IMU lost and back: a finding only", [](T& t) { t.imu = {true, true, 1, 1, 4.0, 1.5}; }, "",
         {"?imu_absent: IMU absent for 1.5 s of 10.0 s"}},
        {"MCU lost, not back", [](T& t) { t.mcu = {true, false, 2, 1, 7.2, 3.0}; }, "",
         {"!mcu_lost: MCU lost at 7.2 s and not back"}},
        {"display lost", [](T& t) { t.displayLost = true, t.displayLostAt = 2.0; }, "",
         {"!display_lost: display lost at 2.0 s"}},
        {"sensors only: display figures do not count",
         [](T& t) { t.displayTested = false, t.frames = 0, t.presentErrors = 5, t.waitTimeouts = 3; },
         "wait-timeouts", {}},
        {"gaps over a count", [](T& t) { t.imuSeqGaps = 12; }, "gaps>10",
         {"!imu_gaps: 12 IMU sequence gaps in 10000 samples (limit gaps>10)"}},
        {"gaps at the count", [](T& t) { t.imuSeqGaps = 10; }, "gaps>10", {}},
        {"gaps over a share", [](T& t) { t.imuSeqGaps = 12; }, "gaps>0.1%",
         {"!imu_gaps: 12 IMU sequence gaps in 10000 samples (0.12%, limit gaps>0.1%)"}},
        {"gaps under a share", [](T& t) { t.imuSeqGaps = 5; }, "gaps>0.1%", {}},
        {"gaps not asked", [](T& t) { t.imuSeqGaps = 1; }, "", {"?imu_gaps: 1 IMU sequence gap in 10000 samples"}},
        {"stalls", [](T& t) { t.imuStalls = 2; }, "stalls", {"!imu_stalls: 2 IMU stalls in 10.0 s (limit stalls>0)"}},
        {"absent over a share", [](T& t) { t.imu.secondsWithout = 1.0; }, "imu-absent>5%",
         {"!imu_absent: IMU absent for 1.0 s of 10.0 s (10%, limit imu-absent>5%)"}},
        {"absent under seconds", [](T& t) { t.imu.secondsWithout = 1.5; }, "imu-absent>2", {}},
        {"wait time-outs", [](T& t) { t.waitTimeouts = 1; }, "wait-timeouts>0",
         {"!wait_timeouts: 1 display wait time-out in 10.0 s (limit wait-timeouts>0)"}},
        {"health flags not asked", [](T& t) { t.imuHealthFlags = "gyro y stuck"; }, "",
         {"?imu_health: IMU health: gyro y stuck"}},
        {"health flags asked", [](T& t) { t.imuHealthFlags = "a; b"; }, "imu-health", {"!imu_health: IMU health: a; b"}},
        {"IMU did not start", [](T& t) { t = T{}, t.imuStarted = false, t.displayTested = false; }, "",
         {"!imu_not_started: the IMU stream did not start"}},
        {"display init failed", [](T& t) { t.displayInitFailed = true, t.frames = 0; }, "",
         {"!display_init_failed: the display could not be initialised"}},
        {"ended before the IMU was tried", [](T& t) { t = T{}, t.imuTried = false, t.displayInitFailed = true; }, "",
         {"!display_init_failed: the display could not be initialised"}},
        // The identity's problems follow the table, each a reason of its own,
        // counted when the run checks the identity.
        {"identity problems counted",
         [](T& t) { t.identityChecked = true, t.identity = {{"firmware_too_old", "build 5 below 6"}, {"config_normals", "normal 3 of length 0"}}; },
         "", {"!firmware_too_old: build 5 below 6", "!config_normals: normal 3 of length 0"}},
        {"identity problems behind another reason",
         [](T& t) { t.frames = 0, t.identityChecked = true, t.identity = {{"watchman_changed", "A before, B now"}}; },
         "", {"!no_frames: no frames presented", "!watchman_changed: A before, B now"}},
        {"identity problems not checked: findings",
         [](T& t) { t.identity = {{"serial_pattern", "LHR-1 does not match X*"}}; }, "",
         {"?serial_pattern: LHR-1 does not match X*"}},
        {"identity checked and sound", [](T& t) { t.identityChecked = true; }, "", {}},
        // --optical: dead and abnormal photodiodes and light stalls count,
        // weak ones only when asked; nothing judged counts only with require.
        {"optical faults counted",
         [](T& t) { t.optical = {true, false, true, 1, 2, 1, 1, "channel 6", "channels 3, 20", "channel 8"}; }, "",
         {"!optical_dead: 1 dead photodiode (channel 6)", "?optical_weak: 2 weak photodiodes (channels 3, 20)",
          "!optical_abnormal: 1 abnormal photodiode (channel 8)", "!optical_light_stall: 1 light stall while the IMU went on"}},
        {"optical weak when asked",
         [](T& t) { t.optical = {true, false, true, 0, 1, 0, 0, "", "channel 20", ""}; }, "optical-weak",
         {"!optical_weak: 1 weak photodiode (channel 20)"}},
        {"optical figures without --optical: nothing",
         [](T& t) { t.optical = {false, true, false, 1, 1, 1, 1, "channel 6", "channel 7", "channel 8"}; }, "", {}},
        {"optical not judged, auto", [](T& t) { t.optical = {true, false, false, 0, 0, 0, 0, "", "", ""}; }, "", {}},
        {"optical not judged, require", [](T& t) { t.optical = {true, true, false, 0, 0, 0, 0, "", "", ""}; }, "",
         {"!optical_not_judged: no base station in view: no photodiode judged"}},
        {"expected stations missing",
         [](T& t) { t.optical = {true, false, true, 0, 0, 0, 0, "", "", "", 2, "channel 1, id 925017E7"}; }, "",
         {"!optical_station_missing: 2 expected base stations not seen (channel 1, id 925017E7)"}},
        {"expected station missing, stations off: both counted",
         [](T& t) { t.optical = {true, true, false, 0, 0, 0, 0, "", "", "", 1, "channel 0"}; }, "",
         {"!optical_not_judged: no base station in view: no photodiode judged",
          "!optical_station_missing: 1 expected base station not seen (channel 0)"}},
        {"missing stations without --optical: nothing",
         [](T& t) { t.optical = {false, false, false, 0, 0, 0, 0, "", "", "", 1, "channel 0"}; }, "", {}},
    };
    // clang-format on
    for (const Row& row : rows) {
        RunTotals t = Healthy();
        row.change(t);
        EXPECT_EQ(Raised(t, row.failOn), row.raised) << row.name;
    }
}

TEST(FailOnList, ReadsItemsAndNamesTheOneThatIsWrong) {
    const std::pair<const char*, const char*> cases[] = {
        {"gaps>10", "imu_gaps>10"},
        {"gaps", "imu_gaps>0"},
        {"gaps>0.1%,stalls>0", "imu_gaps>0.1%,imu_stalls>0"},
        {"imu-absent>5%,wait-timeouts>2,imu-health", "imu_absent>5%,imu_health,wait_timeouts>2"},
        {"gaps>5,gaps>7", "imu_gaps>7"},
        {"imu-absent>100%", "imu_absent>100%"},
        {"", "error: --fail-on: empty item in ''"},
        {"gaps,", "error: --fail-on: empty item in 'gaps,'"},
        {"gap",
         "error: --fail-on: unknown item 'gap' (expected gaps, stalls, imu-absent, "
         "wait-timeouts, imu-health, optical-weak)"},
        {"stalls,GAPS>1", "error: --fail-on: unknown item 'GAPS>1'"},
        {"gaps>", "error: --fail-on: 'gaps>': expected gaps>N or gaps>P%"},
        {"gaps>-1", "error: --fail-on: 'gaps>-1'"},
        {"gaps>.5", "error: --fail-on: 'gaps>.5'"},
        {"gaps>5.", "error: --fail-on: 'gaps>5.'"},
        {"gaps>=5", "error: --fail-on: 'gaps>=5'"},
        {"imu-health>0", "error: --fail-on: 'imu-health>0': imu-health takes no limit"},
        {"imu-absent>100.5%", "error: --fail-on: 'imu-absent>100.5%': a share is at most 100%"},
    };
    for (const auto& [list, expected] : cases) {
        FailOn f;
        std::string error;
        const std::string got = ParseFailOn(list, f, error) ? Items(f) : "error: " + error;
        EXPECT_EQ(got.substr(0, std::string(expected).size()), expected) << list;
    }
}

// --fail-on, --fail-exit, --json, --imu-health and --station-checks as typed:
// "ITEMS|FAIL-EXIT|JSON|IMU-HEALTH" or the usage error.
TEST(FailOnList, OptionsThatWeighMore) {
    const std::string station =
        "imu_absent>0,imu_gaps>0.1%,imu_health,imu_stalls>0,wait_timeouts>0|1|brisk-summary.json|1";
    const std::pair<std::vector<const char*>, std::string> cases[] = {
        {{"5"}, "|0||0"},
        {{"--fail-exit"}, "|1||0"},
        {{"--imu-health"}, "imu_health|0||1"},
        {{"--fail-on", "gaps>3", "--json", "s.json", "--fail-on", "stalls"},
         "imu_gaps>3,imu_stalls>0|0|s.json|0"},
        {{"--station-checks"}, station},
        // What the command line says wins over the set, wherever it stands.
        {{"--fail-on", "gaps>5", "--station-checks", "--json", "x.json"},
         "imu_absent>0,imu_gaps>5,imu_health,imu_stalls>0,wait_timeouts>0|1|x.json|1"},
        {{"--station-checks", "--fail-on", "gaps>5"},
         "imu_absent>0,imu_gaps>5,imu_health,imu_stalls>0,wait_timeouts>0|1|brisk-summary.json|1"},
        {{"--fail-on"}, "error: --fail-on needs a LIST (e.g. gaps>10,stalls>0,imu-health)"},
        {{"--fail-on", "bogus", "5"}, "error: --fail-on: unknown item 'bogus' (expected gaps,"},
        {{"5", "--json"}, "error: --json needs a FILE"},
    };
    for (const auto& [args, expected] : cases) {
        std::vector<const char*> argv{"brisk"};
        argv.insert(argv.end(), args.begin(), args.end());
        const CommandLine cl = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
        const RunSettings& s = cl.settings;
        const std::string got = cl.action == CommandAction::kUsageError
                                    ? "error: " + cl.error
                                    : Items(s.failOn) + "|" + (s.failExit ? "1" : "0") + "|" +
                                          s.jsonPath + "|" + (s.imuHealth ? "1" : "0");
        EXPECT_EQ(got.substr(0, expected.size()), expected) << expected;
        EXPECT_TRUE(IsToolOption(args.front()) || args.front()[0] != '-') << args.front();
    }
}

// --identity and the station's expectations as typed:
// "IDENTITY|MIN-FIRMWARE|PATTERN|PROFILE" or the usage error.
TEST(FailOnList, IdentityAndWhatAStationExpects) {
    const std::pair<std::vector<const char*>, std::string> cases[] = {
        {{"5"}, "0|-|||"},
        {{"--identity"}, "1|-|||"},
        {{"--station-checks"}, "1|-|||"},
        {{"--min-firmware", "1462663157"}, "1|1462663157|||"},
        {{"--min-firmware", "0"}, "1|0|||"},
        {{"--serial-pattern", "LHR-*", "--serial-pattern", "LHR-0?"}, "1|-|LHR-0?||"},
        {{"--station-profile", "bench.txt", "3"}, "1|-||bench.txt|"},
        {{"--min-firmware"}, "error: --min-firmware needs a firmware build number"},
        {{"--min-firmware", "-1"}, "error: --min-firmware needs a firmware build number"},
        {{"--min-firmware", "4294967296"}, "error: --min-firmware needs a firmware build number"},
        {{"--min-firmware", "12a"}, "error: --min-firmware needs a firmware build number"},
        {{"--serial-pattern", ""}, "error: --serial-pattern needs a PATTERN"},
        {{"--station-profile"}, "error: --station-profile needs a FILE"},
    };
    for (const auto& [args, expected] : cases) {
        std::vector<const char*> argv{"brisk"};
        argv.insert(argv.end(), args.begin(), args.end());
        const CommandLine cl = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
        const RunSettings& s = cl.settings;
        const std::string got =
            cl.action == CommandAction::kUsageError
                ? "error: " + cl.error
                : std::string(s.identity ? "1" : "0") + "|" +
                      (s.minFirmwareGiven ? std::to_string(s.minFirmware) : "-") + "|" +
                      s.serialPattern + "|" + s.stationProfile + "|";
        EXPECT_EQ(got.substr(0, expected.size()), expected) << expected;
        EXPECT_TRUE(IsToolOption(args.front()) || args.front()[0] != '-') << args.front();
    }
}

// --optical and --light-generation as typed: "OPTICAL|GENERATION|IDENTITY"
// (OPTICAL 0 off, 1 auto, 2 require) or the usage error.
TEST(FailOnList, OpticalAndItsGeneration) {
    const std::string kExpectError =
        "error: --expect-stations needs channels (0-15) and 8-hex-digit ids, comma-separated, each "
        "once (e.g. 1,925017E7)";
    const std::pair<std::vector<const char*>, std::string> cases[] = {
        {{"5"}, "0|0|0"},
        {{"--optical", "auto"}, "1|0|1"},
        {{"--optical", "require", "--light-generation", "2"}, "2|2|1"},
        {{"--light-generation", "1", "--optical", "auto"}, "1|1|1"},
        {{"--light-generation", "auto"}, "0|0|0"},
        {{"--station-checks"}, "1|0|1"},
        {{"--station-checks", "--optical", "require"}, "2|0|1"},
        {{"--optical"}, "error: --optical needs auto or require"},
        {{"--optical", "yes"}, "error: --optical needs auto or require"},
        {{"--light-generation", "3"}, "error: --light-generation needs 1, 2 or auto"},
        {{"--light-generation"}, "error: --light-generation needs 1, 2 or auto"},
        // Expected stations need the light read: auto unless --optical says.
        {{"--expect-stations", "1"}, "1|0|1"},
        {{"--expect-stations", "0,925017e7", "--optical", "require"}, "2|0|1"},
        {{"--expect-stations"}, kExpectError},
        {{"--expect-stations", "16"}, kExpectError},
    };
    for (const auto& [args, expected] : cases) {
        std::vector<const char*> argv{"brisk"};
        argv.insert(argv.end(), args.begin(), args.end());
        const CommandLine cl = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
        const RunSettings& s = cl.settings;
        const std::string got = cl.action == CommandAction::kUsageError
                                    ? "error: " + cl.error
                                    : std::to_string(static_cast<int>(s.optical)) + "|" +
                                          std::to_string(s.lightGeneration) + "|" +
                                          (s.identity ? "1" : "0");
        EXPECT_EQ(got, expected);
        EXPECT_TRUE(IsToolOption(args.front()) || args.front()[0] != '-') << args.front();
    }
}

// --expect-stations items: channels by their digits, ids by eight hex
// digits; anything else refuses the whole list.
TEST(ExpectedStations, ChannelsAndIdsAndWhatIsRefused) {
    using K = ExpectedStation::Kind;
    using List = std::vector<ExpectedStation>;
    const std::pair<const char*, std::optional<List>> cases[] = {
        {"1", List{{K::kChannel, 1}}},
        {"0,15,07", List{{K::kChannel, 0}, {K::kChannel, 15}, {K::kChannel, 7}}},
        {"925017E7", List{{K::kId, 0x925017E7}}},
        {"084071d2,3", List{{K::kId, 0x084071D2}, {K::kChannel, 3}}},
        {"00000016", List{{K::kId, 0x16}}},  // eight digits: an id, even all decimal
        {"16", std::nullopt},
        {"123", std::nullopt},
        {"925017E", std::nullopt},
        {"925017E70", std::nullopt},
        {"92501GE7", std::nullopt},
        {"", std::nullopt},
        {"1,", std::nullopt},
        {",1", std::nullopt},
        {"1,,2", std::nullopt},
        {" 1", std::nullopt},
        {"-1", std::nullopt},
        {"1,01", std::nullopt},  // the same channel twice
        {"925017E7,925017e7", std::nullopt},
    };
    for (const auto& [text, want] : cases) {
        EXPECT_EQ(ParseExpectedStations(text), want) << text;
    }
    EXPECT_EQ(ExpectedStationName({K::kChannel, 3}), "channel 3");
    EXPECT_EQ(ExpectedStationName({K::kId, 0x84071D2}), "id 084071D2");
}

TEST(Presence, LostAndBackLinesTellWhetherADeviceIsThere) {
    struct Row {
        const char* name;
        std::vector<std::pair<LineEvent, double>> heard;
        PartPresence imu;
    };
    const Row rows[] = {
        {"never lost", {{LineEvent::kDonned, 2.0}}, {true, true, 0, 0, -1.0, 0.0}},
        {"lost, not back", {{LineEvent::kImuLost, 4.0}}, {true, false, 1, 0, 4.0, 8.0}},
        {"lost and back twice",
         {{LineEvent::kImuLost, 2.0},
          {LineEvent::kImuBack, 3.5},
          {LineEvent::kMcuLost, 4.0},
          {LineEvent::kImuLost, 6.0},
          {LineEvent::kImuBack, 7.0}},
         {true, true, 2, 2, 6.0, 2.5}},
        // A second loss line before a return does not restart the clock.
        {"lost twice",
         {{LineEvent::kImuLost, 2.0}, {LineEvent::kImuLost, 5.0}},
         {true, false, 2, 0, 5.0, 10.0}},
    };
    for (const Row& row : rows) {
        PresenceTracker tracker;
        tracker.Watch(RunPart::kImu, 0.5);
        for (const auto& [event, at] : row.heard) {
            tracker.Heard(event, at);
        }
        EXPECT_EQ(tracker.Presence(RunPart::kImu, 12.0), row.imu) << row.name;
        EXPECT_EQ(tracker.ImuStartedAt(), 0.5);
    }
    PresenceTracker mcuOnly;
    mcuOnly.Heard(LineEvent::kMcuLost, 3.0);
    mcuOnly.Heard(LineEvent::kDisplayLost, 4.0);
    mcuOnly.Heard(LineEvent::kDisplayLost, 5.0);
    EXPECT_EQ(mcuOnly.Presence(RunPart::kMcu, 6.0), (PartPresence{true, false, 1, 0, 3.0, 3.0}));
    EXPECT_FALSE(mcuOnly.Presence(RunPart::kImu, 6.0).watched);
    EXPECT_EQ(mcuOnly.DisplayLostAt(), 4.0);
}

}  // namespace
}  // namespace brisk
