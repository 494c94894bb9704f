// The virtual Watchman: the tracking device inside the headset whose HID
// interface MI_00 streams IMU reports, and the helper that puts it on a
// UsbBus.
//
// Report 0x20 is 64 bytes: the report ID, three 17-byte samples at offsets 1,
// 18 and 35, and 12 zero bytes. A sample is, little-endian: accel x, y, z and
// gyro x, y, z as int16, a u32 time stamp (microseconds of model time, so it
// wraps after about 71 minutes) and a u8 sequence number wrapping at 255.
//
// Scale: the accelerometer is modelled at ±16 g in 16 bits, 2048 counts per g;
// at rest the headset reads +1 g on y (upright, y up). The gyroscope reads 0.
// Until a test sets a sensor's values, its samples carry a small deterministic
// jitter (±2 counts accel, ±1 count gyro); values set with SetAccel/SetGyro
// are sent exactly, so what a test sets is what the tool shows.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/usb_bus.h"

namespace brisk::sim {

constexpr uint8_t kWatchmanImuReportId = 0x20;
constexpr uint8_t kWatchmanJunkReportId = 0x21;
constexpr uint8_t kWatchmanReportBytes = 64;
constexpr int16_t kWatchmanCountsPerG = 2048;

struct WatchmanSample {
    int16_t accel[3] = {};
    int16_t gyro[3] = {};
    uint32_t timestamp = 0;
    uint8_t seq = 0;
};

// The 64-byte wire form of one IMU report.
void EncodeImuReport(const WatchmanSample (&samples)[3], InputReport& out);

// The IMU interface. Generation runs by the clock: each Produce emits every
// report due since the last one, at most kMaxBurst; reports beyond that are
// skipped but still use up their sequence numbers, so a reader that fell far
// behind sees a gap, as with the real device. Controls may be called from any
// thread; the caller then calls UsbBus::Notify so that waiting readers look
// again (the model knows nothing of the bus).
class WatchmanModel final : public HidInterfaceModel {
  public:
    static constexpr int kDefaultRate = 1000;  // samples per second
    static constexpr int kMaxRate = 100000;
    static constexpr size_t kMaxBurst = 32;  // the host keeps no more anyway

    // `start` is model time zero: the time stamps count from it.
    explicit WatchmanModel(Clock::time_point start = Clock::now());

    // Samples per second from now on, 1 to kMaxRate (clamped).
    void SetRate(int samplesPerSecond, Clock::time_point now = Clock::now());
    // Attached but silent; Wake resumes with the next sequence number.
    void Sleep();
    void Wake(Clock::time_point now = Clock::now());
    // Raw counts carried by the following samples, exactly.
    void SetAccel(int16_t x, int16_t y, int16_t z);
    void SetGyro(int16_t x, int16_t y, int16_t z);
    // The next sample's sequence number jumps ahead by n (a gap of n).
    void Skip(unsigned n);
    // The last IMU report goes out once more, unchanged.
    void Repeat();
    // One input report that is not an IMU report (ID 0x21).
    void Junk();

    // IMU reports handed to the bus so far (repeats included, skipped not).
    uint64_t ReportsSent() const;

    void Produce(Clock::time_point now, std::vector<InputReport>& out) override;
    Clock::time_point NextDue(Clock::time_point now) const override;
    bool OnFeature(const uint8_t* report, size_t length, Clock::time_point now) override;

  private:
    int16_t Jitter(int16_t base, int spread);
    void BuildReport(Clock::time_point due, InputReport& out);

    mutable std::mutex mtx;
    Clock::time_point epoch;
    Clock::duration samplePeriod;
    Clock::time_point nextReportAt;  // time of the next report's last sample
    uint8_t nextSeq = 0;
    bool asleep = false;
    int16_t accel[3] = {0, kWatchmanCountsPerG, 0};
    int16_t gyro[3] = {};
    bool accelExact = false;
    bool gyroExact = false;
    uint32_t noise = 0x2545F491u;
    unsigned pendingSkip = 0;
    unsigned pendingRepeats = 0;
    unsigned pendingJunk = 0;
    InputReport lastImu;
    bool haveLastImu = false;
    uint64_t sent = 0;
};

// A whole Watchman as it appears on the bus: MI_00 carries `imu` (the model,
// or a replay), MI_01 and MI_02 are silent. With `imuListedLast` (the default) the host lists MI_01
// and MI_02 before MI_00, so discovery has to pass them over.
UsbDeviceDesc WatchmanDevice(std::wstring serial, std::wstring locationPath,
                             std::shared_ptr<HidInterfaceModel> imu, bool imuListedLast = true);

}  // namespace brisk::sim
