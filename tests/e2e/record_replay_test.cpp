// Recording and replay end to end: a run with faults recorded with --record,
// the recording opened by an outside reader (tshark) and replayed with
// brisk-sim --replay; and the files a replay must refuse.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>

#include "capture/capture_test_support.h"
#include "capture/replay_schedule.h"
#include "e2e/e2e_support.h"
#include "e2e/imu_truth.h"

namespace brisk::e2e {
namespace {

constexpr const char* kTshark = "/usr/bin/tshark";

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// stderr lines, and stdout's proximity lines: what a replay must reproduce.
// An unplug ends the read in progress, or, when it falls between two reads,
// the next read at once: the same loss, told with "read failed" or "ReadFile
// failed". Which one is the host's timing, not the device's, so a replay
// cannot be held to it; the two are one event here.
const char kReadFileFailed[] = "TundraImu: ReadFile failed";
const char kReadFailed[] = "TundraImu: read failed";

std::string SameLoss(std::string text) {
    if (text.rfind(kReadFileFailed, 0) == 0) {
        text.replace(0, sizeof kReadFileFailed - 1, kReadFailed);
    }
    return text;
}

std::vector<TimedLine> Events(const RunResult& run) {
    std::vector<TimedLine> out = run.err;
    for (TimedLine& l : out) {
        l.text = SameLoss(l.text);
    }
    for (const TimedLine& l : run.out) {
        if (l.text.rfind("prox: ", 0) == 0) {
            out.push_back(l);
        }
    }
    return out;
}

// What tshark reads in a recording, next to what the run counted.
void CheckWithTshark(const std::string& file, const ImuResult& imu, const RunResult& run) {
    RunResult t =
        RunProgram({kTshark, "-r", file, "-T", "fields", "-e", "usb.device_address", "-e",
                    "usb.transfer_type", "-e", "usb.endpoint_address", "-e", "usb.usbd_status",
                    "-e", "usbhid.setup.bRequest", "-e", "usbhid.data", "-e", "usb.capdata"},
                   {});
    ASSERT_TRUE(t.exited);
    EXPECT_EQ(t.exitCode, 0);
    for (const TimedLine& l : t.err) {  // nothing but its note on running as root
        EXPECT_NE(l.text.find("Running as user \"root\""), std::string::npos) << l.text;
    }
    long long failures = 0, setReports = 0;
    bool sawDonned = false, sawDoffed = false;
    for (const TimedLine& l : t.out) {
        std::vector<std::string> f;
        std::stringstream row(l.text);
        for (std::string field; std::getline(row, field, '\t');) {
            f.push_back(field);
        }
        f.resize(7);
        const std::string data = f[5] + f[6];
        if (f[4] == "0x09") {
            ++setReports;
        }
        if (f[1] != "0x01" || f[2] != "0x81") {
            continue;
        }
        if (f[3] != "0x00000000") {
            EXPECT_EQ(f[3], "0xc0007000");  // USBD_STATUS_DEVICE_GONE
            failures += f[0] == "1" ? 1 : 0;
            continue;
        }
        if (f[0] == "2") {  // the MCU: telemetry "#", its distance big-endian at message byte 4
            sawDonned |= data.rfind("0023", 0) == 0 && data.substr(10, 4) == "06a4";
            sawDoffed |= data.rfind("0023", 0) == 0 && data.substr(10, 4) == "00c8";
            continue;
        }
    }
    const ImuTruth truth = CountImuTruth(TsharkInputReports(file, 1));
    EXPECT_EQ(truth.reports, imu.reports);
    EXPECT_EQ(truth.samples, imu.samples);
    EXPECT_EQ(truth.breaks, imu.seqGaps);
    EXPECT_EQ(failures, Count(Events(run),
                              "TundraImu: read failed (err 1167) — device gone, "
                              "waiting for reconnect"));
    EXPECT_EQ(setReports, 2);  // at start, and when the MCU came back
    EXPECT_TRUE(sawDonned);
    EXPECT_TRUE(sawDoffed);
}

TEST(E2eRecordReplay, AReplayOfARecordedRunTellsTheSameStory) {
    // Faults a replay must reproduce: a gap, an unplug and plug of the IMU,
    // don and doff, an MCU that falls asleep long enough to be given up.
    const char* faults =
        "2.0 mcu distance 1700\n2.5 watchman skip 5\n3.0 watchman unplug\n4.0 watchman plug\n"
        "5.5 mcu distance 200\n6.0 mcu sleep\n10.0 mcu wake\n";
    TempFile recording(".pcap");
    RunOptions options;
    options.timeoutSeconds = 60;
    const RunResult live =
        RunSim(faults, {"--display", "none", "--record", recording.Path(), "11"}, options);
    SCOPED_TRACE("live: " + Describe(live));
    ASSERT_TRUE(live.exited);
    ASSERT_EQ(live.exitCode, 0);
    const RunResult replay =
        RunSim("", {"--display", "none", "11"}, options, {"--replay", recording.Path()});
    SCOPED_TRACE("replay: " + Describe(replay));
    ASSERT_TRUE(replay.exited);
    EXPECT_EQ(replay.exitCode, 0);

    const std::optional<ImuResult> a = FindImuResult(live), b = FindImuResult(replay);
    ASSERT_TRUE(a && b);
    // The skip is one gap. A reader kept off the CPU for longer than the 32
    // reports its handle holds (32 ms at the real cadence, on a loaded
    // machine) loses reports as it would on a real HID stack: a gap more.
    // Whatever the live run saw, the replay must see the same.
    EXPECT_GE(a->seqGaps, 1);
    EXPECT_EQ(b->seqGaps, a->seqGaps);
    // A run's readers go on until the status monitor's last second is over,
    // so a run may outlast its own end by up to a second. A replay that
    // outlasts the run it replays (its end is a second later) meets the
    // recording's end there: that second of silence is one stall more.
    const bool replayOutlasted = replay.endSeconds > live.endSeconds + 0.5;
    EXPECT_GE(b->stalls, a->stalls);
    EXPECT_LE(b->stalls, a->stalls + (replayOutlasted ? 1 : 0));
    // The run's length is the tool's own clock in both, so the first and the
    // last delivery-grid step (10 ms, about 10 reports each) may fall either
    // way, and the replay starts a few milliseconds off the recording. When
    // one of the two outlasted the other by the monitor's last second (see
    // above), that second's reports (1000 a second) differ too.
    const long long extraSeconds = std::llround(std::abs(replay.endSeconds - live.endSeconds));
    EXPECT_LE(std::abs(b->reports - a->reports), 40 + 1000 * extraSeconds)
        << a->reports << " vs " << b->reports;
    EXPECT_LE(std::abs(b->samples - a->samples), 40 + 1000 * extraSeconds)
        << a->samples << " vs " << b->samples;
    // Every report the replay gave the tool brought at least one new sample.
    EXPECT_GE(b->samples, b->reports);
    EXPECT_EQ(replay.out.back().text, live.out.back().text);

    const std::vector<TimedLine> want = Events(live), got = Events(replay);
    EXPECT_EQ(Texts(got), Texts(want));
    EXPECT_EQ(want.size(), 6u);  // read failed, reconnected, silent, reconnected, don, doff
    for (size_t i = 0; i < want.size() && i < got.size(); ++i) {
        EXPECT_NEAR(got[i].seconds, want[i].seconds, 0.3) << want[i].text;
    }

    if (access(kTshark, X_OK) != 0) {
        GTEST_SKIP() << "tshark is not installed: the recording was not checked by it";
    }
    CheckWithTshark(recording.Path(), *a, live);
}

TEST(E2eRecordReplay, ARecordingEndedByCtrlCIsWhole) {
    TempFile recording(".pcap");
    RunOptions options;
    options.sigintAfterSeconds = 3.0;
    const RunResult run = RunSim("", {"--display", "none", "--record", recording.Path()}, options);
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    const std::optional<ImuResult> imu = FindImuResult(run);
    ASSERT_TRUE(imu);
    capture::ReplayPlan s;
    std::string error;
    std::unique_ptr<capture::PacketSource> source =
        capture::OpenPacketSource(recording.Path(), error);
    ASSERT_TRUE(source) << error;
    ASSERT_TRUE(capture::ScanReplay(*source, {}, s, error)) << error;
    EXPECT_FALSE(s.truncated);
    EXPECT_EQ(static_cast<long long>(s.Device(capture::ReplayRole::kImu).reports), imu->reports);
    EXPECT_EQ(s.Device(capture::ReplayRole::kImu).serial, u"LHR-5A1B2C3D");
    EXPECT_GT(s.Device(capture::ReplayRole::kMcu).reports, 0u);
}

TEST(E2eRecordReplay, AFullDiskStopsTheRecordingNotTheRun) {
    const RunResult run = RunSim("", {"--display", "none", "--record", "/dev/full", "2"});
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(Texts(run.err), std::vector<std::string>{"brisk: --record: stopped writing "
                                                       "/dev/full: No space left on device; the "
                                                       "run goes on"});
    EXPECT_EQ(run.out.back().text, "VERDICT: PASS (sensors only — no display tested)");
}

// Files a replay refuses before any device starts, and one it plays as far
// as it goes.
TEST(E2eRecordReplay, CapturesThatCannotBeReplayedAreRefused) {
    capture::test::CaptureBuilder good;
    good.Device(0, 1, 0x28DE, 0x2300, u"LHR-5A1B2C3D").Device(0, 2, 0x35BD, 0x0101);
    std::vector<uint8_t> imu(64, 0);
    imu[0] = 0x20;
    for (int i = 0; i < 10; ++i) {
        imu[17] = static_cast<uint8_t>(i);
        good.Report(1000 + 3000 * static_cast<uint64_t>(i), 1, imu);
    }
    std::vector<uint8_t> ethernet = good.bytes;
    ethernet[20] = 1;
    struct Row {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* scenario;
        int exitCode;
        std::string line;  // after "brisk-sim: FILE"
    };
    const Row rows[] = {
        {"Text", {'h', 'i', '\n'}, "", 64, ": not a pcap or pcapng capture"},
        {"Ethernet", ethernet, "", 64, ": link type 1 is not USB"},
        {"ScenarioForAReplayedDevice", good.bytes, "0 watchman unplug\n", 64,
         ":1: the watchman and the mcu are replayed from the capture; their actions are "
         "refused with --replay"},
        {"CutInsideAPacket", std::vector<uint8_t>(good.bytes.begin(), good.bytes.end() - 9), "", 0,
         ": cut off inside a packet; replaying the 15 whole packets before it"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        TempFile file(std::string("_") + r.name + ".pcap");
        WriteBytes(file.Path(), r.bytes);
        const RunResult run =
            RunSim(r.scenario, {"--display", "none", "1"}, {}, {"--replay", file.Path()});
        SCOPED_TRACE(Describe(run));
        ASSERT_TRUE(run.exited);
        EXPECT_EQ(run.exitCode, r.exitCode);
        ASSERT_FALSE(run.err.empty());
        const std::string prefix = r.line[1] == '1' ? "brisk-sim: " : "brisk-sim: " + file.Path();
        EXPECT_TRUE(run.err[0].text == prefix + r.line ||
                    run.err[0].text.find(r.line) != std::string::npos)
            << run.err[0].text;
        if (r.exitCode == 64) {
            EXPECT_TRUE(run.out.empty());
        }
    }
}

}  // namespace
}  // namespace brisk::e2e
