// TundraImu: the headset's IMU stream. Opens the Watchman IMU interface, reads
// and decodes its reports on a thread of its own (HidReaderLoop), counts gaps
// and stalls, publishes the newest sample, and reconnects after the device is
// lost.
#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>

#include "imu/imu_health.h"
#include "imu/imu_report.h"
#include "imu/watchman_identity.h"
#include "device/hid_reader_loop.h"
#include "platform/hid.h"

namespace brisk {

class TundraImu : private HidReaderClient {
  public:
    explicit TundraImu(HidHost& host = PlatformHidHost(), double countsPerG = kImuDefaultCountsPerG,
                       IdentityOptions identity = {});
    ~TundraImu() override;
    TundraImu(const TundraImu&) = delete;
    TundraImu& operator=(const TundraImu&) = delete;

    // Chooses and opens the Watchman (by `serial` when not empty) and starts
    // the reader. True when the reader runs; true at once when already running.
    bool Start(const std::string& serial);
    // Stops the reader and closes the device. Counters and the newest sample stay.
    void Stop();

    // The newest accepted sample and, when asked, its age in seconds. False
    // (outputs untouched) before the first sample.
    bool Latest(ImuSample& out, double* ageSeconds = nullptr) const;
    ImuStats Stats() const;
    // The health figures over every accepted sample so far.
    ImuHealthFigures Health() const;
    bool IsRunning() const { return reader.Running(); }
    // The serial of the Watchman Start chose (UTF-8); empty before.
    const std::string& ChosenSerial() const { return chosenSerial; }
    // With --identity: read at the start, before the stream, and again after
    // every reconnect, between the stream's reads.
    WatchmanIdentity Identity() const;
    // With --identity and a range read at the start: counts to g and
    // degrees per second, from the range and the configuration's calibration.
    std::optional<identity::ImuScale> Scale() const;

  private:
    using SteadyClock = std::chrono::steady_clock;

    // The reader loop's calls, on the reader thread. A stall is each silent
    // second; three in a row lose the device.
    Handle Reopen(Handle readEvent) override;
    void OnReport(const uint8_t* report, size_t length, int64_t arrivalNs) override;
    void TakeReport(const uint8_t* report, size_t length, int64_t arrivalNs);
    void OnSilentRead(int silentReads) override;
    void OnLost(const DeviceLoss& loss) override;
    void OnReopened() override;
    // A few of the identity read's requests, between two of the stream's reads.
    void StepIdentityRead();
    // Publishes the read that ended, prints its block and notices a
    // different unit on the same port.
    void FinishIdentityRead(const std::string& usbSerial);

    HidHost& host;
    HidReaderLoop reader;
    std::wstring wserial;
    std::string chosenSerial;
    // The reader thread's own while it runs.
    SeqFilter seqFilter;
    std::wstring reopenedSerial;  // of the Watchman the last Reopen found
    const IdentityOptions identityOptions;
    IdentityRead identityRead;      // on the handle the loop holds; ends with it
    Handle openedHandle = nullptr;  // what the last Reopen returned
    std::chrono::steady_clock::time_point readBegan{};  // of identityRead
    std::string lastUnitSerial;                         // of the last finished read

    mutable std::mutex mtx;  // guards the seven members below
    ImuSample latest;
    bool haveLatest = false;
    SteadyClock::time_point latestAt{};
    ImuStats counters;
    ImuHealth health;
    WatchmanIdentity watchman;
    std::optional<identity::ImuScale> scale;
};

}  // namespace brisk
