// The verdict and what a script reads of it: one run per row, a scenario and
// options in; the verdict line, the REASONS line before a FAIL, the exit code
// and the --json summary out. Every summary is checked against
// docs/summary.schema.json by a real validator (python3-jsonschema).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>

#include "e2e/e2e_support.h"
#include "log/summary_json.h"
#include "report/log_reader.h"

namespace brisk::e2e {
namespace {

using Json = nlohmann::json;

struct VerdictRow {
    const char* name;
    const char* scenario;
    std::vector<std::string> args;  // the tool's; --json FILE is added when none is given
    int exitCode;
    const char* verdictLine;    // the last stdout line; nullptr: no VERDICT line at all
    const char* reasons;        // the summary's reason codes, ";"-joined
    const char* verdict;        // the summary's; nullptr: no summary is written
    const char* parts;          // each part's result, or null
    const char* err = nullptr;  // nullptr: not checked; "": none; otherwise the one stderr line
};

void PrintTo(const VerdictRow& row, std::ostream* os) {
    *os << row.name;
}

bool Has(const std::vector<std::string>& args, const char* option) {
    return std::find(args.begin(), args.end(), option) != args.end();
}

// The validator's complaints, empty when the document fits the schema.
std::string SchemaErrors(const std::string& document) {
    static const char* const kValidate =
        "import json, sys, jsonschema\n"
        "schema = json.load(open(sys.argv[1]))\n"
        "cls = jsonschema.validators.validator_for(schema)\n"
        "cls.check_schema(schema)\n"
        "for e in cls(schema).iter_errors(json.load(open(sys.argv[2]))):\n"
        "    print(list(e.absolute_path), e.message)\n";
    const RunResult run =
        RunProgram({"/usr/bin/python3", "-c", kValidate, BRISK_SUMMARY_SCHEMA, document}, {});
    return run.exited && run.exitCode == 0 && run.out.empty() ? "" : Describe(run);
}

std::string PartResults(const Json& doc) {
    std::string out;
    for (const char* part : {"imu", "mcu", "display"}) {
        const Json& p = doc.at(part);
        out += std::string(out.empty() ? "" : " ") + part + "=" +
               (p.is_null() ? "null" : p.at("result").get<std::string>());
    }
    return out;
}

// "code — text; code — text", as the REASONS line spells the counted reasons.
std::string ReasonWords(const Json& reasons, std::string& codes) {
    std::string words;
    for (const Json& r : reasons) {
        const std::string code = r.at("code");
        codes += (codes.empty() ? "" : ";") + code;
        words += (words.empty() ? "" : "; ") + code + " — " + r.at("text").get<std::string>();
    }
    return words;
}

class Verdicts : public testing::TestWithParam<VerdictRow> {};

TEST_P(Verdicts, AsTheConsoleTheExitCodeAndTheSummarySayIt) {
    const VerdictRow& row = GetParam();
    TempFile json(".json");
    TempFile folder(".d");  // --station-checks writes its summary in the working folder
    std::vector<std::string> args = row.args;
    RunOptions options;
    std::string summaryPath = json.Path();
    if (Has(args, "--station-checks")) {
        ASSERT_EQ(mkdir(folder.Path().c_str(), 0700), 0);
        options.workingFolder = folder.Path();
        summaryPath = folder.Path() + "/brisk-summary.json";
    } else if (!Has(args, "--json")) {
        args.insert(args.begin(), {"--json", json.Path()});
    }
    const RunResult run = RunSim(row.scenario, args, options);
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, row.exitCode);
    if (row.err != nullptr && *row.err == '\0') {
        EXPECT_TRUE(run.err.empty());
    } else if (row.err != nullptr) {
        EXPECT_EQ(Texts(run.err), std::vector<std::string>{row.err});
    }
    const int verdictAt = IndexOfPrefix(run.out, "VERDICT: ");
    const int reasonsAt = IndexOfPrefix(run.out, "REASONS: ");
    if (row.verdictLine == nullptr) {
        EXPECT_EQ(verdictAt, -1);
    } else {
        ASSERT_FALSE(run.out.empty());
        EXPECT_EQ(run.out.back().text, row.verdictLine);
    }
    // A FAIL, and only a FAIL, names its reasons right before its verdict.
    const bool failLine =
        row.verdictLine != nullptr && std::string(row.verdictLine).starts_with("VERDICT: FAIL");
    EXPECT_EQ(reasonsAt, failLine ? verdictAt - 1 : -1);

    if (row.verdict == nullptr) {
        return;
    }
    std::ifstream in(summaryPath);
    ASSERT_TRUE(in.good()) << summaryPath;
    std::stringstream text;
    text << in.rdbuf();
    const Json doc = Json::parse(text.str(), nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << text.str();
    EXPECT_EQ(SchemaErrors(summaryPath), "") << text.str();
    EXPECT_EQ(doc.at("verdict"), row.verdict);
    EXPECT_EQ(doc.at("exit_code"), run.exitCode);
    EXPECT_EQ(doc.at("command_line"), Json(args));
    EXPECT_EQ(doc.at("tool_version"), BRISK_VERSION);
    EXPECT_EQ(PartResults(doc), row.parts);
    std::string codes;
    const std::string words = ReasonWords(doc.at("reasons"), codes);
    EXPECT_EQ(codes, row.reasons);
    if (failLine) {
        EXPECT_EQ(run.out[reasonsAt].text, "REASONS: " + words);
    }
    std::remove(summaryPath.c_str());
    rmdir(folder.Path().c_str());
}

const char* const kSensorsPass = "VERDICT: PASS (sensors only — no display tested)";
const char* const kSensorsFail = "VERDICT: FAIL (sensors only)";
const char* const kAllPass = "imu=PASS mcu=PASS display=PASS";

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    E2e, Verdicts,
    testing::Values(
        VerdictRow{"Healthy", "", {"3"}, 0, kVerdictPass, "", "PASS", kAllPass, ""},
        // The mend: an IMU that is gone at the end fails the run.
        VerdictRow{"ImuUnpluggedNeverBack", "2 watchman unplug\n", {"4"}, 0, kVerdictFail,
                   "imu_lost", "FAIL", "imu=FAIL mcu=PASS display=PASS"},
        VerdictRow{"ImuUnpluggedAndBack", "2 watchman unplug\n2.5 watchman plug\n", {"5"}, 0,
                   kVerdictPass, "", "PASS", kAllPass},
        VerdictRow{"McuUnpluggedNeverBack", "2 mcu unplug\n", {"4"}, 0, kVerdictFail, "mcu_lost",
                   "FAIL", "imu=PASS mcu=FAIL display=PASS"},
        VerdictRow{"PresentErrors", "2 display present-errors 3\n", {"3"}, 0, kVerdictFail,
                   "present_errors", "FAIL", "imu=PASS mcu=PASS display=FAIL"},
        VerdictRow{"FailExit", "2 display present-errors 3\n", {"--fail-exit", "3"}, 1,
                   kVerdictFail, "present_errors", "FAIL", "imu=PASS mcu=PASS display=FAIL"},
        VerdictRow{"GapsWhenAsked", "2 watchman skip 5\n",
                   {"--display", "none", "--fail-on", "gaps>0", "3"}, 0, kSensorsFail, "imu_gaps",
                   "FAIL", "imu=FAIL mcu=PASS display=null"},
        VerdictRow{"StationChecksHealthy", "", {"--station-checks", "3"}, 0, kVerdictPass, "",
                   "PASS", kAllPass, ""},
        // A headset at rest still reads noise: no axis of it is stuck.
        VerdictRow{"StationChecksHeadAtRest", "1 watchman gyro 0 0 0\n1 watchman accel 0 8192 0\n",
                   {"--station-checks", "4"}, 0, kVerdictPass, "", "PASS", kAllPass, ""},
        VerdictRow{"DisplayRemoved", "2 display remove\n", {"4"}, 4, kVerdictDisplayLost,
                   "display_lost", "DISPLAY_LOST", "imu=PASS mcu=PASS display=FAIL"},
        VerdictRow{"NoWatchman", "0 watchman absent\n", {"3"}, 2, nullptr, "imu_not_started",
                   "FAIL", "imu=FAIL mcu=null display=null", kNoMatchingWatchman},
        VerdictRow{"NoDisplay", "0 display absent\n", {"3"}, 3, nullptr, "display_init_failed",
                   "FAIL", "imu=PASS mcu=PASS display=FAIL"},
        VerdictRow{"DisplayNone", "", {"--display", "none", "3"}, 0, kSensorsPass, "", "PASS",
                   "imu=PASS mcu=PASS display=null", ""},
        // The summary file is a side file: a failed write is one line and the
        // run goes on; one that cannot be created is a usage error.
        VerdictRow{"SummaryOnAFullDisk", "", {"--display", "none", "--json", "/dev/full", "2"}, 0,
                   kSensorsPass, "", nullptr, "",
                   "brisk: --json: stopped writing /dev/full: No space left on device; the run "
                   "goes on"},
        VerdictRow{"SummaryUncreatable", "", {"--json", "/nonexistent-dir/s.json", "2"}, 64,
                   nullptr, "", nullptr, "",
                   "brisk: --json: cannot create /nonexistent-dir/s.json: No such file or "
                   "directory"},
        // --optical on the virtual Watchman's light (second-generation
        // stations in front of it): a healthy unit passes; a dead photodiode,
        // the light stopping while the IMU goes on, and (with require) no
        // station in view each fail with their own reason.
        VerdictRow{"OpticalHealthy", "", {"--display", "none", "--optical", "auto", "4"}, 0,
                   kSensorsPass, "", "PASS", "imu=PASS mcu=PASS display=null", ""},
        VerdictRow{"OpticalDeadPhotodiode", "0 watchman photodiode-dead 6\n",
                   {"--display", "none", "--optical", "auto", "4"}, 0, kSensorsFail,
                   "optical_dead", "FAIL", "imu=FAIL mcu=PASS display=null", ""},
        VerdictRow{"OpticalWeakOnlyWhenAsked", "0 watchman photodiode-weak 20\n",
                   {"--display", "none", "--optical", "auto", "--fail-on", "optical-weak", "5"},
                   0, kSensorsFail, "optical_weak", "FAIL", "imu=FAIL mcu=PASS display=null", ""},
        VerdictRow{"OpticalLightStall", "4 watchman light off\n",
                   {"--display", "none", "--optical", "auto", "7"}, 0, kSensorsFail,
                   "optical_light_stall", "FAIL", "imu=FAIL mcu=PASS display=null",
                   "WatchmanLight: light stalled (nothing for 2 s while the IMU goes on)"},
        VerdictRow{"OpticalRequiredStationsOff",
                   "0 watchman station-off 0\n0 watchman station-off 1\n",
                   {"--display", "none", "--optical", "require", "3"}, 0, kSensorsFail,
                   "optical_not_judged", "FAIL", "imu=FAIL mcu=PASS display=null", ""},
        // auto finds a first-generation room too; a generation named wrong
        // sees only the other kind's flagged entries: nothing judged.
        VerdictRow{"OpticalAutoFindsFirstGeneration", "0 watchman light-generation 1\n",
                   {"--display", "none", "--optical", "require", "3"}, 0, kSensorsPass, "",
                   "PASS", "imu=PASS mcu=PASS display=null", ""},
        VerdictRow{"OpticalWrongGenerationNotJudged", "",
                   {"--display", "none", "--optical", "require", "--light-generation", "1", "3"},
                   0, kSensorsFail, "optical_not_judged", "FAIL",
                   "imu=FAIL mcu=PASS display=null", ""},
        // An expected station the room does not have (its stations are on
        // channels 4 and 11) is missing; --expect-stations reads the light
        // by itself.
        VerdictRow{"OpticalExpectedStationAbsent", "",
                   {"--display", "none", "--expect-stations", "4,2", "4"}, 0, kSensorsFail,
                   "optical_station_missing", "FAIL", "imu=FAIL mcu=PASS display=null", ""},
        VerdictRow{"OpticalExpectedStationsSeen", "",
                   {"--display", "none", "--expect-stations", "4,11", "4"}, 0, kSensorsPass, "",
                   "PASS", "imu=PASS mcu=PASS display=null", ""},
        VerdictRow{"OpticalAutoStationsOff",
                   "0 watchman station-off 0\n0 watchman station-off 1\n",
                   {"--display", "none", "--optical", "auto", "3"}, 0, kSensorsPass, "", "PASS",
                   "imu=PASS mcu=PASS display=null", ""},
        // A station profile that cannot be read is a mistake on the command
        // line, found before any device is touched.
        VerdictRow{"StationProfileUnreadable", "", {"--station-profile", "/nonexistent-dir/p.txt", "2"},
                   64, nullptr, "", nullptr, "",
                   "brisk: --station-profile: cannot read /nonexistent-dir/p.txt"}),
    [](const testing::TestParamInfo<VerdictRow>& info) { return std::string(info.param.name); });
// clang-format on

// The summary's "watchman" block (--identity) as rows: what the reads found
// in, the block out, every document checked against the schema too.
struct WatchmanRow {
    const char* name;
    std::function<void(RunSummary&)> change;
    const char* block;  // the block as one-line JSON; nullptr: no "watchman" key at all
};

void PrintTo(const WatchmanRow& row, std::ostream* os) {
    *os << row.name;
}

class WatchmanBlocks : public testing::TestWithParam<WatchmanRow> {};

// A unit read whole and sound.
void Sound(RunSummary& s) {
    s.identityAsked = s.identityRead = true;
    WatchmanIdentity& w = s.watchman;
    w.reads = 1;
    w.usbSerial = {"LHR-5A1B2C3D", "device", "LHR-5A1B2C3D"};
    identity::FirmwareVersion v;
    v.build = 1462663157, v.hardwareRevision = 3, v.hardwareMajor = 1, v.hardwareMinor = 2;
    v.fpgaMajor = 1, v.fpgaMinor = 9;
    w.identity.firmware = v;
    w.identity.range = identity::ImuRange{3, 1, 2000, 4};
    auto c = std::make_shared<identity::WatchmanConfig>();
    c->read = true, c->compressedBytes = 3103, c->chunkBytes = 3105, c->jsonBytes = 9737;
    c->serial = "LHR-5A1B2C3D";
    c->positions.resize(32);
    w.identity.config = c;
}

const char kSoundBlock[] =
    R"j({"usb_serial":"LHR-5A1B2C3D","usb_serial_source":"device",)j"
    R"j("firmware":{"build":1462663157,"hardware":"rev 3 (1.2.0)","fpga":"1.9"},)j"
    R"j("imu_range":{"gyro_dps":2000,"accel_g":4},"config":{"read":true,)j"
    R"j("compressed_bytes":3103,"chunk_bytes":3105,"json_bytes":9737,"serial":"LHR-5A1B2C3D",)j"
    R"j("photodiodes":32,"problems":[]}})j";

TEST_P(WatchmanBlocks, FitTheSchemaWithTheirExactNames) {
    const WatchmanRow& row = GetParam();
    RunFacts facts;
    facts.version = BRISK_VERSION;
    facts.station = "bench-1";
    facts.startedAt = "2026-12-10T09:00:00.000Z";
    RunSummary s;
    s.verdict = "PASS (sensors only)";
    s.imuTried = true;
    row.change(s);
    const std::string text = SummaryJson(facts, s);
    TempFile file(".json");
    std::ofstream(file.Path()) << text;
    EXPECT_EQ(SchemaErrors(file.Path()), "") << text;
    // In the order written: the names in the order the reference gives them.
    const nlohmann::ordered_json doc = nlohmann::ordered_json::parse(text);
    if (row.block == nullptr) {
        EXPECT_FALSE(doc.contains("watchman")) << text;
    } else {
        EXPECT_EQ(doc.at("watchman").dump(), row.block);
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Summary, WatchmanBlocks,
    testing::Values(
        WatchmanRow{"WithoutIdentity", [](RunSummary&) {}, nullptr},
        WatchmanRow{"ImuNeverStarted", [](RunSummary& s) { s.identityAsked = true; }, "null"},
        WatchmanRow{"Sound", Sound, kSoundBlock},
        WatchmanRow{"NothingCaptured", [](RunSummary& s) {
            s.identityAsked = s.identityRead = true;
            s.watchman.reads = 1;
            s.watchman.usbSerial = {std::nullopt, "chosen by brisk-sim", "LHR-5A1B2C3D"};
        }, R"j({"usb_serial":"LHR-5A1B2C3D","usb_serial_source":"chosen by brisk-sim","firmware":null,)j"
           R"j("imu_range":null,"config":{"read":false,"compressed_bytes":null,"chunk_bytes":null,)j"
           R"j("json_bytes":null,"serial":null,"photodiodes":null,"problems":[]}})j"},
        WatchmanRow{"ConfigCutShort", [](RunSummary& s) {
            Sound(s);
            auto c = std::make_shared<identity::WatchmanConfig>();
            c->compressedBytes = 3103, c->chunkBytes = 620;
            s.watchman.identity.config = c;
            s.watchman.identity.firmware.reset();
            s.watchman.usbSerial = {};
            s.watchman.problems = {{"version_unreadable", "no answer to 0x05 in 16 tries"},
                                   {"config_unreadable", "no answer to 0x11 in 16 tries"}};
        }, R"j({"usb_serial":null,"usb_serial_source":null,"firmware":null,)j"
           R"j("imu_range":{"gyro_dps":2000,"accel_g":4},"config":{"read":false,"compressed_bytes":3103,)j"
           R"j("chunk_bytes":620,"json_bytes":null,"serial":null,"photodiodes":null,"problems":[)j"
           R"j({"code":"version_unreadable","text":"no answer to 0x05 in 16 tries"},)j"
           R"j({"code":"config_unreadable","text":"no answer to 0x11 in 16 tries"}]}})j"}),
    [](const testing::TestParamInfo<WatchmanRow>& info) { return std::string(info.param.name); });
// clang-format on

// The OPTICAL RESULT block and the summary's "optical" block of one run.
struct OpticalRun {
    std::vector<std::string> block;  // OPTICAL RESULT and the lines after it
    Json optical;
    report::LoggedRun log;  // --log, as brisk-report reads it
};

OpticalRun RunOptical(const std::string& scenario, const std::vector<std::string>& args,
                      const std::vector<std::string>& simArgs = {}) {
    TempFile json(".json"), log(".csv");
    std::vector<std::string> all = {"--json",    json.Path(), "--log",     log.Path(),
                                    "--display", "none",      "--optical", "auto"};
    all.insert(all.end(), args.begin(), args.end());
    const RunResult run = RunSim(scenario, all, {}, simArgs);
    OpticalRun out;
    EXPECT_TRUE(run.exited && run.exitCode == 0) << Describe(run);
    const int at = IndexOfPrefix(run.out, "OPTICAL RESULT: ");
    EXPECT_GE(at, 0) << Describe(run);
    for (size_t i = at < 0 ? run.out.size() : static_cast<size_t>(at); i < run.out.size(); ++i) {
        if (i > static_cast<size_t>(at) && !run.out[i].text.starts_with("  ")) {
            break;
        }
        out.block.push_back(run.out[i].text);
    }
    EXPECT_EQ(SchemaErrors(json.Path()), "");
    std::ifstream in(json.Path());
    std::stringstream text;
    text << in.rdbuf();
    const Json doc = Json::parse(text.str(), nullptr, false);
    if (!doc.is_discarded() && doc.contains("optical")) {
        out.optical = doc.at("optical");
    }
    std::ifstream logged(log.Path(), std::ios::binary);
    out.log = report::ReadLoggedRun(logged).log;
    return out;
}

size_t CountState(const Json& optical, const char* state) {
    size_t n = 0;
    for (const Json& p : optical.at("photodiodes")) {
        n += p.at("state") == state ? 1 : 0;
    }
    return n;
}

// The virtual unit: two second-generation stations in front of it, its back
// unlit. A station's OOTX frame takes about 10 s to come whole: a short run
// may end before one has, never with a bad CRC.
TEST(E2eOptical, AHealthyVirtualUnitIsJudgedWithItsStations) {
    const OpticalRun r = RunOptical("", {"5"});
    ASSERT_FALSE(r.block.empty());
    EXPECT_TRUE(r.block[0].starts_with("OPTICAL RESULT: generation 2, 32 photodiodes: "))
        << r.block[0];
    EXPECT_NE(r.block[0].find(" 0 dead, 0 weak, 0 abnormal, "), std::string::npos) << r.block[0];
    ASSERT_TRUE(r.optical.is_object());
    EXPECT_EQ(r.optical.at("judged"), true);
    EXPECT_EQ(r.optical.at("generation"), 2);
    EXPECT_EQ(r.optical.at("photodiodes").size(), 32u);
    EXPECT_GE(CountState(r.optical, "ok"), 8u);
    EXPECT_EQ(CountState(r.optical, "ok") + CountState(r.optical, "unlit"), 32u);
    ASSERT_EQ(r.optical.at("base_stations").size(), 2u);
    for (const Json& st : r.optical.at("base_stations")) {
        EXPECT_TRUE(st.at("channel").is_number()) << st;
        EXPECT_NE(st.at("ootx_crc_ok"), false) << st;
        EXPECT_EQ(st.at("id").is_string(), st.at("ootx_crc_ok") == true) << st;
    }
    EXPECT_EQ(r.block.size(), 3u);  // the head line and the two stations
    EXPECT_EQ(r.optical.at("missing_stations"), Json::array());
}

// The room's second station (channel 11) off the whole run: the expected
// stations that did not come are named in the block and the summary, the
// one that came is not, and the photodiodes that face only the station that
// is off are unlit, not dead.
TEST(E2eOptical, ExpectedStationsThatDidNotComeAreNamed) {
    const OpticalRun r =
        RunOptical("0 watchman station-off 1\n", {"--expect-stations", "4,11,0000BEEF", "5"});
    ASSERT_GE(r.block.size(), 4u);
    EXPECT_TRUE(r.block[0].starts_with("OPTICAL RESULT: generation 2, 32 photodiodes: "))
        << r.block[0];
    EXPECT_NE(r.block[0].find(" ok, 0 dead, 0 weak, 0 abnormal, "), std::string::npos)
        << r.block[0];
    const std::vector<std::string> tail(r.block.end() - 3, r.block.end());
    EXPECT_TRUE(tail[0].starts_with("  base station channel 4: ")) << tail[0];
    EXPECT_EQ(tail[1], "  expected base station channel 11: never seen");
    EXPECT_EQ(tail[2], "  expected base station id 0000BEEF: no station gave that id");
    ASSERT_TRUE(r.optical.is_object());
    EXPECT_EQ(r.optical.at("base_stations").size(), 1u);
    EXPECT_EQ(r.optical.at("missing_stations"),
              Json::parse(R"([{"id":null,"channel":11},{"id":"0000BEEF","channel":null}])"));
}

// The real first-generation capture: every photodiode that sees light is
// sound, and both base stations give their identity (tests/data/real's
// light_expected.txt holds the independent decode of the same ids).
TEST(E2eOptical, AReplayedRealCaptureNamesNoFaultyPhotodiode) {
    const std::string path = std::string(BRISK_REAL_DATA) + "/index-lhv1.pcap.gz";
    const OpticalRun r = RunOptical("", {}, {"--replay", path});
    ASSERT_FALSE(r.block.empty());
    EXPECT_TRUE(r.block[0].starts_with("OPTICAL RESULT: generation 1, 32 photodiodes: "))
        << r.block[0];
    EXPECT_NE(r.block[0].find(" 0 dead, 0 weak, 0 abnormal, "), std::string::npos) << r.block[0];
    // The ids, firmware and frames of the independent decode; the syncs
    // are the tool's own count, not compared.
    const char* const kStations[] = {
        "  base station 1 (first generation): id 925017E7, firmware 298, OOTX CRC ok (3 frames, "
        "0 with a bad CRC), ",
        "  base station 2 (first generation): id 084071D2, firmware 298, OOTX CRC ok (3 frames, "
        "0 with a bad CRC), "};
    ASSERT_EQ(r.block.size(), 3u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_TRUE(r.block[i + 1].starts_with(kStations[i])) << r.block[i + 1];
    }
    ASSERT_TRUE(r.optical.is_object());
    EXPECT_EQ(r.optical.at("judged"), true);
    EXPECT_EQ(r.optical.at("generation"), 1);
    EXPECT_EQ(CountState(r.optical, "dead") + CountState(r.optical, "weak") +
                  CountState(r.optical, "abnormal"),
              0u);
    // The log's photodiode rows (before its summary, or the writer drops
    // them), as the report reads them: the summary file's photodiodes, each
    // at its configured place with a normal of unit length.
    const Json& pds = r.optical.at("photodiodes");
    ASSERT_EQ(r.log.photodiodes.size(), pds.size());
    for (size_t i = 0; i < pds.size(); ++i) {
        const report::LoggedPhotodiode& p = r.log.photodiodes[i];
        EXPECT_EQ(Json({{"id", p.channel},
                        {"model_index", p.modelIndex},
                        {"pulses", p.pulses},
                        {"state", report::LoggedPdStateName(p.state)}}),
                  pds[i]);
        EXPECT_NEAR(std::hypot(p.nx, p.ny, p.nz), 1.0, 1e-3) << i;
        EXPECT_LT(std::max({std::abs(p.x), std::abs(p.y), std::abs(p.z)}), 0.2) << i;
    }
    EXPECT_EQ(r.log.summary.photodiodesDead + r.log.summary.photodiodesWeak +
                  r.log.summary.photodiodesAbnormal,
              0.0);
}

}  // namespace
}  // namespace brisk::e2e
