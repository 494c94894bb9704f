// The identity read over every HID host that can run here: the virtual bus,
// a replay of each real capture, a recording of the virtual read replayed,
// and hidraw under umockdev (brisk-devserver, in another process). Each
// backend's read is summed up in one line (identity_probe.h) and compared:
// the real captures with config_truth.py's decoding of the same bytes
// (tshark and Python's zlib, never brisk's code), the others with the
// in-process read of the same virtual unit.
//
// Then the virtual unit's faults, one scenario per row, each with the
// problem it must raise while the IMU stream goes on; and another unit at
// the same place after a reconnect.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "capture/capture_recorder.h"
#include "capture/recording_host.h"
#include "sim/identity_probe.h"
#include "sim/replay_source.h"
#include "sim/virtual_headset.h"
#include "sim/watchman.h"

#if defined(BRISK_IDENTITY_HIDRAW_PROBE)
#include "support/subprocess.h"
#endif
#include "support/temp_path.h"

namespace brisk::sim {
namespace {

using identity::AllProblems;
using identity::Identity;
using test::IdentityLine;
using test::ReadWhileStreaming;

const PortKey kPort{L"0000:00:14.0", {3, 2}};
const std::string kSerial = "LHR-5A1B2C3D";
// The stream kept coming beside the read: about 100 reports at 1 kHz in the
// tenth of a second after it, fewer on a machine busy enough to starve the
// reading thread, none at all only if the read had blocked it.
constexpr uint64_t kSomeReports = 20;  // the default headset's, as brisk-devserver serves it

std::string Line(const test::StreamedRead& read) {
    return IdentityLine(read.identity, AllProblems(read.identity, read.usbSerial, {}));
}

// "key=value" words of one line.
std::map<std::string, std::string> Words(const std::string& line) {
    std::map<std::string, std::string> out;
    std::istringstream in(line);
    std::string w;
    while (in >> w) {
        const size_t eq = w.find('=');
        out[w.substr(0, eq)] = eq == std::string::npos ? "" : w.substr(eq + 1);
    }
    return out;
}

test::StreamedRead ReadVirtual(HidHost* through = nullptr) {
    UsbBus bus;
    bus.Attach(WatchmanDevice(std::wstring(kSerial.begin(), kSerial.end()), kPort,
                              std::make_shared<WatchmanModel>()));
    HidHost& host = through != nullptr ? *through : bus;
    return ReadWhileStreaming(host, test::WatchmanImuPath(host));
}

// The virtual unit as its maker means it: a sound configuration of the
// size and shape of a real head-mounted display's, naming the USB serial.
TEST(IdentityBackends, VirtualBusReadsASoundUnitOfRealSize) {
    const test::StreamedRead read = ReadVirtual();
    ASSERT_TRUE(read.opened);
    auto w = Words(Line(read));
    EXPECT_EQ(w["firmware"], std::to_string(kVirtualFirmwareBuild));
    EXPECT_EQ(w["range"], "2000/4");
    EXPECT_EQ(w["serial"], kSerial);
    EXPECT_EQ(read.usbSerial, kSerial);
    EXPECT_EQ(w["photodiodes"], "32");
    EXPECT_EQ(w["problems"], "");
    const int declared = std::stoi(w["declared"]);
    EXPECT_EQ(std::stoi(w["chunk_bytes"]), declared + 2);  // and the FF FF trailer
    // The real ones: 1703 to 3103 bytes compressed, 4162 to 9737 inflated.
    EXPECT_GT(declared, 1500);
    EXPECT_LT(declared, 4000);
    EXPECT_GT(std::stoi(w["json_bytes"]), 4000);
    EXPECT_LT(std::stoi(w["json_bytes"]), 12000);
    ASSERT_NE(read.identity.config, nullptr);
    EXPECT_EQ(read.identity.config->imu.shape, identity::CalibrationShape::kNested);
    EXPECT_EQ(read.identity.tally.unanswered, 0u);
    EXPECT_LT(read.readMs, 300.0) << "the read's share of bring-up on the virtual device";
    std::printf("identity read on the virtual bus: %u requests in %.2f ms\n",
                unsigned(read.identity.tally.requests), read.readMs);
    EXPECT_GT(read.imuReports, kSomeReports);
    EXPECT_EQ(read.imuFailures, 0u);
}

// config_expected.txt: config_truth.py's reading of the real captures.
std::map<std::string, std::string> Truth(const std::string& file, uint16_t address) {
    std::ifstream in(std::string(BRISK_REAL_CAPTURES) + "/config_expected.txt");
    std::string line;
    while (std::getline(in, line)) {
        auto w = Words(line.substr(line.find(' ') + 1));
        if (line.rfind(file + " ", 0) == 0 && w["address"] == std::to_string(address) &&
            w.count("declared")) {
            return w;
        }
    }
    return {};
}

// "imu=N" of expected.txt: real_capture_truth.sh's count of IMU reports.
std::string ImuCount(const std::string& file) {
    std::ifstream in(std::string(BRISK_REAL_CAPTURES) + "/expected.txt");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(file + " ", 0) == 0) {
            return "imu=" + Words(line)["imu"];
        }
    }
    return "";
}

TEST(IdentityBackends, ReplayOfEachRealCaptureEqualsTheIndependentDecoding) {
    struct Row {
        const char* file;
        const char* serial;
        int declared, chunkBytes, jsonBytes, photodiodes;
    };
    const Row rows[] = {
        {"vive-index-cal.pcap.gz", "LHR-DFCF00EE", 3087, 3089, 9679, 32},
        {"lh2_test_cal.pcap.gz", "LHR-EA80BDA9", 1738, 1740, 4276, 24},
        {"tracker-gen2-wired-buttons.pcap.gz", "LHR-BAB3D7B1", 2202, 2204, 8735, 22},
        {"index-lhv1.pcap.gz", "LHR-A824C054", 3103, 3105, 9737, 32},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        const std::string path = std::string(BRISK_REAL_CAPTURES) + "/" + row.file;
        capture::ReplayPlan plan;
        std::string error;
        ASSERT_TRUE(PlanReplay(path, {}, plan, error)) << error;
        const capture::ReplayDevice& imu = plan.Device(capture::ReplayRole::kImu);
        auto feed = OpenReplayFeed(path, plan, Clock::now(), error);
        ASSERT_NE(feed, nullptr) << error;
        UsbBus bus;
        bus.Attach(WatchmanDevice(L"", kPort,
                                  std::make_shared<ReplayStream>(feed, capture::ReplayRole::kImu)));
        const test::StreamedRead read = ReadWhileStreaming(bus, test::WatchmanImuPath(bus));
        ASSERT_TRUE(read.opened);

        auto got = Words(Line(read));
        auto truth = Truth(row.file, imu.address);
        ASSERT_FALSE(truth.empty()) << "no independent decoding of address " << imu.address;
        for (const char* key : {"declared", "chunk_bytes", "json_bytes", "serial", "photodiodes"}) {
            EXPECT_EQ(got[key], truth[key]) << key;
        }
        EXPECT_EQ(got["declared"], std::to_string(row.declared));
        EXPECT_EQ(got["chunk_bytes"], std::to_string(row.chunkBytes));
        EXPECT_EQ(got["json_bytes"], std::to_string(row.jsonBytes));
        EXPECT_EQ(got["serial"], row.serial);
        EXPECT_EQ(got["photodiodes"], std::to_string(row.photodiodes));
        // No capture asked the headset for 0x05 or 0x01: not captured, no fault;
        // no USB serial in them either, so nothing to mismatch.
        EXPECT_EQ(got["firmware"], "-");
        EXPECT_EQ(got["range"], "-");
        EXPECT_EQ(got["problems"], "");
        EXPECT_EQ(read.usbSerial, std::nullopt);
        // The recorded stalls replayed: the read took the tries the recorded one did.
        ASSERT_NE(read.identity.config, nullptr);
        EXPECT_EQ(std::to_string(read.identity.config->tally.requests), truth["requests"]);
        EXPECT_EQ(std::to_string(read.identity.config->tally.mostTries), truth["most_tries"]);
        EXPECT_EQ(read.imuFailures, 0u);
        // The control transfers stay out of the IMU's reports: the plan counts
        // what the independent count of the capture (expected.txt) does.
        EXPECT_EQ("imu=" + std::to_string(imu.reports), ImuCount(row.file));
    }
}

// The recording host writes the feature reads as GET_REPORT transfers, the
// stalls as stalls; a replay of that recording answers them as the unit did.
TEST(IdentityBackends, RecordedReadReplaysAsItWasRead) {
    const std::string path = test::TempPath("brisk-identity-recorded.pcap");
    UsbBus live;
    auto unit = std::make_shared<WatchmanModel>();
    live.Attach(WatchmanDevice(std::wstring(kSerial.begin(), kSerial.end()), kPort, unit));
    // Each request stalls once, as on Linux: the stalls are recorded too.
    WatchmanIdentityFaults stallOnce;
    stallOnce.stallOnce = true;
    unit->EditIdentity([&](WatchmanIdentity& id) { id.SetFaults(stallOnce); });
    capture::CaptureRecorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.Create(path, error)) << error;
    recorder.Start();
    test::StreamedRead original;
    {
        capture::RecordingHidHost host(live, recorder);
        original = ReadWhileStreaming(host, test::WatchmanImuPath(host));
    }
    recorder.Stop();
    ASSERT_TRUE(original.opened);
    EXPECT_EQ(original.identity.tally.mostTries, 2u);

    {  // the replay's bus holds the file open until it goes
        capture::ReplayPlan plan;
        ASSERT_TRUE(PlanReplay(path, {}, plan, error)) << error;
        const auto& held = plan.Device(capture::ReplayRole::kImu).features;
        EXPECT_EQ(held.size(), original.identity.tally.requests);
        auto feed = OpenReplayFeed(path, plan, Clock::now(), error);
        ASSERT_NE(feed, nullptr) << error;
        UsbBus bus;
        const std::u16string& serial = plan.Device(capture::ReplayRole::kImu).serial;
        bus.Attach(WatchmanDevice(std::wstring(serial.begin(), serial.end()), kPort,
                                  std::make_shared<ReplayStream>(feed, capture::ReplayRole::kImu)));
        const test::StreamedRead replayed = ReadWhileStreaming(bus, test::WatchmanImuPath(bus));
        EXPECT_EQ(Line(replayed), Line(original));
        EXPECT_EQ(replayed.identity.tally.requests, original.identity.tally.requests);
        EXPECT_EQ(replayed.identity.tally.mostTries, 2u);
    }
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

#if defined(BRISK_IDENTITY_HIDRAW_PROBE)
// The same unit served as a hidraw node: the Linux host's HIDIOCGFEATURE
// through umockdev's ioctl emulation reads what the bus read in-process.
TEST(IdentityBackends, HidrawUnderUmockdevReadsWhatTheBusReads) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the umockdev preload bypasses ThreadSanitizer's interceptors";
#endif
    // The preload comes before the sanitizer's runtime in the load order.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string options = asan != nullptr ? asan : "";
    if (options.find("verify_asan_link_order") == std::string::npos) {
        setenv("ASAN_OPTIONS",
               (options + (options.empty() ? "" : ":") + "verify_asan_link_order=0").c_str(), 1);
    }
    test::RunOptions run60;
    run60.timeoutSeconds = 60;
    const test::RunResult run = test::RunProgram(
        {BRISK_UMOCKDEV_WRAPPER, BRISK_DEVSERVER_PATH, "-", "--", BRISK_IDENTITY_HIDRAW_PROBE},
        run60);
    std::string err;
    for (const test::TimedLine& l : run.err) {
        err += l.text + "\n";
    }
    ASSERT_EQ(run.exitCode, 0) << err;
    ASSERT_FALSE(run.out.empty()) << err;
    const test::StreamedRead inProcess = ReadVirtual();
    EXPECT_EQ(run.out.back().text, Line(inProcess) + " imu_failures=0 most_tries=1");
}
#endif

// One scenario per row: the problem codes the read must give, the IMU
// stream going on beside it.
TEST(IdentityBackends, ScenarioFaultsGiveTheirProblemAndTheStreamGoesOn) {
    struct Row {
        const char* scenario;
        const char* problems;  // codes, comma-separated
        const char* serial;    // the configuration's; "" when unread
        uint32_t mostTries;    // of the answers that came; 0 when none did
    };
    const Row rows[] = {
        {"", "", "LHR-5A1B2C3D", 1},
        {"0 watchman config-corrupt", "config_inflate", "", 1},
        {"0 watchman config-serial LHR-0BADBEEF", "config_serial_mismatch", "LHR-0BADBEEF", 1},
        {"0 watchman config-drop imu.acc_bias", "config_missing_key", "LHR-5A1B2C3D", 1},
        {"0 watchman config-drop device_serial_number", "config_missing_key", "", 1},
        {"0 watchman feature-stall on", "", "LHR-5A1B2C3D", 2},
        {"0 watchman feature-stall on\n0 watchman config-corrupt", "config_inflate", "", 2},
        {"0 watchman feature-silent on",
         "version_unreadable,imu_range_unreadable,config_unreadable", "", 0},
        {"0 watchman feature-silent on\n0 watchman feature-silent off", "", "LHR-5A1B2C3D", 1},
        {"0 watchman replace LHR-77777777", "", "LHR-77777777", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.scenario);
        Scenario scenario;
        std::string error;
        ASSERT_TRUE(ParseScenario(row.scenario, "faults.txt", scenario, error)) << error;
        VirtualHeadset headset;
        ASSERT_TRUE(headset.Build(scenario, "faults.txt", error)) << error;
        headset.StartTimeline(Clock::now(), [] {});
        const test::StreamedRead read =
            ReadWhileStreaming(headset.Bus(), test::WatchmanImuPath(headset.Bus()));
        headset.StopTimeline();
        ASSERT_TRUE(read.opened);
        auto w = Words(Line(read));
        EXPECT_EQ(w["problems"], row.problems);
        EXPECT_EQ(w["serial"], row.serial);
        EXPECT_EQ(read.identity.tally.mostTries, row.mostTries);
        if (read.identity.tally.mostTries == 0) {  // each of the three asked its tries, no more
            EXPECT_EQ(read.identity.tally.requests, 3u * identity::kMaxTries);
        }
        EXPECT_GT(read.imuReports, kSomeReports);
        EXPECT_EQ(read.imuFailures, 0u);
    }
}

// A unit unplugged and another plugged in at the same place: the old handle
// says the device is gone, and a read through the new one names the new unit.
TEST(IdentityBackends, AnotherUnitAtTheSamePlaceReadsAsItself) {
    UsbBus bus;
    auto first = std::make_shared<WatchmanModel>();
    const UsbDeviceId firstId = bus.Attach(WatchmanDevice(L"LHR-AAAA0001", kPort, first));
    const Handle old = bus.Open(test::WatchmanImuPath(bus));
    ASSERT_NE(old, kInvalidHandle);
    EXPECT_EQ(test::ReadIdentity(bus, old).config->serial, "LHR-AAAA0001");

    bus.Unplug(firstId);
    uint8_t buf[64];
    const FeatureResult gone = bus.GetFeature(old, identity::kConfigStartReport, buf, sizeof buf);
    EXPECT_EQ(gone.outcome, FeatureOutcome::kFailed);
    EXPECT_EQ(gone.error, kErrorDeviceNotConnected);
    bus.Close(old);

    bus.Attach(WatchmanDevice(L"LHR-BBBB0002", kPort, std::make_shared<WatchmanModel>()));
    std::vector<HidDeviceInfo> listed;
    ASSERT_TRUE(bus.ListHidDevices(listed));
    for (const HidDeviceInfo& d : listed) {
        if (d.interfaceNumber == 0) {
            EXPECT_EQ(d.port, kPort);
            EXPECT_EQ(d.serial, L"LHR-BBBB0002");
        }
    }
    const test::StreamedRead read = ReadWhileStreaming(bus, test::WatchmanImuPath(bus));
    auto w = Words(Line(read));
    EXPECT_EQ(w["serial"], "LHR-BBBB0002");
    EXPECT_EQ(w["problems"], "");
}

// The bus's own refusals: no answer is ever written past the buffer or
// for a handle that is not open.
TEST(IdentityBackends, BusRefusesBadFeatureReads) {
    UsbBus bus;
    bus.Attach(WatchmanDevice(L"LHR-1", kPort, std::make_shared<WatchmanModel>()));
    const Handle h = bus.Open(test::WatchmanImuPath(bus));
    uint8_t buf[80];
    std::fill(std::begin(buf), std::end(buf), 0xEE);
    struct Case {
        const char* what;
        Handle handle;
        uint8_t reportId;
        uint8_t* buf;
        uint32_t length;
        FeatureOutcome outcome;
        uint32_t bytesOrError;
    };
    const Case cases[] = {
        {"whole answer", h, 0x10, buf, 64, FeatureOutcome::kData, 64},
        {"cut to a short buffer", h, 0x05, buf, 8, FeatureOutcome::kData, 8},
        {"a report it does not have stalls", h, 0x42, buf, 64, FeatureOutcome::kFailed,
         kErrorGenFailure},
        {"no buffer", h, 0x10, nullptr, 64, FeatureOutcome::kFailed, 87},
        {"no room", h, 0x10, buf, 0, FeatureOutcome::kFailed, 87},
        {"never opened", reinterpret_cast<Handle>(0x7777), 0x10, buf, 64, FeatureOutcome::kFailed,
         kErrorInvalidHandle},
    };
    for (const Case& c : cases) {
        const FeatureResult r = bus.GetFeature(c.handle, c.reportId, c.buf, c.length);
        EXPECT_EQ(r.outcome, c.outcome) << c.what;
        EXPECT_EQ(r.outcome == FeatureOutcome::kData ? r.bytes : r.error, c.bytesOrError) << c.what;
    }
    EXPECT_EQ(buf[64], 0xEE) << "nothing past the buffer handed in";
    bus.Close(h);
}

}  // namespace
}  // namespace brisk::sim
