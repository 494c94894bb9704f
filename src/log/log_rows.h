// The run log's rows, cell by cell: the columns in their order, and the run,
// status, message and summary rows built from what the tool knows. Pure; the
// writer adds the time stamps and writes them.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "imu/imu_health.h"
#include "imu/watchman_identity.h"
#include "optical/photodiode_judge.h"
#include "run/command_line.h"
#include "run/reasons.h"
#include "run/status_line.h"
#include "log/log_columns.h"
#include "base/output.h"
#include "present/frame_histogram.h"

namespace brisk {

// One row's cells; those that do not apply stay empty.
using LogCells = std::array<std::string, kLogColumns>;

LogCells LogHeader();

// The facts of the run row.
struct RunFacts {
    std::string version;
    std::string commandLine;             // the arguments after the program's name, joined by spaces
    std::vector<std::string> arguments;  // the same, one by one
    std::string display;                 // "directmode", "extended", "extended:N", "none"
    std::string mode;  // "5088x2544@75", or "1272x636" when any refresh; empty without a display
    std::string imuSerial;   // empty when the IMU never started
    std::string launchedBy;  // what ran the tool, when not a person: "brisk-sim --scenario F"
    // What the launcher made up rather than saw, each in a few words: a
    // replay's serial chosen for a capture that holds none, a device the
    // capture does not hold.
    std::vector<std::string> inferred;
    // The proximity decision band: worn at a mean distance of this or more,
    // away at this or less.
    std::string proxWornAt, proxAwayAt;
    // Where the run ran: --station NAME, else the host's name; a fleet page
    // groups runs by it.
    std::string station;
    std::string startedAt;  // UTC, for the JSON summary (log rows carry their own times)
};

// The run's facts; `launchedBy` from SetRunLauncher.
RunFacts MakeRunFacts(const RunSettings& settings, int argc, const char* const* argv);

// Said once, before the run, by a program that runs the tool inside it (as
// brisk-sim does), with its own arguments: its log then says what it ran.
void SetRunLauncher(std::string launcher);
// Said the same way: what the launcher inferred (RunFacts::inferred).
void SetRunInferences(std::vector<std::string> inferred);

// What the summary row (and the JSON summary) says; totals of a part that did
// not run stay empty.
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
    std::string failReasons;  // the counted reasons' texts, "; "
    std::string verdictLine;  // as printed; empty when none was

    // Every raised reason, counted or not; failReasons holds the counted texts.
    std::vector<Reason> reasons;
    // The devices the run watched; `watched` false when it never had them.
    PartPresence imuPresence, mcuPresence;

    // For the JSON summary only. Which parts the run tried (a part it did not
    // try is null there) and what the log keeps elsewhere or not at all.
    bool imuTried = false;
    bool mcuTried = false, mcuStarted = false;
    bool mcuWorn = false;
    uint16_t mcuDistance = 0;
    bool displayTried = false;
    bool displayLost = false;
    double fpsAverage = 0.0;
    uint64_t imuBadReports = 0;
    double runSeconds = 0.0;  // since the tool started
    // --identity: the summary has a "watchman" block (without, none at all);
    // `identityRead` when the IMU started and `watchman` holds its reads.
    bool identityAsked = false;
    bool identityRead = false;
    WatchmanIdentity watchman;
    // --optical: the summary has an "optical" block (without, none at all).
    bool opticalAsked = false;
    optical::OpticalFindings optical;
    // The configuration the findings were judged against; null when it was
    // not read (then the log has no photodiode rows and no counts).
    std::shared_ptr<const identity::WatchmanConfig> opticalConfig;
};

LogCells RunRow(const RunFacts& facts);
LogCells StatusRow(const StatusFields& f, std::string_view line);
// `event`: what the line marks, as the one who printed it said.
LogCells MessageRow(bool toStderr, std::string_view line, LineEvent event = LineEvent::kNone);
LogCells SummaryRow(const RunSummary& s);
// --optical with the configuration read: one row per photodiode, in model
// order, for just before the summary row: its wire channel, model index,
// configured position and normal (metres, as stored), pulses, state, and in
// `text` why it was judged so. None otherwise.
std::vector<LogCells> PhotodiodeRows(const RunSummary& s);

// "2026-12-08T12:57:14.123Z".
std::string UtcTimeText(std::chrono::system_clock::time_point t);

// The row as written: `cells` with its time and elapsed seconds.
std::string FormatLogRow(LogCells cells, std::chrono::system_clock::time_point now,
                         double elapsedSeconds);

}  // namespace brisk
