// A lab's runs side by side: each run log brought down to one row of figures,
// and the rows brought down to one line per IMU serial. Pure: the fleet page
// draws these, and brisk-report's fleet command fills them from files.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "report/log_reader.h"

namespace brisk::report {

enum class RunOutcome { Pass, Fail, Unfinished, Unreadable };

struct FleetRun {
    std::string logName;   // the log as it was named to brisk-report
    std::string pageHref;  // its own page, relative to the fleet page; empty when none
    std::string problem;   // why the log could not be read; empty when it was
    RunOutcome outcome = RunOutcome::Unreadable;
    std::string station, imuSerial;
    std::string started;  // the run row's `time`, as logged
    double durationS = NAN;
    std::string verdict;  // as logged; "NO VERDICT" for a run that did not finish
    std::string reasons;  // the failed conditions, or why there is no verdict
    double p99Ms = NAN, seqGaps = NAN, stalls = NAN;
    uint64_t reconnects = 0, donned = 0, doffed = 0;  // from the logged events
    // What hides behind a verdict: seconds without IMU samples, the devices
    // lost and back (from the events), the display's wait time-outs.
    double withoutImuS = NAN, waitTimeouts = NAN;
    uint64_t imuLost = 0, mcuLost = 0, mcuBack = 0;  // IMU back: `reconnects`
    // With --identity, as the last identity block said: the firmware build
    // (or "not read", "not captured") and "sound" or the problems' codes;
    // empty for a run without it.
    std::string firmware, identity;
    // With --optical and the configuration read: photodiodes judged dead;
    // NaN for a run without it.
    double deadPhotodiodes = NAN;
};

FleetRun SummariseRun(const LoggedRun& log, std::string logName);
FleetRun UnreadableRun(std::string logName, std::string problem);

// One IMU serial across the fleet; unreadable logs have no serial and no line.
struct SerialFigures {
    std::string imuSerial;  // empty: runs whose IMU never started
    size_t runs = 0, passes = 0;
    std::vector<std::string> stations;  // distinct, sorted
    // The worst of its runs; NaN when no run had the figure.
    double worstP99Ms = NAN, mostSeqGaps = NAN, mostStalls = NAN;
    uint64_t mostReconnects = 0;
};

// Sorted by serial, the runs without one last.
std::vector<SerialFigures> BySerial(const std::vector<FleetRun>& runs);

// The runs table's order: failed runs first, then those that did not finish,
// then passes, each by station, then start, then log; unreadable logs last,
// in the order they were named.
void SortRuns(std::vector<FleetRun>& runs);

// The runs table's cells as text, in the order of kRunColumns; a figure the
// run did not have is empty (the page shows a dash).
inline constexpr std::array<const char*, 19> kRunColumns = {"log",
                                                            "station",
                                                            "IMU serial",
                                                            "started",
                                                            "duration",
                                                            "verdict",
                                                            "why",
                                                            "without IMU, s",
                                                            "IMU lost/back",
                                                            "MCU lost/back",
                                                            "display time-outs",
                                                            "p99 ms",
                                                            "seq. gaps",
                                                            "stalls",
                                                            "dons",
                                                            "doffs",
                                                            "firmware",
                                                            "identity",
                                                            "dead photodiodes"};
std::array<std::string, kRunColumns.size()> RunCells(const FleetRun& run);

// Each cell's value to sort by: a number for the figures (NaN where there
// is none), NaN for the columns that sort by their text. The verdict sorts
// failed runs first; a device's "lost / back" by how often it was lost.
std::array<double, kRunColumns.size()> RunSortValues(const FleetRun& run);

// Where a run's outcome sorts: failures first, unreadable logs last.
int OutcomeRank(RunOutcome outcome);

// The firmware cell from the block's words: "1462663157" from "build
// 1462663157, hardware ...", anything else ("not read (...)") as it is.
std::string FirmwareCell(const std::string& words);

// "2026-12-08 12:57:14 UTC" from "2026-12-08T12:57:14.123Z"; anything else as it is.
std::string StartText(const std::string& loggedTime);

}  // namespace brisk::report
