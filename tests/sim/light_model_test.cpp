// The virtual Watchman's light, read as the bus reads it and fed through the
// optical core: a healthy room of each generation, each light action of the
// scenario files naming exactly its photodiode or station, the formats the
// host picks, and the light interface on the bus.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "identity/watchman_config.h"
#include "optical/optical_run.h"
#include "optical/photodiode_judge.h"
#include "sim/light_model.h"
#include "sim/scenario.h"
#include "sim/virtual_headset.h"
#include "sim/watchman.h"
#include "sim/watchman_identity.h"

#if defined(BRISK_LIGHT_HIDRAW_PROBE)
#include "support/subprocess.h"
#endif

namespace brisk::sim {
namespace {

using optical::PhotodiodeState;
using namespace std::chrono_literals;

const std::string kSerial = "LHR-5A1B2C3D";
const Clock::time_point kT0{std::chrono::seconds(1000)};  // model time: the same run each time

std::shared_ptr<const identity::WatchmanConfig> Config() {
    const std::vector<uint8_t> stream = CompressConfig(VirtualConfigJson(kSerial, ""));
    return identity::DecodeConfigStream(stream.data(), stream.size());
}

struct LightRun {
    std::unique_ptr<optical::OpticalRun> run = std::make_unique<optical::OpticalRun>();
    optical::OpticalFindings findings;
    std::vector<double> reportSeconds;
    std::map<uint8_t, uint64_t> reportsById;
};

// `seconds` of the virtual unit's light, taken every 10 ms as the bus's
// readers take it, with the scenario's actions at their times; the host
// sets format `format` (0x04's byte) first, as a reader will.
LightRun RunLight(const std::string& scenario, int format, double seconds = 20) {
    Scenario sc;
    std::string error;
    EXPECT_TRUE(ParseScenario(scenario, "t", sc, error)) << error;
    const auto config = Config();
    LightRun out;
    out.run->SetNeighbours(optical::NeighboursOnTheWire(*config));
    LightModel model(VirtualPhotodiodes(kSerial), kT0);
    const uint8_t choose[5] = {kLightFormatReport, uint8_t(format)};
    EXPECT_TRUE(model.OnFeature(choose, sizeof(choose), kT0));
    std::vector<InputReport> reports;
    size_t nextAction = 0;
    for (int step = 0; step <= int(seconds * 100); ++step) {
        const double t = step / 100.0;
        for (; nextAction < sc.actions.size() && sc.actions[nextAction].seconds <= t;
             ++nextAction) {
            EXPECT_TRUE(ApplyLightAction(sc.actions[nextAction], model));
        }
        reports.clear();
        model.Produce(kT0 + std::chrono::milliseconds(step * 10), reports);
        for (const InputReport& r : reports) {
            EXPECT_EQ(r.length, kLightReportBytes);
            out.run->Feed(r.bytes, r.length);
            out.reportSeconds.push_back(t);
            ++out.reportsById[r.bytes[0]];
        }
    }
    out.run->Finish();
    out.findings = optical::JudgeOptical(*out.run, *config);
    return out;
}

std::set<uint32_t> StationIds(const optical::OpticalFindings& f) {
    std::set<uint32_t> ids;
    for (const optical::StationFinding& s : f.stations) {
        if (s.id) {
            ids.insert(*s.id);
        }
    }
    return ids;
}

// The photodiodes judged anything but ok or unlit: wire -> state.
std::map<int64_t, PhotodiodeState> Faulty(const optical::OpticalFindings& f) {
    std::map<int64_t, PhotodiodeState> out;
    for (const optical::PhotodiodeFinding& p : f.photodiodes) {
        if (p.state != PhotodiodeState::kOk && p.state != PhotodiodeState::kUnlit) {
            out[p.wire] = p.state;
        }
    }
    return out;
}

// The brightest ok photodiode of a healthy run: its neighbours see light.
int64_t BrightestOk(const optical::OpticalFindings& f) {
    const optical::PhotodiodeFinding* best = nullptr;
    for (const optical::PhotodiodeFinding& p : f.photodiodes) {
        if (p.state == PhotodiodeState::kOk && (best == nullptr || p.pulses > best->pulses)) {
            best = &p;
        }
    }
    return best == nullptr ? -1 : best->wire;
}

TEST(LightModel, AHealthyRoomOfEachGenerationIsSeenWhole) {
    struct Row {
        int generation;
        uint8_t reportId;
        double minPerSecond, maxPerSecond;  // around the real units' 710 and 226
    } rows[] = {{1, kLightPulseReport, 500, 900}, {2, kLightSweepReport, 150, 320}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.generation);
        const LightRun r =
            RunLight("0 watchman light-generation " + std::to_string(row.generation) + "\n",
                     row.generation - 1);
        const optical::OpticalFindings& f = r.findings;
        ASSERT_TRUE(f.judged);
        EXPECT_EQ(f.generation, row.generation);
        EXPECT_EQ(r.reportsById.size(), 1u);
        const double perSecond = double(r.reportsById.at(row.reportId)) / 20.0;
        EXPECT_GT(perSecond, row.minPerSecond);
        EXPECT_LT(perSecond, row.maxPerSecond);
        EXPECT_TRUE(Faulty(f).empty());
        EXPECT_TRUE(f.unmapped.empty());
        // Lit where it faces a station, unlit on the back of the shell.
        size_t ok = 0, unlit = 0;
        for (const optical::PhotodiodeFinding& p : f.photodiodes) {
            ok += p.state == PhotodiodeState::kOk;
            unlit += p.state == PhotodiodeState::kUnlit;
            if (p.state == PhotodiodeState::kOk) {
                EXPECT_GT(p.pulses, 1000u) << p.wire;
            }
        }
        EXPECT_GE(ok, 10u);
        EXPECT_GE(unlit, 6u);
        EXPECT_EQ(ok + unlit, f.photodiodes.size());
        ASSERT_EQ(f.stations.size(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            const VirtualStation& want = RoomStation(row.generation, i);
            const optical::StationFinding& s = f.stations[i];
            EXPECT_EQ(s.generation, row.generation);
            EXPECT_EQ(s.id, std::optional<uint32_t>(want.id));
            EXPECT_EQ(s.firmware, std::optional<uint16_t>(want.firmwareWord >> 6));
            EXPECT_EQ(s.ootxCrcOk, std::optional<bool>(true));
            EXPECT_EQ(s.badCrcFrames + s.brokenFrames, 0u);
            EXPECT_GE(s.frames, row.generation == 1 ? 5u : 2u);
            if (row.generation == 2) {
                EXPECT_EQ(s.channel, want.channel);
            }
        }
    }
}

TEST(LightModel, EachLightActionNamesExactlyItsPhotodiodeOrStation) {
    const std::map<int, int64_t> chosen = {
        {1, BrightestOk(RunLight("0 watchman light-generation 1\n", 0).findings)},
        {2, BrightestOk(RunLight("", 1).findings)}};
    struct Row {
        int generation;
        std::string action;  // "W": the chosen photodiode's wire channel
        std::optional<PhotodiodeState> state;
        std::set<size_t> stations;  // the room's stations seen; a station off
                                    // leaves what faces it alone unlit, not dead
        double gapFrom = 0, gapTo = 0;
    } rows[] = {
        {1, "0 watchman photodiode-dead W", PhotodiodeState::kDead, {0, 1}},
        {2, "0 watchman photodiode-dead W", PhotodiodeState::kDead, {0, 1}},
        {1, "0 watchman photodiode-weak W", PhotodiodeState::kWeak, {0, 1}},
        {2, "0 watchman photodiode-weak W", PhotodiodeState::kWeak, {0, 1}},
        {1, "0 watchman photodiode-abnormal W", PhotodiodeState::kAbnormal, {0, 1}},
        {2, "0 watchman photodiode-abnormal W", PhotodiodeState::kAbnormal, {0, 1}},
        {2, "0 watchman photodiode-dead W\n3 watchman photodiode-ok W", std::nullopt, {0, 1}},
        {1, "0 watchman station-off 0", std::nullopt, {1}},
        {2, "0 watchman station-off 1", std::nullopt, {0}},
        {2,
         "0 watchman station-off 0\n0 watchman station-off 1\n1 watchman station-on 0",
         std::nullopt,
         {0}},
        // After each station's first OOTX frame: a gap in its bits costs
        // the frame it falls in.
        {1, "10 watchman light off\n12 watchman light on", std::nullopt, {0, 1}, 10, 12},
        {2, "10 watchman light off\n12 watchman light on", std::nullopt, {0, 1}, 10, 12},
    };
    for (const Row& row : rows) {
        const int64_t wire = chosen.at(row.generation);
        ASSERT_GE(wire, 0);
        std::string action = "0 watchman light-generation " + std::to_string(row.generation) +
                             "\n" + row.action + "\n";
        for (size_t at = action.find(" W"); at != std::string::npos; at = action.find(" W")) {
            action.replace(at + 1, 1, std::to_string(wire));
        }
        SCOPED_TRACE(action);
        const LightRun r = RunLight(action, row.generation - 1);
        std::map<int64_t, PhotodiodeState> want;
        if (row.state) {
            want[wire] = *row.state;
        }
        EXPECT_EQ(Faulty(r.findings), want);
        std::set<uint32_t> ids;
        for (size_t i : row.stations) {
            ids.insert(RoomStation(row.generation, i).id);
        }
        EXPECT_EQ(StationIds(r.findings), ids);
        EXPECT_EQ(r.findings.stations.size(), row.stations.size());
        if (row.gapTo > 0) {
            size_t before = 0, inside = 0, after = 0;
            for (double t : r.reportSeconds) {
                before += t < row.gapFrom;
                inside += t > row.gapFrom && t < row.gapTo;
                after += t > row.gapTo;
            }
            EXPECT_GT(before, 100u);
            EXPECT_EQ(inside, 0u);
            EXPECT_GT(after, 100u);
        }
    }
}

// The example scenario file: exactly its three photodiodes, both stations,
// and the light's pause.
TEST(LightModel, TheExampleScenarioNamesItsFaults) {
    std::ifstream in(std::string(BRISK_SCENARIOS) + "/light-faults.txt");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(text.empty());
    const LightRun r = RunLight(text, 1, 32);
    const std::map<int64_t, PhotodiodeState> want = {
        {6, PhotodiodeState::kDead}, {20, PhotodiodeState::kWeak}, {8, PhotodiodeState::kAbnormal}};
    EXPECT_EQ(Faulty(r.findings), want);
    EXPECT_EQ(StationIds(r.findings),
              (std::set<uint32_t>{RoomStation(2, 0).id, RoomStation(2, 1).id}));
    for (double t : r.reportSeconds) {
        EXPECT_FALSE(t > 25 && t < 28) << t;
    }
}

TEST(LightModel, SendsWhatTheFormatTheHostPickedCanCarry) {
    struct Row {
        int generation, format;
        uint64_t flagged;  // entries with a flag for a length
        bool anyReport;
    } rows[] = {
        {1, 1, 0, false},  // no second-generation light in a first-generation room
        {2, 0, 1, true},   // flags until the host switches, as the real units send
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.generation);
        const LightRun r = RunLight(
            "0 watchman light-generation " + std::to_string(row.generation) + "\n", row.format, 2);
        EXPECT_EQ(!r.reportSeconds.empty(), row.anyReport);
        EXPECT_EQ(r.run->Tally().flagged > 0, row.flagged > 0);
        EXPECT_FALSE(r.findings.judged);
        for (const optical::PhotodiodeFinding& p : r.findings.photodiodes) {
            EXPECT_EQ(p.pulses, 0u);
        }
    }
    LightModel model(VirtualPhotodiodes(kSerial), kT0);
    uint8_t answer[8] = {};
    const uint8_t second[5] = {kLightFormatReport, 1}, mode[5] = {kLightModeReport, 3};
    const uint8_t unknown[5] = {kLightFormatReport, 2}, other[5] = {0x09, 1};
    EXPECT_TRUE(model.OnFeature(second, 5, kT0));
    EXPECT_TRUE(model.OnFeature(mode, 5, kT0));
    EXPECT_FALSE(model.OnFeature(unknown, 5, kT0));
    EXPECT_FALSE(model.OnFeature(other, 5, kT0));
    EXPECT_FALSE(model.OnFeature(second, 1, kT0));
    EXPECT_EQ(model.Format(), kLightSweepReport);
    FeatureResult got = model.OnGetFeature(kLightFormatReport, answer, sizeof(answer), kT0);
    EXPECT_EQ(got.outcome, FeatureOutcome::kData);
    EXPECT_EQ(got.bytes, 5u);
    EXPECT_EQ(answer[1], 1);
    got = model.OnGetFeature(kLightModeReport, answer, 2, kT0);
    EXPECT_EQ(got.bytes, 2u);
    EXPECT_EQ(answer[1], 3);
    EXPECT_EQ(model.OnGetFeature(0x10, answer, 8, kT0).outcome, FeatureOutcome::kFailed);
}

TEST(LightModel, StreamsOnTheWatchmansSecondInterface) {
    UsbBus bus;
    auto imu = std::make_shared<WatchmanModel>();
    auto light = std::make_shared<LightModel>(VirtualPhotodiodes(kSerial));
    bus.Attach(WatchmanDevice(L"LHR-5A1B2C3D", {L"0000:00:14.0", {3, 2}}, imu, light));
    std::vector<HidDeviceInfo> found;
    ASSERT_TRUE(bus.ListHidDevices(found));
    std::wstring imuPath, lightPath;
    for (const HidDeviceInfo& d : found) {
        if (d.interfaceNumber == 0) {
            imuPath = d.path;
        } else if (d.interfaceNumber == 1) {
            lightPath = d.path;
        }
    }
    ASSERT_FALSE(lightPath.empty());
    Handle imuHandle = bus.Open(imuPath), lightHandle = bus.Open(lightPath);
    Handle event = bus.CreateReadEvent();
    // The real hosts choose the format on interface 0.
    const uint8_t second[5] = {kLightFormatReport, 1};
    EXPECT_TRUE(bus.SetFeature(imuHandle, second, sizeof(second)));
    EXPECT_EQ(light->Format(), kLightSweepReport);
    uint8_t buf[65] = {};
    size_t sweepReports = 0;
    const auto giveUp = Clock::now() + 5s;
    while (sweepReports < 20 && Clock::now() < giveUp) {
        ReadResult r = bus.ReadTimed(lightHandle, event, buf, sizeof(buf), 1000);
        if (r.outcome == ReadOutcome::Completed) {
            EXPECT_EQ(r.bytes, kLightReportBytes);
            sweepReports += buf[0] == kLightSweepReport;
        }
    }
    EXPECT_EQ(sweepReports, 20u);
    EXPECT_EQ(bus.GetFeature(lightHandle, kLightFormatReport, buf, 5).bytes, 5u);
    bus.Close(event);
    bus.Close(imuHandle);
    bus.Close(lightHandle);
    EXPECT_EQ(bus.OpenHandles(), 0u);
}

#if defined(BRISK_LIGHT_HIDRAW_PROBE)
// The default headset served as hidraw nodes: the light interface streams
// 0x25 (flags, a second-generation room) at power-up and 0x28 once the host
// sets 04 01 on it, every report at the 64 bytes its descriptor declares.
TEST(LightModel, HidrawUnderTheDeviceServerCarriesTheLight) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the umockdev preload bypasses ThreadSanitizer's interceptors";
#endif
    // The preload comes before the sanitizer's runtime in the load order.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string asanOptions = asan != nullptr ? asan : "";
    if (asanOptions.find("verify_asan_link_order") == std::string::npos) {
        setenv(
            "ASAN_OPTIONS",
            (asanOptions + (asanOptions.empty() ? "" : ":") + "verify_asan_link_order=0").c_str(),
            1);
    }
    test::RunOptions options;
    options.timeoutSeconds = 60;
    const test::RunResult run = test::RunProgram(
        {BRISK_UMOCKDEV_WRAPPER, BRISK_DEVSERVER_PATH, "-", "--", BRISK_LIGHT_HIDRAW_PROBE},
        options);
    std::string err;
    for (const test::TimedLine& l : run.err) {
        err += l.text + "\n";
    }
    ASSERT_EQ(run.exitCode, 0) << err;
    ASSERT_FALSE(run.out.empty()) << err;
    const std::string line = run.out.back().text;
    EXPECT_EQ(line.find("before=25:50 "), 0u) << line;
    EXPECT_NE(line.find(" after=28:200 "), std::string::npos) << line;
    EXPECT_NE(line.find(" sizes=64 switched=1 format=1"), std::string::npos) << line;
}
#endif

}  // namespace
}  // namespace brisk::sim
