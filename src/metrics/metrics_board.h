// The figures /metrics shows, and the board they are published on. The
// status monitor and the driver publish; the HTTP edge reads a copy. Nothing
// that publishes ever waits on a scrape: the lock guards a copy of a plain
// struct and is never held across I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace brisk::metrics {

// The label values of brisk_photodiodes, in the order of the optical core's
// PhotodiodeState (which this layer does not see; the publisher maps them).
constexpr size_t kPhotodiodeStates = 5;
constexpr const char* kPhotodiodeStateNames[kPhotodiodeStates] = {"ok", "dead", "weak", "abnormal",
                                                                  "unlit"};

struct MetricsSnapshot {
    // The labels of brisk_info; `station` goes on every series.
    std::string station, version, display, mode, imuSerial;
    bool haveDisplay = true;  // false: a sensors-only run, no present series
    bool haveProx = false;    // false: no MCU, no proximity series

    // Counters: totals since the run started.
    uint64_t imuSamples = 0, imuReports = 0, imuSeqGaps = 0, imuStalls = 0, imuReconnects = 0;
    uint64_t frames = 0, presentErrors = 0, waitTimeouts = 0, freeRunEvents = 0;
    uint64_t donEvents = 0, doffEvents = 0;

    // Gauges of the last status second; none before the first one.
    bool haveStatus = false;
    uint64_t framesLastSecond = 0, imuSamplesLastSecond = 0;
    double sampleAgeSeconds = -1.0;  // < 0: no sample yet
    uint16_t proxDistance = 0;
    bool worn = false;
    bool freeRunActive = false;
    bool displayLost = false;

    // A device the run watches (the IMU, the MCU), from the lines its reader
    // prints when it loses the device and when it is back.
    struct Device {
        bool watched = false;  // it had started; nothing below is shown before
        bool present = false;
        uint64_t losses = 0;
        double absentSeconds = 0.0;  // since it started, the loss going on included
    };
    Device imu, mcu;

    // --identity: who the Watchman said it is, at its last read. Without
    // --identity the page has none of these families.
    bool identityAsked = false;
    bool identityRead = false;  // a read has ended
    bool haveFirmware = false;
    uint32_t firmwareBuild = 0;
    bool configRead = false;
    uint64_t identityProblems = 0;

    // --optical: the photodiodes by state, as the light's reader last judged
    // them (every snapshot of its run, and once more at the end). None before
    // a judging with a factory configuration.
    bool havePhotodiodes = false;
    uint64_t photodiodes[kPhotodiodeStates] = {};  // by kPhotodiodeStateNames

    // The end: a failed run is anything but a PASS (FAIL, DISPLAY LOST, IMU
    // FAILED, INIT FAILED).
    bool runEnded = false;
    bool runFailed = false;
    int exitCode = 0;
    std::string verdict;  // "PASS", "FAIL" or "DISPLAY_LOST", as the JSON summary says
    struct RaisedReason {
        std::string code;
        bool counted = false;  // false: a finding the verdict did not weigh
    };
    std::vector<RaisedReason> reasons;
};

class MetricsBoard {
  public:
    explicit MetricsBoard(MetricsSnapshot first) : figures(std::move(first)) {}

    // `change` runs under the lock: plain assignments only.
    template <typename Change>
    void Update(Change&& change) {
        std::lock_guard<std::mutex> lock(mtx);
        change(figures);
    }

    MetricsSnapshot Read() const {
        std::lock_guard<std::mutex> lock(mtx);
        return figures;
    }

  private:
    mutable std::mutex mtx;
    MetricsSnapshot figures;
};

}  // namespace brisk::metrics
