#include "log/log_rows.h"

#include "prox/prox_tracker.h"

#include <cstdio>
#include <ctime>

#include "log/csv_writer.h"
#include "log/health_cells.h"

namespace brisk {
namespace {

std::string Fixed(double v, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

std::string Count(uint64_t v) {
    return std::to_string(v);
}

// The text as printed, without its line end.
std::string_view WithoutNewline(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    return line;
}

// Losses and returns of a device the run watched; empty when it had none.
void AddPresenceCells(LogCells& cells, const PartPresence& p, LogColumn lost, LogColumn back) {
    if (p.watched) {
        cells[lost] = Count(p.losses);
        cells[back] = Count(p.returns);
    }
}

LogCells Row(const char* kind) {
    LogCells cells;
    cells[kColKind] = kind;
    return cells;
}

}  // namespace

LogCells LogHeader() {
    LogCells cells;
    for (size_t c = 0; c < kLogColumns; ++c) {
        cells[c] = std::string(kLogColumnNames[c]);
    }
    return cells;
}

namespace {

// Each written once before any thread of the run starts, read when the run
// row is made.
std::string& RunLauncher() {
    static std::string launcher;
    return launcher;
}

std::vector<std::string>& RunInferences() {
    static std::vector<std::string> inferred;
    return inferred;
}

}  // namespace

void SetRunLauncher(std::string launcher) {
    RunLauncher() = std::move(launcher);
}

void SetRunInferences(std::vector<std::string> inferred) {
    RunInferences() = std::move(inferred);
}

RunFacts MakeRunFacts(const RunSettings& settings, int argc, const char* const* argv) {
    RunFacts facts;
    facts.launchedBy = RunLauncher();
    facts.inferred = RunInferences();
    facts.proxWornAt = std::to_string(kProxThreshold + kProxHysteresis);
    facts.proxAwayAt = std::to_string(kProxThreshold - kProxHysteresis);
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            facts.commandLine += ' ';
        }
        facts.commandLine += argv[i];
        facts.arguments.emplace_back(argv[i]);
    }
    switch (settings.display) {
        case DisplayKind::kDirectMode:
            facts.display = "directmode";
            break;
        case DisplayKind::kNone:
            facts.display = "none";
            break;
        case DisplayKind::kExtended:
            facts.display = settings.extendedOutput < 0
                                ? "extended"
                                : "extended:" + std::to_string(settings.extendedOutput);
            break;
    }
    char mode[64];
    if (settings.mode.anyRefresh) {
        std::snprintf(mode, sizeof mode, "%ux%u", static_cast<unsigned>(settings.mode.width),
                      static_cast<unsigned>(settings.mode.height));
    } else {
        std::snprintf(mode, sizeof mode, "%ux%u@%g", static_cast<unsigned>(settings.mode.width),
                      static_cast<unsigned>(settings.mode.height), settings.mode.refreshHz);
    }
    // A run without a display has no mode: the default would read as a fact.
    facts.mode = settings.display == DisplayKind::kNone ? std::string() : std::string(mode);
    return facts;
}

LogCells RunRow(const RunFacts& facts) {
    LogCells cells = Row("run");
    cells[kColVersion] = facts.version;
    cells[kColCommandLine] = facts.commandLine;
    cells[kColDisplay] = facts.display;
    cells[kColMode] = facts.mode;
    cells[kColImuSerial] = facts.imuSerial;
    cells[kColLaunchedBy] = facts.launchedBy;
    // The report shows the launcher: what it inferred goes with it, marked.
    for (size_t i = 0; i < facts.inferred.size(); ++i) {
        cells[kColLaunchedBy] += (i == 0 ? "; inferred: " : "; ") + facts.inferred[i];
    }
    cells[kColProxWornAt] = facts.proxWornAt;
    cells[kColProxAwayAt] = facts.proxAwayAt;
    cells[kColStation] = facts.station;
    return cells;
}

LogCells StatusRow(const StatusFields& f, std::string_view line) {
    LogCells cells = Row("status");
    if (f.haveDisplay) {
        cells[kColFps] = Fixed(static_cast<double>(f.framesThisCycle), 1);
        cells[kColFrameGapMax] = Fixed(f.maxFrameGapMs, 2);
        // One character, not a literal: MinGW's gcc 12 at -O3 sees overlap in
        // the literal's copy (-Wrestrict).
        cells[kColFreeRun].assign(1, f.freeRunning ? '1' : '0');
    }
    cells[kColImuHz] = Count(f.samplesThisCycle);
    if (f.age >= 0.0) {
        cells[kColImuAge] = Fixed(f.age, 3);
    }
    cells[kColSeqGaps] = Count(f.seqGaps);
    cells[kColStalls] = Count(f.stalls);
    cells[kColAccelMag] = Fixed(AccelMagnitude(f.accel), 0);
    cells[kColGyroX] = std::to_string(f.gyro[0]);
    cells[kColGyroY] = std::to_string(f.gyro[1]);
    cells[kColGyroZ] = std::to_string(f.gyro[2]);
    if (f.haveProx) {
        cells[kColProx] = f.worn ? "worn" : "away";
        cells[kColProxDistance] = std::to_string(f.distance);
    }
    cells[kColText] = WithoutNewline(line);
    return cells;
}

LogCells MessageRow(bool toStderr, std::string_view line, LineEvent event) {
    LogCells cells = Row("message");
    cells[kColStream] = toStderr ? "err" : "out";
    cells[kColText] = WithoutNewline(line);
    cells[kColEvent] = std::string(LineEventName(event));
    return cells;
}

LogCells SummaryRow(const RunSummary& s) {
    LogCells cells = Row("summary");
    if (s.presentRan) {
        cells[kColFrames] = Count(s.frames);
        cells[kColPresentErrors] = Count(s.presentErrors);
        cells[kColWaitTimeouts] = Count(s.waitTimeouts);
        cells[kColFreeRunEvents] = Count(s.freeRunEvents);
        cells[kColFrameIntervals] = Count(s.intervals.intervals);
        if (s.intervals.intervals > 0) {
            cells[kColFrameP50] = Fixed(s.intervals.p50Ms, 2);
            cells[kColFrameP99] = Fixed(s.intervals.p99Ms, 2);
            cells[kColFrameP999] = Fixed(s.intervals.p999Ms, 2);
            cells[kColFrameMax] = Fixed(s.intervals.maxMs, 2);
            cells[kColFramesOver] = Count(s.intervals.overOneAndAHalfPeriods);
        }
    }
    if (s.imuRan) {
        cells[kColImuSamples] = Count(s.imuSamples);
        cells[kColImuReports] = Count(s.imuReports);
        cells[kColImuSeqGaps] = Count(s.imuSeqGaps);
        cells[kColImuStalls] = Count(s.imuStalls);
    }
    if (s.haveHealth) {
        AddHealthCells(cells, s.health);
    }
    cells[kColVerdict] = s.verdict;
    cells[kColExitCode] = std::to_string(s.exitCode);
    cells[kColFailReasons] = s.failReasons;
    cells[kColFailCodes] = JoinedCodes(s.reasons, true);
    cells[kColNotedCodes] = JoinedCodes(s.reasons, false);
    cells[kColNotedReasons] = JoinedTexts(s.reasons, false);
    AddPresenceCells(cells, s.imuPresence, kColImuLost, kColImuBack);
    if (s.imuPresence.watched) {
        cells[kColImuAbsentS] = Fixed(s.imuPresence.secondsWithout, 3);
    }
    AddPresenceCells(cells, s.mcuPresence, kColMcuLost, kColMcuBack);
    if (s.opticalAsked && s.opticalConfig != nullptr) {
        cells[kColPhotodiodesDead] = Count(s.optical.Count(optical::PhotodiodeState::kDead));
        cells[kColPhotodiodesWeak] = Count(s.optical.Count(optical::PhotodiodeState::kWeak));
        cells[kColPhotodiodesAbnormal] =
            Count(s.optical.Count(optical::PhotodiodeState::kAbnormal));
    }
    cells[kColText] = WithoutNewline(s.verdictLine);
    return cells;
}

std::vector<LogCells> PhotodiodeRows(const RunSummary& s) {
    std::vector<LogCells> rows;
    if (!s.opticalAsked || s.opticalConfig == nullptr) {
        return rows;
    }
    const identity::WatchmanConfig& config = *s.opticalConfig;
    // Nine significant digits give back the configuration's float exactly.
    auto put = [](LogCells& cells, LogColumn first, const std::vector<identity::Vec3>& v,
                  size_t i) {
        if (i < v.size()) {
            for (size_t axis = 0; axis < 3; ++axis) {
                char text[40];
                std::snprintf(text, sizeof text, "%.9g", v[i][axis]);
                cells[first + axis] = text;
            }
        }
    };
    for (const optical::PhotodiodeFinding& p : s.optical.photodiodes) {
        LogCells cells = Row("photodiode");
        cells[kColPdChannel] = std::to_string(p.wire);
        cells[kColPdIndex] = std::to_string(p.modelIndex);
        put(cells, kColPdX, config.positions, p.modelIndex);
        put(cells, kColPdNx, config.normals, p.modelIndex);
        cells[kColPdPulses] = Count(p.pulses);
        cells[kColPdState] = optical::StateName(p.state);
        cells[kColText] = p.why;
        rows.push_back(std::move(cells));
    }
    return rows;
}

std::string UtcTimeText(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    const auto ms = time_point_cast<milliseconds>(t).time_since_epoch().count();
    const long long msOfSecond = ((ms % 1000) + 1000) % 1000;
    const std::time_t seconds = static_cast<std::time_t>((ms - msOfSecond) / 1000);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[96];  // room for any int the fields could hold
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03lldZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, msOfSecond);
    return text;
}

std::string FormatLogRow(LogCells cells, std::chrono::system_clock::time_point now,
                         double elapsedSeconds) {
    cells[kColTime] = UtcTimeText(now);
    cells[kColElapsed] = Fixed(elapsedSeconds, 3);
    return FormatCsvRow(cells);
}

}  // namespace brisk
