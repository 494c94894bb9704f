// TundraImu against a virtual Watchman on the virtual bus, in real time.
// Margins are wide: these run on a loaded two-core machine.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "imu/tundra_imu.h"
#include "sim/usb_bus.h"
#include "sim/virtual_mcu.h"
#include "sim/watchman.h"
#include "support/output_capture.h"
#include "support/wait_for.h"

namespace brisk {
namespace {

using namespace std::chrono_literals;
using test::OutputCapture;
using test::WaitFor;
using Clock = std::chrono::steady_clock;

const std::wstring kRoot = L"0000:00:14.0";
const char kUsing[] = "TundraImu: using LHR-5A1B2C3D\n";
const char kCount[] = "TundraImu: 1 Watchman device(s), 1 MCU-paired\n";
const char kNoMatching[] =
    "TundraImu: no matching 28DE:2300 MI_00 device (Davovo unplugged? wrong --imu-serial?)\n";
const char kReconnected[] = "TundraImu: reconnected to LHR-5A1B2C3D\n";
const char kSilent[] = "TundraImu: stream silent 3s — device gone, waiting for a Davovo\n";

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// A host that forwards to the bus but cannot make events.
class NoEventHost final : public HidHost {
  public:
    explicit NoEventHost(HidHost& inner) : in(inner) {}
    bool ListHidDevices(std::vector<HidDeviceInfo>& out) override { return in.ListHidDevices(out); }
    Handle Open(const std::wstring& path) override { return in.Open(path); }
    bool Attributes(Handle h, HidAttributes& a) override { return in.Attributes(h, a); }
    bool SerialString(Handle h, std::wstring& s) override { return in.SerialString(h, s); }
    bool SetFeature(Handle h, const uint8_t* r, size_t n) override {
        return in.SetFeature(h, r, n);
    }
    Handle CreateReadEvent() override { return nullptr; }
    ReadResult ReadTimed(Handle d, Handle e, uint8_t* b, uint32_t n, uint32_t t) override {
        return in.ReadTimed(d, e, b, n, t);
    }
    void CancelAll(Handle d) override { in.CancelAll(d); }
    void Close(Handle h) override { in.Close(h); }

  private:
    HidHost& in;
};

class ImuOnBus : public ::testing::Test {
  protected:
    void SetUp() override {
        watchman = std::make_shared<sim::WatchmanModel>();
        watchmanId = bus.Attach(sim::WatchmanDevice(L"LHR-5A1B2C3D", {kRoot, {3, 2}}, watchman));
        bus.Attach(sim::McuUsbDevice({kRoot, {3, 1}}, {std::make_shared<sim::SilentInterface>()}));
        imu = std::make_unique<TundraImu>(bus);
    }

    void TearDown() override {
        imu.reset();
        EXPECT_EQ(bus.OpenHandles(), 0u);
        EXPECT_EQ(bus.OpenEvents(), 0u);
        EXPECT_EQ(bus.BadCloses(), 0u);
    }

    // Starts with both streams captured from now on; `out` is what Start printed.
    bool StartCaptured(const std::string& serial, std::string& out) {
        capture.emplace();
        const bool ok = imu->Start(serial);
        out = capture->Out();
        return ok;
    }

    void Sleep() {
        watchman->Sleep();
        bus.Notify();
    }
    void Wake() {
        watchman->Wake();
        bus.Notify();
    }
    ImuStats Stats() const { return imu->Stats(); }

    sim::UsbBus bus;
    std::shared_ptr<sim::WatchmanModel> watchman;
    sim::UsbDeviceId watchmanId = -1;
    std::unique_ptr<TundraImu> imu;
    std::optional<OutputCapture> capture;
};

TEST_F(ImuOnBus, StreamsAtTheDeviceRateAndKeepsItsCountersAcrossStop) {
    ImuSample sample;
    sample.seq = 77;
    double age = -1.0;
    EXPECT_FALSE(imu->Latest(sample, &age));
    EXPECT_EQ(sample.seq, 77);
    EXPECT_EQ(age, -1.0);

    std::string out;
    ASSERT_TRUE(StartCaptured("", out));
    EXPECT_EQ(out, std::string(kCount) + kUsing);
    EXPECT_TRUE(imu->IsRunning());
    EXPECT_TRUE(imu->Start(""));  // already running: no discovery, no output
    EXPECT_EQ(capture->Out(), out);
    EXPECT_EQ(bus.OpensOf(L"28de:2300/if0"), 1u);

    ASSERT_TRUE(WaitFor([&] { return Stats().samples > 0; }));
    const ImuStats s0 = Stats();
    const Clock::time_point t0 = Clock::now();
    std::this_thread::sleep_for(1s);
    const ImuStats s1 = Stats();
    const double rate = double(s1.samples - s0.samples) / Seconds(Clock::now() - t0);
    EXPECT_GT(rate, 500.0);
    EXPECT_LT(rate, 1500.0);
    // A report a sample: each brings one new sample, two when the host took
    // the one before it late.
    EXPECT_GE(s1.samples - s0.samples, s1.reports - s0.reports);
    EXPECT_LE(double(s1.samples - s0.samples), 1.1 * double(s1.reports - s0.reports) + 3);
    EXPECT_EQ(s1.badReports, 0u);

    ASSERT_TRUE(imu->Latest(sample, &age));
    EXPECT_GE(age, 0.0);
    EXPECT_LT(age, 0.5);
    EXPECT_NEAR(sample.accel[1], sim::kWatchmanCountsPerG, 60);  // at rest: +1 g on y, and noise

    watchman->SetAccelNoise(0);  // exact values, to see each one arrive
    watchman->SetGyroNoise(0);
    watchman->SetAccel(-100, 200, -300);
    watchman->SetGyro(4000, -5000, 32767);
    EXPECT_TRUE(WaitFor([&] {
        ImuSample s;
        imu->Latest(s);
        return s.accel[0] == -100 && s.accel[1] == 200 && s.accel[2] == -300 && s.gyro[0] == 4000 &&
               s.gyro[1] == -5000 && s.gyro[2] == 32767;
    }));

    imu->Stop();
    EXPECT_FALSE(imu->IsRunning());
    const ImuStats stopped = Stats();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(Stats().reports, stopped.reports);
    EXPECT_TRUE(imu->Latest(sample));
    EXPECT_EQ(sample.accel[0], -100);
    imu->Stop();  // twice: nothing to do
    EXPECT_EQ(bus.OpenHandles(), 0u);

    // Started again, the counters go on from where they were.
    ASSERT_TRUE(imu->Start("LHR-5A1B2C3D"));
    EXPECT_EQ(capture->Out(), out + kCount + kUsing);
    EXPECT_TRUE(WaitFor([&] { return Stats().reports > stopped.reports + 10; }));
    imu->Stop();
    EXPECT_EQ(capture->Err(), "");
}

TEST_F(ImuOnBus, RepeatsAndForeignReportsAreCountedButNotTaken) {
    watchman->SetRate(30);  // a report every 100 ms leaves room to inject between them
    std::string out;
    ASSERT_TRUE(StartCaptured("", out));
    ASSERT_TRUE(WaitFor([&] { return Stats().samples >= 3; }));
    // Right after a regular report, inject one repeat and one junk report.
    const uint64_t seen = Stats().reports;
    ASSERT_TRUE(WaitFor([&] { return Stats().reports > seen; }));
    const ImuStats s0 = Stats();
    double ageBefore = 0;
    ImuSample sample;
    ASSERT_TRUE(imu->Latest(sample, &ageBefore));
    watchman->Repeat();
    watchman->Junk();
    bus.Notify();
    ASSERT_TRUE(WaitFor([&] {
        const ImuStats s = Stats();
        return s.reports > s0.reports && s.badReports > s0.badReports;
    }));
    const ImuStats s1 = Stats();
    EXPECT_EQ(s1.badReports, s0.badReports + 1);
    // The repeat adds a report and no sample; any regular report that slipped
    // in adds its new ones, one to three.
    const uint64_t regular = s1.reports - s0.reports - 1;
    EXPECT_GE(s1.samples - s0.samples, regular);
    EXPECT_LE(s1.samples - s0.samples, 3 * regular);
    EXPECT_EQ(s1.seqGaps, s0.seqGaps);
    if (s1.reports == s0.reports + 1) {
        double ageAfter = 0;
        imu->Latest(sample, &ageAfter);
        EXPECT_GE(ageAfter, ageBefore);  // a repeat does not refresh the arrival time
    }
    imu->Stop();
    EXPECT_EQ(capture->Err(), "");
}

TEST_F(ImuOnBus, FailedStartLeavesTheObjectIdle) {
    std::string out;
    EXPECT_FALSE(StartCaptured("LHR-NOSUCH00", out));
    EXPECT_EQ(out, kCount);
    const std::string err = capture->Err();
    EXPECT_EQ(err, std::string("TundraImu: cannot pick among 1 Watchman device(s) (1 MCU-paired) — "
                               "is the Davovo attached? Or pass its LHR serial:\n"
                               "  LHR-5A1B2C3D  [shares hub with Davovo MCU]\n") +
                       kNoMatching);
    EXPECT_FALSE(imu->IsRunning());
    ImuSample sample;
    double age = 1.0e9;
    EXPECT_FALSE(imu->Latest(sample, &age));
    EXPECT_EQ(age, 1.0e9);
    EXPECT_EQ(Stats().reports, 0u);
    imu->Stop();
    EXPECT_EQ(capture->Err(), err);  // Stop of an idle object prints nothing

    // A bus without the Watchman: only the count line, then the reason.
    bus.Unplug(watchmanId);
    EXPECT_FALSE(StartCaptured("", out));
    EXPECT_EQ(out, "TundraImu: 0 Watchman device(s), 0 MCU-paired\n");
    EXPECT_EQ(capture->Err(), kNoMatching);
}

TEST_F(ImuOnBus, NoReadEventMeansNoStart) {
    NoEventHost host(bus);
    TundraImu broken(host);
    capture.emplace();
    EXPECT_FALSE(broken.Start(""));
    EXPECT_EQ(capture->Out(), kCount);
    EXPECT_EQ(capture->Err(), "TundraImu: cannot create the read event — not starting\n");
    EXPECT_FALSE(broken.IsRunning());
    EXPECT_EQ(bus.OpenHandles(), 0u);
}

TEST_F(ImuOnBus, SilenceCountsStallsThenDropsAndRediscoversTheDevice) {
    watchman->SetRate(300);  // the reader keeps up even when the machine is busy
    std::string out;
    ASSERT_TRUE(StartCaptured("", out));
    ASSERT_TRUE(WaitFor([&] { return Stats().samples > 0; }));

    // Two silent seconds, then data again: two stalls, nothing printed.
    Sleep();
    ASSERT_TRUE(WaitFor([&] { return Stats().stalls >= 2; }));
    Wake();
    const uint64_t samplesAfterTwo = Stats().samples;
    ASSERT_TRUE(WaitFor([&] { return Stats().samples > samplesAfterTwo + 30; }));
    EXPECT_EQ(Stats().stalls, 2u);
    EXPECT_EQ(bus.OpenHandles(), 1u);

    // Three in a row: the device is dropped, and found again 2 s later even
    // though it still sleeps.
    Sleep();
    ASSERT_TRUE(WaitFor([&] { return bus.OpenHandles() == 0; }, 6000ms));
    const Clock::time_point dropped = Clock::now();
    EXPECT_EQ(Stats().stalls, 5u);
    ASSERT_TRUE(WaitFor([&] { return bus.OpenHandles() == 1; }, 8000ms));
    const double gap = Seconds(Clock::now() - dropped);
    EXPECT_GT(gap, 1.8);
    EXPECT_LT(gap, 6.0);

    // The first sample after the reconnect is taken without a gap test,
    // whatever its number.
    const ImuStats before = Stats();
    watchman->Skip(50);
    Wake();
    ASSERT_TRUE(WaitFor([&] { return Stats().samples > before.samples + 30; }));
    EXPECT_EQ(Stats().seqGaps, before.seqGaps);
    EXPECT_EQ(Stats().stalls, 5u);
    double age = 1.0;
    ImuSample sample;
    ASSERT_TRUE(imu->Latest(sample, &age));
    EXPECT_LT(age, 0.5);
    imu->Stop();
    EXPECT_EQ(capture->Err(), std::string(kSilent) + kReconnected);
}

// (Losses and reconnects, the same for the MCU: tests/device/device_readers_test.cpp.)
TEST_F(ImuOnBus, StopCancelsAPendingReadAtOnceWithoutAStall) {
    std::string out;
    ASSERT_TRUE(StartCaptured("", out));
    ASSERT_TRUE(WaitFor([&] { return Stats().samples > 0; }));
    Sleep();
    std::this_thread::sleep_for(300ms);
    const uint64_t stalls = Stats().stalls;
    const Clock::time_point t0 = Clock::now();
    imu->Stop();
    EXPECT_LT(Seconds(Clock::now() - t0), 0.65);
    EXPECT_EQ(Stats().stalls, stalls);
    EXPECT_FALSE(imu->IsRunning());
    EXPECT_EQ(capture->Err(), "");
}

}  // namespace
}  // namespace brisk
