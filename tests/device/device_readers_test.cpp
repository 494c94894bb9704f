// Both device readers, TundraImu and McuProx, through the same losses on the
// virtual bus in real time: one table, a row per device and way of losing it.
// Each row checks the device's own lines, that a device is dropped before its
// loss line is printed (the line's listener sees it closed and, for the MCU,
// its published state cleared), when it comes back, and the input queue
// asked for on each open.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "base/output.h"
#include "imu/tundra_imu.h"
#include "prox/mcu_prox.h"
#include "sim/usb_bus.h"
#include "sim/virtual_mcu.h"
#include "sim/watchman.h"
#include "prox/prox_test_support.h"

namespace brisk {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::wstring kRoot = L"0000:00:14.0";
constexpr uint16_t kWornDistance = 2000;

// A headset on the bus: the Watchman and the MCU on one hub.
struct Headset {
    Headset() {
        watchman->SetRate(300);  // the reader keeps up even when the machine is busy
        watchmanId =
            bus.Attach(sim::WatchmanDevice(L"LHR-5A1B2C3D", PortKey{kRoot, {3, 2}}, watchman));
        mcuId = bus.Attach(sim::McuUsbDevice(PortKey{kRoot, {3, 1}}, mcu.Interfaces()));
    }
    sim::UsbBus bus;
    std::shared_ptr<sim::WatchmanModel> watchman = std::make_shared<sim::WatchmanModel>();
    sim::VirtualMcu mcu;
    sim::UsbDeviceId watchmanId = -1;
    sim::UsbDeviceId mcuId = -1;
};

// A device's own lines, byte for byte, and the events they mark.
struct Lines {
    std::string readFailed, silent, back;
    LineEvent lostEvent = LineEvent::kNone;
    LineEvent backEvent = LineEvent::kNone;
};

const Lines kImuLines{"TundraImu: read failed (err 1167) — device gone, waiting for reconnect\n",
                      "TundraImu: stream silent 3s — device gone, waiting for a Davovo\n",
                      "TundraImu: reconnected to LHR-5A1B2C3D\n", LineEvent::kImuLost,
                      LineEvent::kImuBack};
const Lines kMcuLines{"McuProx: read failed (err 1167) — device gone, waiting for reconnect\n",
                      "McuProx: telemetry silent 3s — device gone, waiting for reconnect\n",
                      "McuProx: device reconnected, telemetry restarted\n", LineEvent::kMcuLost,
                      LineEvent::kMcuBack};

// What the table needs of a device reader.
class Subject : public Lines {
  public:
    explicit Subject(const Lines& lines) : Lines(lines) {}
    virtual ~Subject() = default;
    virtual bool Start() = 0;
    virtual void Stop() = 0;
    virtual sim::UsbDeviceId Id() const = 0;
    // Attached but silent, or speaking again.
    virtual void Mute(bool on) = 0;
    // Until data flows (again).
    virtual bool WaitForData() = 0;
    // What it publishes shows no device (the MCU's worn state and distance).
    virtual bool ShowsNoDevice() const = 0;
    // The silent seconds it counted since Start, where it counts them.
    virtual int Stalls() const = 0;
};

class ImuSubject final : public Subject {
  public:
    explicit ImuSubject(Headset& h) : Subject(kImuLines), h(h), imu(h.bus) {}
    bool Start() override { return imu.Start(""); }
    void Stop() override { imu.Stop(); }
    sim::UsbDeviceId Id() const override { return h.watchmanId; }
    void Mute(bool on) override {
        on ? h.watchman->Sleep() : h.watchman->Wake();
        h.bus.Notify();
    }
    bool WaitForData() override {
        const uint64_t before = imu.Stats().samples;
        return test::WaitUntil([&] { return imu.Stats().samples > before + 10; });
    }
    bool ShowsNoDevice() const override { return true; }  // it keeps its last sample
    int Stalls() const override { return static_cast<int>(imu.Stats().stalls); }

  private:
    Headset& h;
    TundraImu imu;
};

class McuSubject final : public Subject {
  public:
    explicit McuSubject(Headset& h) : Subject(kMcuLines), h(h), prox(h.bus) {
        h.mcu.SetDistance(kWornDistance);
    }
    bool Start() override { return prox.Start(20); }
    void Stop() override { prox.Stop(); }
    sim::UsbDeviceId Id() const override { return h.mcuId; }
    void Mute(bool on) override {
        on ? h.mcu.Sleep() : h.mcu.Wake();
        h.bus.Notify();
    }
    bool WaitForData() override {
        return test::WaitUntil([&] { return prox.IsWorn() && prox.Distance() == kWornDistance; });
    }
    bool ShowsNoDevice() const override { return !prox.IsWorn() && prox.Distance() == 0; }
    int Stalls() const override { return 0; }

  private:
    Headset& h;
    McuProx prox;
};

enum class Device { kImu, kMcu };
enum class Loss { kUnplugDuringRead, kStall, kFailedReopen, kStopDuringBackoff };

struct Row {
    Device device;
    Loss loss;
};

std::string Name(const Row& row) {
    const char* const devices[] = {"Imu", "Mcu"};
    const char* const losses[] = {"UnplugDuringRead", "Stall", "FailedReopen", "StopDuringBackoff"};
    return std::string(devices[int(row.device)]) + losses[int(row.loss)];
}
void PrintTo(const Row& row, std::ostream* os) {
    *os << Name(row);
}
std::string RowName(const ::testing::TestParamInfo<Row>& info) {
    return Name(info.param);
}

class DeviceReaders : public ::testing::TestWithParam<Row> {
  protected:
    void SetUp() override {
        if (GetParam().device == Device::kImu) {
            subject = std::make_unique<ImuSubject>(headset);
        } else {
            subject = std::make_unique<McuSubject>(headset);
        }
        SetOutputListener([this](std::FILE*, std::string_view, LineEvent event) {
            if (event == subject->lostEvent) {
                lostAt = Clock::now();
                closedAtLoss = headset.bus.OpenHandles() == 0;
                clearedAtLoss = subject->ShowsNoDevice();
                ++losses;
            } else if (event == subject->backEvent) {
                backAt = Clock::now();
                ++backs;
            }
        });
    }
    void TearDown() override {
        subject->Stop();
        SetOutputListener({});
        EXPECT_EQ(headset.bus.OpenHandles(), 0u);
        EXPECT_EQ(headset.bus.OpenEvents(), 0u);
        EXPECT_EQ(headset.bus.BadCloses(), 0u);
    }

    // Until the loss line, which must find the device already dropped.
    void ExpectLost() {
        ASSERT_TRUE(test::WaitUntil([&] { return losses == 1; }));
        EXPECT_TRUE(closedAtLoss) << "the loss line came before the device was closed";
        EXPECT_TRUE(clearedAtLoss) << "the loss line came before the published state was cleared";
    }
    void ExpectBackAfter(double atLeastSeconds) {
        ASSERT_TRUE(test::WaitUntil([&] { return backs == 1; }));
        EXPECT_GE(std::chrono::duration<double>(backAt.load() - lostAt.load()).count(),
                  atLeastSeconds);
        EXPECT_TRUE(subject->WaitForData());
        // Every open asks for the deepest input queue, and the bus grants it.
        EXPECT_EQ(headset.bus.InputQueueDepths(), std::vector<uint32_t>{512});
    }

    Headset headset;
    std::unique_ptr<Subject> subject;
    test::OutputCapture capture;
    std::atomic<int> losses{0};
    std::atomic<int> backs{0};
    std::atomic<bool> closedAtLoss{false};
    std::atomic<bool> clearedAtLoss{false};
    std::atomic<Clock::time_point> lostAt{};
    std::atomic<Clock::time_point> backAt{};
};

TEST_P(DeviceReaders, LoseTheDeviceAndGetItBack) {
    sim::UsbBus& bus = headset.bus;
    ASSERT_TRUE(subject->Start());
    ASSERT_TRUE(subject->WaitForData());
    EXPECT_EQ(bus.InputQueueDepths(), std::vector<uint32_t>{512});
    const int stallsBefore = subject->Stalls();
    switch (GetParam().loss) {
        case Loss::kUnplugDuringRead:
            subject->Mute(true);  // a read waits for the next report
            std::this_thread::sleep_for(300ms);
            bus.Unplug(subject->Id());
            ExpectLost();
            subject->Mute(false);
            bus.Plug(subject->Id());
            ExpectBackAfter(1.8);  // the wait before the reopen
            EXPECT_EQ(capture.Err(), subject->readFailed + subject->back);
            break;
        case Loss::kStall: {
            const Clock::time_point muted = Clock::now();
            subject->Mute(true);
            ExpectLost();
            EXPECT_GE(test::SecondsSince(muted), 2.8);  // three silent reads of a second
            if (GetParam().device == Device::kImu) {
                EXPECT_EQ(subject->Stalls() - stallsBefore, 3);  // one a silent second
            }
            subject->Mute(false);
            ExpectBackAfter(1.8);
            EXPECT_EQ(capture.Err(), subject->silent + subject->back);
            break;
        }
        case Loss::kFailedReopen:
            subject->Mute(true);
            std::this_thread::sleep_for(300ms);
            bus.Unplug(subject->Id());
            ExpectLost();
            // The reopen 2 s after the loss finds nothing and says nothing.
            std::this_thread::sleep_for(2500ms);
            EXPECT_EQ(bus.OpenHandles(), 0u);
            EXPECT_EQ(capture.Err(), subject->readFailed);
            subject->Mute(false);
            bus.Plug(subject->Id());
            ExpectBackAfter(3.8);  // the next one, 2 s later, does
            EXPECT_EQ(capture.Err(), subject->readFailed + subject->back);
            break;
        case Loss::kStopDuringBackoff: {
            subject->Mute(true);
            std::this_thread::sleep_for(300ms);
            bus.Unplug(subject->Id());
            ExpectLost();
            std::this_thread::sleep_for(200ms);
            const Clock::time_point asked = Clock::now();
            subject->Stop();
            EXPECT_LT(test::SecondsSince(asked), 1.0);  // the 2 s wait is cut short
            EXPECT_EQ(bus.OpenHandles(), 0u);
            EXPECT_EQ(capture.Err(), subject->readFailed);
            break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothDevices, DeviceReaders,
                         ::testing::Values(Row{Device::kImu, Loss::kUnplugDuringRead},
                                           Row{Device::kImu, Loss::kStall},
                                           Row{Device::kImu, Loss::kFailedReopen},
                                           Row{Device::kImu, Loss::kStopDuringBackoff},
                                           Row{Device::kMcu, Loss::kUnplugDuringRead},
                                           Row{Device::kMcu, Loss::kStall},
                                           Row{Device::kMcu, Loss::kFailedReopen},
                                           Row{Device::kMcu, Loss::kStopDuringBackoff}),
                         RowName);

}  // namespace
}  // namespace brisk
