// What a run leaves besides its status lines: the presence of the devices it
// watches (heard from the lines their readers print), the run log, the JSON
// summary, and at the end the verdict with its reasons and the exit code.
// One output listener feeds the presence tracker and the log.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "imu/imu_health.h"
#include "imu/imu_report.h"
#include "imu/watchman_identity.h"
#include "log/log_rows.h"
#include "platform/gpu_flavour.h"
#include "present/present_backend.h"
#include "run/command_line.h"
#include "run/presence.h"

namespace brisk {

class LogWriter;
class SideFile;

inline namespace BRISK_GPU_NAMESPACE {

// How the run ended.
enum class RunEnd {
    kVerdict,     // the parts ran and stopped: a verdict
    kImuFailed,   // the IMU stream did not start
    kInitFailed,  // the display could not be initialised
};

// What the parts measured, taken once their threads have stopped.
struct PartsAtEnd {
    bool imuTried = false;
    bool imuStarted = false;
    ImuStats imu;
    ImuHealthFigures health;
    bool mcuTried = false;
    bool mcuStarted = false;
    bool mcuWorn = false;
    uint16_t mcuDistance = 0;
    bool displayTried = false;
    const PresentStats* present = nullptr;  // null: no present loop ran
    bool identityRead = false;  // --identity and the IMU started: `watchman` holds the reads
    WatchmanIdentity watchman;
    // --optical: what the light came to (judged once the readers stopped).
    bool opticalRead = false;
    optical::OpticalFindings optical;
    std::shared_ptr<const identity::WatchmanConfig> opticalConfig;  // null: not read
    uint64_t lightStalls = 0;
};

class RunRecord {
  public:
    using SteadyClock = std::chrono::steady_clock;

    RunRecord(const RunSettings& settings, int argc, const char* const* argv,
              SteadyClock::time_point started);
    ~RunRecord();
    RunRecord(const RunRecord&) = delete;
    RunRecord& operator=(const RunRecord&) = delete;

    // Creates the run log and the summary file (before any device is
    // touched) and starts listening to the output function. False, with the
    // line printed, when a file cannot be created.
    bool Open();

    // The IMU stream (chose `serial` and) started; the proximity sensor started.
    void ImuStarted(const std::string& serial);
    void McuStarted();

    // A watched device's presence so far (from any thread).
    PartPresence PresenceNow(RunPart part) const { return presence.Presence(part, Elapsed()); }

    // The log, for the status monitor; null without --log.
    LogWriter* Log() const { return log.get(); }

    // Prints the reasons and the verdict (kVerdict only), publishes the
    // totals, writes the JSON summary and the log's summary row. Returns the
    // exit code.
    int End(RunEnd how, const PartsAtEnd& parts);

    // Stops listening and closes the files. Whatever prints must have ended.
    void Close();

  private:
    double Elapsed() const;
    RunTotals Totals(RunEnd how, const PartsAtEnd& parts, double now) const;
    RunSummary Summary(RunEnd how, const PartsAtEnd& parts, const RunTotals& t) const;

    const RunSettings& settings;
    const SteadyClock::time_point started;
    RunFacts facts;
    PresenceTracker presence;
    std::unique_ptr<LogWriter> log;
    std::unique_ptr<SideFile> json;
    bool listening = false;
};

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
