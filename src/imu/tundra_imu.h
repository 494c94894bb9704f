// TundraImu: the headset's IMU stream. Opens the Watchman IMU interface, reads
// and decodes its reports on a thread of its own, counts gaps and stalls,
// publishes the newest sample, and reconnects after the device is lost.
#pragma once

#include <chrono>
#include <mutex>
#include <string>

#include "imu/imu_health.h"
#include "imu/imu_report.h"
#include "platform/hid.h"
#include "platform/reader_thread.h"

namespace brisk {

class TundraImu {
  public:
    explicit TundraImu(HidHost& host = PlatformHidHost(),
                       double countsPerG = kImuDefaultCountsPerG);
    ~TundraImu();
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

  private:
    using SteadyClock = std::chrono::steady_clock;

    void ReaderLoop();
    bool Reconnect(SeqFilter& seqFilter, int& silentSecs);
    void OnReport(const uint8_t* buf, size_t got, SeqFilter& seqFilter);
    void OnTimeout(int& silentSecs);

    HidHost& host;
    ReaderThread reader{host};
    std::wstring wserial;
    std::string chosenSerial;

    mutable std::mutex mtx;  // guards the five members below
    ImuSample latest;
    bool haveLatest = false;
    SteadyClock::time_point latestAt{};
    ImuStats counters;
    ImuHealth health;
};

}  // namespace brisk
