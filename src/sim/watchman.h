// The virtual Watchman: the tracking device inside the headset whose HID
// interface MI_00 streams IMU reports, and the helper that puts it on a
// UsbBus. Modelled on captures of the real device (tests/data/real).
//
// Report 0x20 is 64 bytes: the report ID, three 17-byte slots at offsets 1,
// 18 and 35, and 12 zero bytes. A slot holds one sample, little-endian: accel
// x, y, z and gyro x, y, z as int16, a u32 time stamp and a u8 sequence number
// wrapping at 255. The slots are a ring: each new sample goes into the slot
// after the previous sample's (slot 2 is followed by slot 0), so a report
// holds the newest sample and the two before it in rotating order. Slots not
// yet filled since start-up are all zeros.
//
// One report per sample period (1 ms at the default 1000 samples/s). The time
// stamp counts a 48 MHz clock (48,000 ticks a sample at 1 kHz) of model time
// and wraps after about 89 s.
//
// The host does not take every report on time: now and then (about 2.5 % of
// reports, as measured on a real bus) a report is not delivered and the next
// one brings two new samples, very rarely three. Never more: the ring holds
// three, so delivery jitter alone loses nothing.
//
// Scale: the accelerometer at ±4 g in 16 bits, 8192 counts per g; at rest the
// headset reads +1 g on y (upright, y up). The gyroscope reads 0 at rest.
// Every sample carries a deterministic noise like the real sensor's (sd about
// 12 counts per accel axis, 4 to 6 per gyro axis; the real gyro's bias of tens
// of counts is left out) around the values SetAccel/SetGyro set: no real
// sensor reads exactly the same twice, and exact values would look stuck to
// the health checks. A test that wants exact values sets a noise density of 0;
// an axis that stays put is a fault, asked for with Stick.
//
// Faults a bring-up engineer looks for, injected with known sizes: noise of
// a given density and a gyro bias random walk (sim/imu_noise.h, on top of
// the set values), a device clock off its nominal 48 MHz by some ppm, an
// axis stuck at one value or pinned at the int16 limit, and a firmware that
// loses every N-th sample in time while its sequence numbers go on unbroken.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/imu_noise.h"
#include "sim/light_model.h"
#include "sim/usb_bus.h"
#include "sim/watchman_identity.h"

namespace brisk::sim {

constexpr uint8_t kWatchmanImuReportId = 0x20;
constexpr uint8_t kWatchmanJunkReportId = 0x21;
constexpr uint8_t kWatchmanReportBytes = 64;
constexpr int16_t kWatchmanCountsPerG = 8192;
constexpr uint32_t kWatchmanTicksPerSecond = 48'000'000;

// Axis numbers in sample order, as the fault controls take them.
enum WatchmanAxis : int { kAxisAx, kAxisAy, kAxisAz, kAxisGx, kAxisGy, kAxisGz, kAxisCount };

struct WatchmanSample {
    int16_t accel[3] = {};
    int16_t gyro[3] = {};
    uint32_t timestamp = 0;
    uint8_t seq = 0;
};

// The 64-byte wire form of one IMU report, slot by slot.
void EncodeImuReport(const WatchmanSample (&samples)[3], InputReport& out);

// The IMU interface. Generation runs by the clock: each Produce takes every
// sample due since the last one and emits a report for each the host takes,
// at most kMaxBurst; a reader that fell further behind loses the older
// reports and the samples only they carried, so it sees a gap, as with the
// real device. Controls may be called from any thread; the caller then calls
// UsbBus::Notify so that waiting readers look again (the model knows nothing
// of the bus).
class WatchmanModel final : public HidInterfaceModel {
  public:
    static constexpr int kDefaultRate = 1000;  // samples per second
    static constexpr int kMaxRate = 100000;
    static constexpr size_t kMaxBurst = 32;  // the host keeps no more anyway
    static constexpr double kMaxClockPpm = 100000;

    // `start` is model time zero and the device's power-up: the time stamps
    // count from it and the slots start empty.
    explicit WatchmanModel(Clock::time_point start = Clock::now());

    // Samples (and so reports) per second from now on, 1 to kMaxRate (clamped).
    void SetRate(int samplesPerSecond, Clock::time_point now = Clock::now());
    // Attached but silent. Wake restarts the sensor: the slots are empty again
    // and the numbers go on with the next one.
    void Sleep();
    void Wake(Clock::time_point now = Clock::now());
    // Raw counts the following samples carry, noise added.
    void SetAccel(int16_t x, int16_t y, int16_t z);
    void SetGyro(int16_t x, int16_t y, int16_t z);
    // Noise from the noise model (sim/imu_noise.h) on every axis of the
    // sensor, added to its set values; the first of these replaces that
    // sensor's default noise, so a density of 0 makes its samples exact.
    // Densities in counts/sqrt(Hz), the walk in counts/sqrt(s).
    void SetAccelNoise(double density);
    void SetGyroNoise(double density);
    void SetGyroWalk(double walk);
    // The device clock runs `ppm` parts per million fast (slow if negative)
    // from now on: time stamps tick at 48 MHz * (1 + ppm / 1e6) of host time
    // and samples still come every 48,000 of the device's ticks at 1 kHz, so
    // a slow clock also sends fewer samples per host second. The tick count
    // goes on from where it is; clamped to +-kMaxClockPpm.
    void SetClockOffset(double ppm, Clock::time_point now = Clock::now());
    // The axis repeats its current value exactly until Unstick (all axes).
    void Stick(int axis);
    void Unstick();
    // The axis reads +32767 until Unsaturate (all axes); above Stick.
    void Saturate(int axis);
    void Unsaturate();
    // Every n-th sample from now on is lost in the firmware: its time passes
    // with neither a sample nor a report, and the next sample carries the
    // next sequence number. 0 turns it off; 1 loses them all.
    void DropEvery(unsigned n);
    // The next sample's sequence number jumps ahead by n (a gap of n).
    void Skip(unsigned n);
    // The last IMU report goes out once more, unchanged.
    void Repeat();
    // One input report that is not an IMU report (ID 0x21).
    void Junk();

    // IMU reports handed to the bus so far (repeats included; those the host
    // did not take and those lost to a fallen-behind reader not).
    uint64_t ReportsSent() const;

    void Produce(Clock::time_point now, std::vector<InputReport>& out) override;
    Clock::time_point NextDue(Clock::time_point now) const override;
    Clock::duration ReportSpacing() const override;
    // Accepted. The light format (0x04) and 0x07 go on to the light
    // interface too: the real hosts send them to interface 0 (wIndex 0 in
    // every capture), though the light comes on the other endpoint.
    bool OnFeature(const uint8_t* report, size_t length, Clock::time_point now) override;
    void ForwardLightFeatures(std::shared_ptr<LightModel> to);
    // The version, range and configuration reads (sim/watchman_identity.h).
    // The IMU report and the other input on its endpoint, as the unit declares.
    std::optional<std::vector<uint8_t>> InputReportIds() const override {
        return std::vector<uint8_t>{0x20, 0x21};
    }
    FeatureResult OnGetFeature(uint8_t reportId, uint8_t* buf, uint32_t length,
                               Clock::time_point now) override;

    // Changes who the unit says it is (its serial, its faults) under the
    // model's lock: `edit` is called with the identity.
    template <class Edit>
    void EditIdentity(Edit&& edit) {
        std::lock_guard<std::mutex> lock(mtx);
        edit(identity);
    }

  private:
    int16_t Noisy(int16_t base, int sd);
    // Sample `index` of the current grid: its host time and its device ticks.
    Clock::time_point SampleTime(uint64_t index) const;
    double SampleTicks(uint64_t index) const;
    double TicksAt(Clock::time_point t) const;  // the device clock at host time t
    void StartGrid(Clock::time_point host, double ticks);
    void Retime();
    uint64_t DueUpTo(Clock::time_point now) const;
    bool LosesNextSample();
    void Measure(double ticks, WatchmanSample& s);
    void TakeSample(double ticks);
    void PassOver(uint64_t samples);
    bool HostTakesReport();

    mutable std::mutex mtx;
    // Samples fall on a grid of device time: sample i of the grid at
    // gridTicks + i * ticksPerSample ticks of the device clock since
    // power-up, which the host sees gridNs + i * nsPerSample after gridHost.
    // The grid starts over at a rate change, a wake-up or a clock change.
    int rate = kDefaultRate;
    double ticksPerSecond = kWatchmanTicksPerSecond;  // device ticks per host second
    double ticksPerSample = 0;
    double nsPerSample = 0;
    Clock::time_point gridHost;
    double gridNs = 0;
    double gridTicks = 0;
    uint64_t nextIndex = 1;
    uint8_t nextSeq = 0;
    WatchmanSample slots[3] = {};
    size_t nextSlot = 0;  // where the next sample goes
    bool asleep = false;
    int16_t accel[3] = {0, kWatchmanCountsPerG, 0};
    int16_t gyro[3] = {};
    bool accelModelled = false;  // noise from `sensorNoise` rather than the default
    bool gyroModelled = false;
    ImuNoise sensorNoise;
    int16_t last[kAxisCount] = {};  // the latest sample's values
    bool haveLast = false;
    unsigned stuckMask = 0;
    int16_t stuckAt[kAxisCount] = {};
    unsigned saturatedMask = 0;
    unsigned dropEvery = 0;
    unsigned sinceDrop = 0;  // sample times since the last one lost
    uint32_t noise = 0x2545F491u;
    uint32_t delivery = 0x9E3779B9u;  // the host's jitter: a stream of its own
    unsigned heldBack = 0;            // reports in a row the host has not taken
    unsigned pendingSkip = 0;
    unsigned pendingRepeats = 0;
    unsigned pendingJunk = 0;
    InputReport lastImu;
    bool haveLastImu = false;
    uint64_t sent = 0;
    WatchmanIdentity identity;
    std::shared_ptr<LightModel> light;  // where 0x04 and 0x07 go on to
};

// A whole Watchman as it appears on the bus: interface 0 carries `imu` (the
// model, or a replay), interface 1 `light` (silent without one), interface
// 2 is silent. With `imuListedLast`
// (the default) the host lists 1 and 2 before 0, so discovery has to pass
// them over.
UsbDeviceDesc WatchmanDevice(std::wstring serial, PortKey port,
                             std::shared_ptr<HidInterfaceModel> imu, bool imuListedLast = true,
                             std::shared_ptr<HidInterfaceModel> light = nullptr);
// The same with the model, whose configuration then names `serial` too.
UsbDeviceDesc WatchmanDevice(std::wstring serial, PortKey port, std::shared_ptr<WatchmanModel> imu,
                             bool imuListedLast = true);
// The model with its light interface: the photodiodes of the configuration
// the model's identity makes for `serial`.
UsbDeviceDesc WatchmanDevice(std::wstring serial, PortKey port, std::shared_ptr<WatchmanModel> imu,
                             std::shared_ptr<LightModel> light);
// The serial as the configuration spells it (ASCII; anything else '?').
std::string NarrowSerial(const std::wstring& serial);

}  // namespace brisk::sim
