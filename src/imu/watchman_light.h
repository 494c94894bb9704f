// WatchmanLight: the Watchman's light interface (--optical). Opens it beside
// the IMU, sets the light format with feature report 0x04 and hands every
// report to the optical core on a reader thread of its own (HidReaderLoop).
// Silence on it is normal (no base station in view), never a lost device.
// With a configuration, each snapshot (every kSnapshotSeconds) also judges
// the photodiodes so far, on the reader thread that owns the run: about
// 50 us for 32 photodiodes, so the live counts cost nothing worth saving.
//
// The format: `04 00` gives 0x25 pulses (first-generation base stations),
// `04 01` gives 0x28 sweep words (second generation). With no generation
// named the reader sets one and, while no pulse has come, the other every
// kAutoSwitchSeconds, then keeps the one that brought light; 0x25 entries
// flagged as a second-generation unit's switch it to `04 01` at once.
//
// A light stall: light was coming (a report in the last read) and then
// kLightStallReads reads in a row brought nothing while the IMU went on.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "device/hid_reader_loop.h"
#include "identity/watchman_config.h"
#include "optical/optical_run.h"
#include "platform/hid.h"

namespace brisk {

class TundraImu;

constexpr int kLightInterface = 1;
constexpr uint8_t kLightFormatFeature = 0x04;
constexpr double kAutoSwitchSeconds = 3.0;
constexpr int kLightStallReads = 2;

// Whether a listed interface is the light interface of the Watchman whose
// serial is `serial`: the one that declares pulse or sweep-word input
// reports, wherever the unit's firmware puts it. When the backend cannot
// tell an interface's report IDs, interface kLightInterface is taken, where
// every unit we know has it.
bool IsWatchmanLight(const HidDeviceInfo& device, const std::wstring& serial);

constexpr size_t kPhotodiodeStateCount = 5;  // ok, dead, weak, abnormal, unlit

// What the status line shows of the light so far (from any thread).
// The pulses, photodiodes lit and stations seen are a snapshot the reader
// takes at most every kSnapshotSeconds.
struct LightFigures {
    uint64_t reports = 0;
    uint64_t stalls = 0;
    uint64_t pulses = 0;
    uint32_t lit = 0;       // wire channels with light of any kind
    uint32_t stations = 0;  // base stations seen
    // The photodiodes by state (optical::PhotodiodeState's order) as the
    // snapshot judged them; only with a configuration, after the first.
    bool judged = false;
    std::array<uint32_t, kPhotodiodeStateCount> states{};
};
constexpr double kSnapshotSeconds = 0.5;

class WatchmanLight : private HidReaderClient {
  public:
    // `generation`: 1, 2, or 0 for auto. `imu` tells whether the IMU goes on.
    WatchmanLight(HidHost& host, int generation, const TundraImu& imu);
    ~WatchmanLight() override;
    WatchmanLight(const WatchmanLight&) = delete;
    WatchmanLight& operator=(const WatchmanLight&) = delete;

    // Before Start: the factory configuration: who neighbours whom, and
    // what each snapshot judges the photodiodes against.
    void SetConfig(std::shared_ptr<const identity::WatchmanConfig> config);
    // Opens the light interface of the Watchman `serial` (UTF-8) and starts
    // reading. False, with a line, when there is none.
    bool Start(const std::string& serial);
    // Joins the reader and closes the flash still open. The run is then
    // read with Run().
    void Stop();
    const optical::OpticalRun& Run() const { return *run; }
    LightFigures Figures() const;

  private:
    Handle Reopen(Handle readEvent) override;
    void OnReport(const uint8_t* report, size_t length, int64_t arrivalNs) override;
    void OnSilentRead(int silentReads) override;
    void OnLost(const DeviceLoss& loss) override;
    void OnReopened() override;

    Handle OpenLight();
    void SetFormat(int generation);
    // Auto: the other format when no pulse came since the last switch.
    void MaybeSwitchFormat();
    bool AnyPulse() const;
    // The figures of LightFigures, from the run (every kSnapshotSeconds).
    void MaybeSnapshot();

    HidHost& host;
    const TundraImu& imu;
    const int askedGeneration;
    HidReaderLoop reader;
    std::wstring wserial;
    std::unique_ptr<optical::OpticalRun> run;  // 64 KB: once, not per report
    // The reader thread's own.
    int formatGeneration = 1;
    bool formatKept = false;
    std::chrono::steady_clock::time_point formatSetAt{};
    bool lightFlowing = false;
    bool stopped = false;
    std::chrono::steady_clock::time_point snapshotAt{};
    std::atomic<uint64_t> reports{0}, stalls{0}, pulses{0};
    std::atomic<uint32_t> lit{0}, stations{0};
    std::shared_ptr<const identity::WatchmanConfig> config;  // set before Start
    // The snapshot's judging, for Figures on other threads: copied under
    // the lock, never judged under it.
    mutable std::mutex statesMtx;
    bool statesJudged = false;
    std::array<uint32_t, kPhotodiodeStateCount> states{};
};

}  // namespace brisk
