// What the proximity reader does with each report, without the thread or the
// device: the moving mean of the last 8 distances and the worn/away decision
// with its hysteresis band. (Silence and loss are the reader loop's:
// device/hid_reader_loop.h.)
#pragma once

#include <cstddef>
#include <cstdint>

namespace brisk {

constexpr uint16_t kProxThreshold = 1500;
constexpr uint16_t kProxHysteresis = 100;
constexpr size_t kProxMeanWindow = 8;

// The hysteresis rule: worn turns away at a mean of threshold - hysteresis or
// less (never, when that would be below zero); away turns worn at a mean of
// threshold + hysteresis or more. In between the state stays.
bool DecideWorn(bool worn, uint32_t mean, uint16_t threshold, uint16_t hysteresis);

// The last 8 distances, written cyclically, and their mean.
class DistanceMean {
  public:
    void Push(uint16_t distance);
    // True once 8 distances have arrived since construction or Restart.
    bool Full() const { return fill >= kProxMeanWindow; }
    // Rounded down; only meaningful when Full.
    uint32_t Mean() const;
    // A fresh warm-up; the old entries are all overwritten before the next mean.
    void Restart();

  private:
    uint16_t ring[kProxMeanWindow] = {};
    size_t pos = 0;
    uint64_t fill = 0;
};

// The outcome of one report for the published values.
struct TelemetryUpdate {
    bool telemetry = false;  // a telemetry message: publish `distance`
    uint16_t distance = 0;
    bool decided = false;  // the mean was taken: publish `worn`
    bool worn = false;
};

// The reader's state for one connection to the MCU.
class TelemetryTracker {
  public:
    TelemetryTracker(uint16_t threshold, uint16_t hysteresis)
        : threshold(threshold), hysteresis(hysteresis) {}

    // A read that brought `count` bytes: telemetry feeds the mean, anything
    // else is ignored. `worn` is the state published now.
    TelemetryUpdate OnReport(const uint8_t* report, size_t count, bool worn);
    // After a reconnect: warm up again.
    void Restart();

  private:
    uint16_t threshold;
    uint16_t hysteresis;
    DistanceMean mean;
};

}  // namespace brisk
