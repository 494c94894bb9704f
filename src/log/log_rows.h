// The run log's rows, cell by cell: the columns in their order, and the run,
// status, message and summary rows built from what the tool knows. Pure; the
// writer adds the time stamps and writes them.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "imu/imu_health.h"
#include "run/command_line.h"
#include "run/status_line.h"
#include "log/log_columns.h"
#include "platform/output.h"
#include "present/frame_histogram.h"

namespace brisk {

// One row's cells; those that do not apply stay empty.
using LogCells = std::array<std::string, kLogColumns>;

LogCells LogHeader();

// The facts of the run row.
struct RunFacts {
    std::string version;
    std::string commandLine;  // the arguments after the program's name, joined by spaces
    std::string display;      // "directmode", "extended", "extended:N", "none"
    std::string mode;         // "5088x2544@75", or "1272x636" when any refresh
    std::string imuSerial;    // empty when the IMU never started
    std::string launchedBy;   // what ran the tool, when not a person: "brisk-sim --scenario F"
    // The proximity decision band: worn at a mean distance of this or more,
    // away at this or less.
    std::string proxWornAt, proxAwayAt;
    // Where the run ran: --station NAME, else the host's name; a fleet page
    // groups runs by it.
    std::string station;
};

// The run's facts; `launchedBy` from SetRunLauncher.
RunFacts MakeRunFacts(const RunSettings& settings, int argc, const char* const* argv);

// Said once, before the run, by a program that runs the tool inside it (as
// brisk-sim does), with its own arguments: its log then says what it ran.
void SetRunLauncher(std::string launcher);

// What the summary row says; totals of a part that did not run stay empty.
struct RunSummary {
    bool presentRan = false;
    uint64_t frames = 0;
    uint64_t presentErrors = 0;
    uint64_t waitTimeouts = 0;
    uint64_t freeRunEvents = 0;
    FrameIntervalSummary intervals;
    bool imuRan = false;
    uint64_t imuSamples = 0;
    uint64_t imuReports = 0;
    uint64_t imuSeqGaps = 0;
    uint64_t imuStalls = 0;
    bool haveHealth = false;  // the IMU health figures below were taken
    ImuHealthFigures health;
    std::string verdict;  // VerdictName(), or "IMU FAILED" / "INIT FAILED"
    int exitCode = 0;
    std::string failReasons;
    std::string verdictLine;  // as printed; empty when none was
};

LogCells RunRow(const RunFacts& facts);
LogCells StatusRow(const StatusFields& f, std::string_view line);
// `event`: what the line marks, as the one who printed it said.
LogCells MessageRow(bool toStderr, std::string_view line, LineEvent event = LineEvent::kNone);
LogCells SummaryRow(const RunSummary& s);

// "2026-12-08T12:57:14.123Z".
std::string UtcTimeText(std::chrono::system_clock::time_point t);

// The row as written: `cells` with its time and elapsed seconds.
std::string FormatLogRow(LogCells cells, std::chrono::system_clock::time_point now,
                         double elapsedSeconds);

}  // namespace brisk
