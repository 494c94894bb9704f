// A brisk run log (CSV) read into what the report shows. Everything in it is
// untrusted: a log cut off by a crash, a broken row or a value that is not a
// number never stops the report, it only ends what is read and says where.
#pragma once

#include <cmath>
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "report/events.h"
#include "report/logged_health.h"

namespace brisk::report {

// One value per status row; NaN where the row had none.
struct StatusSeries {
    std::vector<double> elapsed;
    std::vector<float> fps, frameGapMs, imuHz, imuAgeS, seqGaps, stalls, accelMag, gyroX, gyroY,
        gyroZ, proxDistance;
    std::vector<int8_t> worn;     // 1 worn, 0 away, -1 no proximity
    std::vector<int8_t> freeRun;  // 1 free-running, 0 paced, -1 no display
    size_t Size() const { return elapsed.size(); }
};

struct LogEvent {
    double elapsed = 0.0;
    EventKind kind = EventKind::None;
    std::string text;
};

// Cells of the run and summary rows, as written.
struct LoggedFacts {
    bool present = false;
    std::string version, commandLine, display, mode, imuSerial, launchedBy;
    std::string station;  // empty in logs older than its column
    // The proximity decision band the tool used; NaN in logs older than it.
    double proxWornAt = NAN, proxAwayAt = NAN;
};

// The summary row, its numbers read once here: NaN where a cell was empty or
// not a number (the part did not run, or the log is damaged).
struct LoggedSummary {
    bool present = false;
    double elapsed = 0.0;
    double frames = NAN, presentErrors = NAN, waitTimeouts = NAN, freeRunEvents = NAN,
           imuSamples = NAN, imuReports = NAN, imuSeqGaps = NAN, imuStalls = NAN, exitCode = NAN,
           frameIntervals = NAN, p50Ms = NAN, p99Ms = NAN, p999Ms = NAN, maxMs = NAN,
           over15Periods = NAN;
    std::string verdict, failReasons, text;
    LoggedHealth imuHealth;
    // The reasons table's cells, in logs written since it: the counted
    // reasons' codes, and the raised but uncounted ones (findings nobody
    // asked to weigh), codes and words. `reasonsLogged` false in older logs.
    bool reasonsLogged = false;
    std::string failCodes, notedCodes, notedReasons;
    // The devices the run watched, as the tool counted them; NaN when it did
    // not watch one, or in older logs.
    double imuLost = NAN, imuBack = NAN, imuAbsentS = NAN, mcuLost = NAN, mcuBack = NAN;
    // --optical with the configuration read: photodiodes judged dead, weak
    // and abnormal; NaN for a run without it, or in older logs.
    double photodiodesDead = NAN, photodiodesWeak = NAN, photodiodesAbnormal = NAN;
};

// A photodiode's state as logged; kUnknown for a word no writer uses.
enum class LoggedPdState { kOk, kDead, kWeak, kAbnormal, kUnlit, kUnknown };
inline constexpr int kLoggedPdStates = 6;
const char* LoggedPdStateName(LoggedPdState state);

// One photodiode row: NaN where a cell was empty or not a number (a damaged
// row is kept, and drawn only where its position reads).
struct LoggedPhotodiode {
    double channel = NAN, modelIndex = NAN;
    double x = NAN, y = NAN, z = NAN;     // configured position, metres
    double nx = NAN, ny = NAN, nz = NAN;  // configured normal
    double pulses = NAN;
    LoggedPdState state = LoggedPdState::kUnknown;
    std::string why;
};

// A unit has a few dozen photodiodes; a log with more rows than this is not
// one unit's, and the rest are only counted.
constexpr size_t kMaxLoggedPhotodiodes = 1024;

struct LoggedRun {
    LoggedFacts run;
    LoggedSummary summary;
    StatusSeries status;
    std::vector<LogEvent> events;  // every recognised message, in log order
    std::string verdictLine;       // the last VERDICT message, if any
    // The last identity block's words (--identity): after "Watchman
    // firmware: " and "Watchman identity problems: "; empty when the log has
    // none (a run without --identity, an older log).
    std::string watchmanFirmware, watchmanProblems;
    // The photodiode rows (--optical), in log order; empty in a run without
    // them or an older log. `photodiodesLeftOut`: rows past the limit.
    std::vector<LoggedPhotodiode> photodiodes;
    uint64_t photodiodesLeftOut = 0;
    std::string firstTime, lastTime;  // `time` of the first and last data rows read
    // Elapsed time of the first message row: the tool's first line, printed as
    // it opens the IMU. NaN when the log has none.
    double firstMessageElapsed = NAN;
    double lastElapsed = 0.0;
    uint64_t dataRows = 0;  // rows read after the header
    // Empty when every row was read; otherwise where and why reading stopped,
    // e.g. "row 5123 has 7 fields, expected 40".
    std::string stopReason;
    uint64_t stopRow = 0;
};

struct LogReadResult {
    bool isBriskLog = false;
    std::string notBriskReason;  // when it is not: why, in a few words
    LoggedRun log;
};

LogReadResult ReadLoggedRun(std::istream& in);

}  // namespace brisk::report
