// --identity on the IMU's own handle: a virtual Watchman on the virtual bus
// for the stream, and a host in front of it answering the feature reads as
// a unit would (version, range, a deflated configuration in chunks), with
// stalls, silence, a host that cannot ask, and a different unit after a
// reconnect. In real time, natively.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "capture/capture_recorder.h"
#include "capture/recording_host.h"
#include "imu/tundra_imu.h"
#include "sim/usb_bus.h"
#include "sim/virtual_mcu.h"
#include "sim/watchman.h"
#include "support/output_capture.h"
#include "support/temp_path.h"
#include "support/wait_for.h"

namespace brisk {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using test::WaitFor;

const std::wstring kRoot = L"0000:00:14.0";

Bytes Deflate(const std::string& text) {
    uLongf size = compressBound(text.size());
    Bytes out(size);
    compress2(out.data(), &size, reinterpret_cast<const Bytef*>(text.data()), text.size(), 9);
    out.resize(size);
    return out;
}

// A configuration shaped as the real ones are, with `photodiodes` of them.
std::string ConfigText(const std::string& serial, int photodiodes) {
    nlohmann::json points = nlohmann::json::array(), normals = nlohmann::json::array(),
                   channels = nlohmann::json::array();
    // Figures as irregular as measured ones, so that the stream is about as
    // long as a real unit's (a few KB, a hundred chunks and more).
    for (int i = 0; i < photodiodes; ++i) {
        const double a = 0.37 * i + 0.011 * i * i;
        points.push_back({0.0812345 * std::cos(a), 0.0623456 * std::sin(a), -0.0151234 * a});
        normals.push_back({std::cos(a) * 0.6, std::sin(a) * 0.6, 0.8});
        channels.push_back((i * 7) % photodiodes);
    }
    const nlohmann::json config = {
        {"device_serial_number", serial},
        {"device_class", "hmd"},
        {"model_number", "Utah MP"},
        {"imu",
         {{"acc_bias", {0.1, -0.2, 0.05}}, {"acc_scale", {1, 1, 1}}, {"gyro_bias", {0, 0, 0}}}},
        {"lighthouse_config",
         {{"modelPoints", points}, {"modelNormals", normals}, {"channelMap", channels}}}};
    return config.dump();
}

// The bus for everything but the feature reads, which it answers itself.
class AnsweringHost final : public HidHost {
  public:
    explicit AnsweringHost(HidHost& bus) : in(bus) { SetConfig("LHR-5A1B2C3D", 32); }

    bool ListHidDevices(std::vector<HidDeviceInfo>& out) override { return in.ListHidDevices(out); }
    Handle Open(const std::wstring& path) override { return in.Open(path); }
    bool Attributes(Handle h, HidAttributes& a) override { return in.Attributes(h, a); }
    bool SerialString(Handle h, std::wstring& s) override { return in.SerialString(h, s); }
    bool SetFeature(Handle h, const uint8_t* r, size_t n) override {
        return in.SetFeature(h, r, n);
    }
    Handle CreateReadEvent() override { return in.CreateReadEvent(); }
    ReadResult ReadTimed(Handle d, Handle e, uint8_t* b, uint32_t n, uint32_t t) override {
        return in.ReadTimed(d, e, b, n, t);
    }
    void CancelAll(Handle d) override { in.CancelAll(d); }
    void Close(Handle h) override { in.Close(h); }

    FeatureResult GetFeature(Handle, uint8_t reportId, uint8_t* buf, uint32_t length) override {
        std::lock_guard<std::mutex> lock(mtx);
        ++requests;
        if (!answers) {
            return HidHost::GetFeature(nullptr, reportId, buf, length);
        }
        if (stallEveryOther && (stalled = !stalled)) {
            return {FeatureOutcome::kFailed, 0, kErrorGenFailure};
        }
        Bytes a(64, 0);
        a[0] = reportId;
        if (reportId == 0x05) {
            const uint32_t build = firmwareBuild;
            std::memcpy(&a[1], &build, 4);  // little-endian hosts only, as these tests run
            std::memcpy(&a[9], "builder", 7);
            std::memcpy(&a[25], "buildhost", 9);
            a[41] = 0, a[42] = 2, a[43] = 1, a[44] = 3;  // hardware 1.2.0, rev 3
            a[49] = 9, a[50] = 1;                        // FPGA 1.9
        } else if (reportId == 0x01) {
            a[1] = 3, a[2] = 1;  // 2000 dps, 4 g
        } else if (reportId == 0x10) {
            a[1] = static_cast<uint8_t>(stream.size() >> 8),
            a[2] = static_cast<uint8_t>(stream.size());
            sent = 0;
        } else if (reportId == 0x11) {
            const size_t n = std::min<size_t>(62, withTrailer.size() - sent);
            a[1] = static_cast<uint8_t>(n);
            std::copy_n(withTrailer.begin() + static_cast<std::ptrdiff_t>(sent), n, a.begin() + 2);
            sent += n;
        } else {
            return {FeatureOutcome::kFailed, 0, kErrorGenFailure};
        }
        const uint32_t n = std::min<uint32_t>(length, 64);
        std::memcpy(buf, a.data(), n);
        return {FeatureOutcome::kData, n, 0};
    }

    void SetConfig(const std::string& serial, int photodiodes) {
        std::lock_guard<std::mutex> lock(mtx);
        stream = Deflate(ConfigText(serial, photodiodes));
        withTrailer = stream;
        withTrailer.insert(withTrailer.end(), {0xFF, 0xFF});
    }

    HidHost& in;
    std::mutex mtx;
    bool answers = true;  // false: a host that cannot ask
    bool stallEveryOther = false;
    bool stalled = false;
    uint32_t firmwareBuild = 1462663157;
    Bytes stream, withTrailer;
    size_t sent = 0;
    uint64_t requests = 0;
};

const char kSoundBlock[] =
    "Watchman firmware: build 1462663157, hardware rev 3 (1.2.0), FPGA 1.9\n"
    "Watchman IMU range: 2000 dps, 4 g\n"
    "Watchman configuration: serial LHR-5A1B2C3D, 32 photodiodes\n"
    "Watchman identity problems: none\n";

class IdentityOnBus : public ::testing::Test {
  protected:
    void SetUp() override {
        watchman = std::make_shared<sim::WatchmanModel>();
        watchmanId = bus.Attach(sim::WatchmanDevice(L"LHR-5A1B2C3D", {kRoot, {3, 2}}, watchman));
        bus.Attach(sim::McuUsbDevice({kRoot, {3, 1}}, {std::make_shared<sim::SilentInterface>()}));
    }
    void TearDown() override {
        imu.reset();
        EXPECT_EQ(bus.OpenHandles(), 0u);
        EXPECT_EQ(bus.BadCloses(), 0u);
    }
    void Make(identity::StationExpectations expect = {}) {
        imu = std::make_unique<TundraImu>(host, kImuDefaultCountsPerG,
                                          IdentityOptions{true, expect, false});
    }
    std::vector<std::string> Codes() const {
        std::vector<std::string> codes;
        for (const identity::Problem& p : imu->Identity().problems) {
            codes.push_back(p.code);
        }
        return codes;
    }

    sim::UsbBus bus;
    AnsweringHost host{bus};
    std::shared_ptr<sim::WatchmanModel> watchman;
    sim::UsbDeviceId watchmanId = -1;
    std::unique_ptr<TundraImu> imu;
};

TEST_F(IdentityOnBus, ASoundUnitPrintsItsBlockBeforeTheStreamAndWithoutProblems) {
    Make();
    test::OutputCapture capture;
    const Clock::time_point t0 = Clock::now();
    ASSERT_TRUE(imu->Start(""));
    const double startMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    EXPECT_EQ(capture.Out(), std::string("TundraImu: 1 Watchman device(s), 1 MCU-paired\n"
                                         "TundraImu: using LHR-5A1B2C3D\n") +
                                 kSoundBlock);
    EXPECT_EQ(capture.Err(), "");
    const WatchmanIdentity w = imu->Identity();
    EXPECT_EQ(w.reads, 1u);
    EXPECT_TRUE(w.problems.empty());
    ASSERT_NE(w.identity.config, nullptr);
    EXPECT_EQ(w.identity.config->compressedBytes, host.stream.size());
    EXPECT_EQ(w.identity.config->chunkBytes, host.stream.size() + 2);
    EXPECT_EQ(w.usbSerial.source, "device");
    EXPECT_EQ(w.usbSerial.serial, "LHR-5A1B2C3D");
    // What the read adds to bring-up, within the whole start.
    EXPECT_LT(w.lastReadMs, 300.0);
    EXPECT_LE(w.lastReadMs, startMs);
    std::printf("identity read at bring-up: %.2f ms of a %.2f ms start, %llu requests\n",
                w.lastReadMs, startMs, static_cast<unsigned long long>(host.requests));
    ASSERT_TRUE(WaitFor([&] { return imu->Stats().samples > 100; }));

    // The range read sets the scale: +1 g on y at rest (8192 counts at 4 g),
    // less the configuration's bias of -0.2 m/s^2 on y.
    const std::optional<identity::ImuScale> scale = imu->Scale();
    ASSERT_TRUE(scale.has_value());
    EXPECT_DOUBLE_EQ(scale->gPerCount, 4.0 / 32768.0);
    EXPECT_DOUBLE_EQ(scale->dpsPerCount, 2000.0 / 32768.0);
    const ImuHealthFigures health = imu->Health();
    EXPECT_TRUE(health.calibrated);
    EXPECT_NEAR(health.accelMagnitudeG, 1.0 + 0.2 / identity::kStandardGravity, 0.01);
    EXPECT_EQ(health.countsPerG, 8192.0);
    // A tenth of a short stream gives no 1 s point for the random walk.
    const std::string line = FormatHealthLine(health);
    EXPECT_NE(line.find(", gyro ARW n/a/n/a/n/a dps, bias instability "), std::string::npos)
        << line;
    EXPECT_NE(line.find(" dps — "), std::string::npos) << line;
}

TEST_F(IdentityOnBus, CountsPerGStaysAnOverride) {
    imu = std::make_unique<TundraImu>(host, 4096.0, IdentityOptions{true, {}, false, 4096.0});
    test::OutputCapture capture;
    ASSERT_TRUE(imu->Start(""));
    ASSERT_TRUE(WaitFor([&] { return imu->Stats().samples > 100; }));
    EXPECT_DOUBLE_EQ(imu->Scale()->gPerCount, 1.0 / 4096.0);
    EXPECT_NEAR(imu->Health().accelMagnitudeG, 2.0 + 0.2 / identity::kStandardGravity, 0.02);
}

TEST_F(IdentityOnBus, ARecordingHostPassesTheReadsThrough) {
    const std::string path = test::TempPath("brisk-identity-recording.pcap");
    capture::CaptureRecorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.Create(path, error)) << error;
    recorder.Start();
    {
        capture::RecordingHidHost recording(host, recorder);
        TundraImu recorded(recording, kImuDefaultCountsPerG, IdentityOptions{true, {}, false});
        test::OutputCapture capture;
        ASSERT_TRUE(recorded.Start(""));
        EXPECT_NE(capture.Out().find(kSoundBlock), std::string::npos) << capture.Out();
        recorded.Stop();
    }
    recorder.Stop();
    std::filesystem::remove(path);
}

TEST_F(IdentityOnBus, StallsAreAskedAgainAndAStationsExpectationsAreChecked) {
    host.stallEveryOther = true;  // as every configuration request on Linux
    Make({1462663158, "LHR-0*"});
    test::OutputCapture capture;
    ASSERT_TRUE(imu->Start(""));
    EXPECT_EQ(Codes(), (std::vector<std::string>{"firmware_too_old", "serial_pattern"}));
    EXPECT_NE(capture.Out().find("Watchman configuration: serial LHR-5A1B2C3D, 32 photodiodes\n"
                                 "Watchman identity problems: firmware_too_old, serial_pattern\n"),
              std::string::npos)
        << capture.Out();
    EXPECT_EQ(imu->Identity().identity.tally.mostTries, 2u);
    EXPECT_LT(imu->Identity().lastReadMs, 300.0);
    std::printf("identity read at bring-up, every request stalling once: %.2f ms, %llu requests\n",
                imu->Identity().lastReadMs, static_cast<unsigned long long>(host.requests));
}

TEST_F(IdentityOnBus, AHostThatCannotAskSaysSoAndTheStreamGoesOn) {
    host.answers = false;
    Make();
    test::OutputCapture capture;
    ASSERT_TRUE(imu->Start(""));
    EXPECT_EQ(Codes(), (std::vector<std::string>{"version_unreadable", "imu_range_unreadable",
                                                 "config_unreadable"}));
    EXPECT_NE(capture.Out().find(
                  "Watchman firmware: not read (this host cannot ask for feature reports)\n"),
              std::string::npos);
    // Asked once each: no tries counted against a host that has no feature reads.
    EXPECT_EQ(host.requests, 1u);
    ASSERT_TRUE(WaitFor([&] { return imu->Stats().samples > 100; }));
}

TEST_F(IdentityOnBus, AReconnectReadsAgainAndADifferentUnitIsNoticed) {
    watchman->SetRate(300);
    Make();
    test::OutputCapture capture;
    ASSERT_TRUE(imu->Start(""));
    ASSERT_TRUE(WaitFor([&] { return imu->Stats().samples > 30; }));

    // The same unit back: read again, the same block, nothing noticed.
    bus.Unplug(watchmanId);
    bus.Plug(watchmanId);
    ASSERT_TRUE(WaitFor([&] { return imu->Identity().reads == 2; }));
    EXPECT_TRUE(imu->Identity().problems.empty());
    const std::string out = capture.Out();
    EXPECT_EQ(out.rfind(kSoundBlock), out.size() - std::strlen(kSoundBlock));
    EXPECT_NE(out.find(kSoundBlock), out.rfind(kSoundBlock));

    // Another unit on the port (same USB serial, as a mislabelled one would
    // be): its configuration says who it is.
    host.SetConfig("LHR-0BADF00D", 24);
    bus.Unplug(watchmanId);
    bus.Plug(watchmanId);
    ASSERT_TRUE(WaitFor([&] { return imu->Identity().reads == 3; }));
    EXPECT_EQ(Codes(), (std::vector<std::string>{"config_serial_mismatch", "watchman_changed"}));
    EXPECT_NE(capture.Out().find("Watchman identity problems: config_serial_mismatch, "
                                 "watchman_changed\n"),
              std::string::npos);
    EXPECT_NE(capture.Err().find("TundraImu: a different Watchman after a reconnect on the same "
                                 "port: LHR-5A1B2C3D before, LHR-0BADF00D now\n"),
              std::string::npos)
        << capture.Err();
    // The stream went on meanwhile.
    const uint64_t samples = imu->Stats().samples;
    ASSERT_TRUE(WaitFor([&] { return imu->Stats().samples > samples + 30; }));

    // Back to the first unit: the change found before stays a finding.
    host.SetConfig("LHR-5A1B2C3D", 32);
    bus.Unplug(watchmanId);
    bus.Plug(watchmanId);
    ASSERT_TRUE(WaitFor([&] { return imu->Identity().reads == 4; }));
    EXPECT_EQ(Codes(), (std::vector<std::string>{"watchman_changed", "watchman_changed"}));
    imu->Stop();
}

TEST(UsbSerial, ASerialTheLauncherChoseIsShownButNeverCompared) {
    EXPECT_EQ(UsbSerialOf("", false).source, "");
    EXPECT_EQ(UsbSerialOf("LHR-1", false).source, "device");
    EXPECT_EQ(UsbSerialOf("LHR-1", true).source, "option");
    SetSerialChosenByLauncher("LHR-1");
    const UsbSerialFact chosen = UsbSerialOf("LHR-1", true);
    EXPECT_EQ(chosen.source, "chosen by brisk-sim");
    EXPECT_EQ(chosen.serial, std::nullopt);
    EXPECT_EQ(chosen.shown, "LHR-1");
    SetSerialChosenByLauncher("");
}

}  // namespace
}  // namespace brisk
