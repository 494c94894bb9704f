#include "report/run_log.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "report/csv.h"

namespace brisk::report {
namespace {

enum Column {
    kTime,
    kElapsed,
    kKind,
    kFps,
    kFrameGap,
    kImuHz,
    kImuAge,
    kSeqGaps,
    kStalls,
    kAccelMag,
    kGyroX,
    kGyroY,
    kGyroZ,
    kProx,
    kProxDistance,
    kFreeRun,
    kStream,
    kText,
    kVersion,
    kCommandLine,
    kDisplay,
    kMode,
    kImuSerial,
    kFrames,
    kPresentErrors,
    kWaitTimeouts,
    kFreeRunEvents,
    kImuSamples,
    kImuReports,
    kImuSeqGaps,
    kImuStalls,
    kVerdict,
    kExitCode,
    kFailReasons,
    kFrameIntervals,
    kP50,
    kP99,
    kP999,
    kMax,
    kOver15,
    kColumnCount
};

constexpr std::array<std::string_view, kColumnCount> kNames = {
    "time",
    "elapsed_s",
    "kind",
    "fps",
    "frame_gap_max_ms",
    "imu_hz",
    "imu_age_s",
    "seq_gaps",
    "stalls",
    "accel_mag",
    "gyro_x",
    "gyro_y",
    "gyro_z",
    "prox",
    "prox_distance",
    "free_run",
    "stream",
    "text",
    "version",
    "command_line",
    "display",
    "mode",
    "imu_serial",
    "frames",
    "present_errors",
    "wait_timeouts",
    "free_run_events",
    "imu_samples",
    "imu_reports",
    "imu_seq_gaps",
    "imu_stalls",
    "verdict",
    "exit_code",
    "fail_reasons",
    "frame_intervals",
    "frame_p50_ms",
    "frame_p99_ms",
    "frame_p999_ms",
    "frame_max_ms",
    "frames_over_1_5_periods",
};

// Elapsed time beyond this (about 30 years) is not a run's.
constexpr double kMaxElapsed = 1e9;

double Number(std::string_view s) {
    while (!s.empty() && s.front() == ' ') {
        s.remove_prefix(1);
    }
    if (!s.empty() && s.front() == '+') {
        s.remove_prefix(1);
    }
    double v = NAN;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) {
        return NAN;
    }
    return v;
}

float Value(std::string_view s) {
    const double v = Number(s);
    // Past float's range a value would become infinite; a chart only needs its size.
    return static_cast<float>(std::isnan(v) ? NAN : std::clamp(v, -3e38, 3e38));
}

int8_t Flag(std::string_view s, std::string_view on, std::string_view off) {
    return s == on ? 1 : s == off ? 0 : -1;
}

// A cell quoted in a one-line reason: short, and with no line breaks of its own.
std::string Quote(std::string_view cell) {
    std::string out = "'";
    for (char c : cell.substr(0, 40)) {
        out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
    }
    return out + (cell.size() > 40 ? "...'" : "'");
}

std::string Where(const CsvRow& row) {
    char text[96];
    if (row.line != row.number) {
        std::snprintf(text, sizeof text, "row %llu (line %llu)",
                      static_cast<unsigned long long>(row.number),
                      static_cast<unsigned long long>(row.line));
    } else {
        std::snprintf(text, sizeof text, "row %llu", static_cast<unsigned long long>(row.number));
    }
    return text;
}

class Reader {
  public:
    explicit Reader(ReadResult& result) : result(result), log(result.log) {}

    // False with a reason when the first row is not a brisk log's header.
    bool Header(const CsvRow& row) {
        columns.fill(-1);
        if (!row.complete || row.overlong) {
            return Refuse("no complete header row");
        }
        for (size_t i = 0; i < row.fields.size(); ++i) {
            std::string_view name = row.fields[i];
            if (i == 0 && name.starts_with("\xEF\xBB\xBF")) {
                name.remove_prefix(3);  // a byte order mark some editors add
            }
            for (size_t c = 0; c < kNames.size(); ++c) {
                if (name == kNames[c] && columns[c] < 0) {
                    columns[c] = static_cast<int>(i);
                }
            }
        }
        for (Column c : {kTime, kElapsed, kKind}) {
            if (columns[c] < 0) {
                return Refuse("the first row has no '" + std::string(kNames[c]) + "' column");
            }
        }
        fieldCount = row.fields.size();
        result.isBriskLog = true;
        return true;
    }

    // False when reading has to stop at this row.
    bool Row(const CsvRow& row) {
        if (row.overlong) {
            return Stop(row, Where(row) + " is longer than 1 MiB");
        }
        if (!row.complete) {
            return Stop(row, Where(row) + " is cut off: the log ends in the middle of it");
        }
        if (row.fields.size() != fieldCount) {
            char text[80];
            std::snprintf(text, sizeof text, " has %zu fields, expected %zu", row.fields.size(),
                          fieldCount);
            return Stop(row, Where(row) + text);
        }
        fields = &row.fields;
        const double elapsed = Number(Cell(kElapsed));
        if (std::isnan(elapsed) || elapsed < 0.0 || elapsed > kMaxElapsed) {
            return Stop(row,
                        Where(row) + " has no valid elapsed_s (" + Quote(Cell(kElapsed)) + ")");
        }
        const std::string_view kind = Cell(kKind);
        if (kind == "status") {
            Status(elapsed);
        } else if (kind == "message") {
            Message(elapsed);
        } else if (kind == "run") {
            Run();
        } else if (kind == "summary") {
            Summary(elapsed);
        }
        // Any other kind is from a later writer: skipped, as its columns are.
        ++log.dataRows;
        log.lastElapsed = elapsed;
        log.lastTime = std::string(Cell(kTime).substr(0, 64));
        if (log.firstTime.empty()) {
            log.firstTime = log.lastTime;
        }
        return true;
    }

  private:
    bool Refuse(std::string reason) {
        result.notBriskReason = std::move(reason);
        return false;
    }

    bool Stop(const CsvRow& row, std::string reason) {
        log.stopReason = std::move(reason);
        log.stopRow = row.number;
        return false;
    }

    std::string_view Cell(Column c) const {
        return columns[c] < 0 ? std::string_view() : (*fields)[static_cast<size_t>(columns[c])];
    }

    void Status(double elapsed) {
        StatusSeries& s = log.status;
        s.elapsed.push_back(elapsed);
        s.fps.push_back(Value(Cell(kFps)));
        s.frameGapMs.push_back(Value(Cell(kFrameGap)));
        s.imuHz.push_back(Value(Cell(kImuHz)));
        s.imuAgeS.push_back(Value(Cell(kImuAge)));
        s.seqGaps.push_back(Value(Cell(kSeqGaps)));
        s.stalls.push_back(Value(Cell(kStalls)));
        s.accelMag.push_back(Value(Cell(kAccelMag)));
        s.gyroX.push_back(Value(Cell(kGyroX)));
        s.gyroY.push_back(Value(Cell(kGyroY)));
        s.gyroZ.push_back(Value(Cell(kGyroZ)));
        s.proxDistance.push_back(Value(Cell(kProxDistance)));
        s.worn.push_back(Flag(Cell(kProx), "worn", "away"));
        s.freeRun.push_back(Flag(Cell(kFreeRun), "1", "0"));
    }

    void Message(double elapsed) {
        const std::string_view text = Cell(kText);
        const EventKind kind = RecogniseEvent(text);
        if (kind == EventKind::None) {
            return;
        }
        log.events.push_back(LogEvent{elapsed, kind, std::string(text)});
        if (kind == EventKind::Verdict) {
            log.verdictLine = std::string(text);
        }
    }

    void Run() {
        RunFacts& r = log.run;
        r.present = true;
        r.version = Cell(kVersion);
        r.commandLine = Cell(kCommandLine);
        r.display = Cell(kDisplay);
        r.mode = Cell(kMode);
        r.imuSerial = Cell(kImuSerial);
    }

    void Summary(double elapsed) {
        RunSummary& s = log.summary;
        s.present = true;
        s.elapsed = elapsed;
        const std::pair<std::string*, Column> cells[] = {
            {&s.frames, kFrames},
            {&s.presentErrors, kPresentErrors},
            {&s.waitTimeouts, kWaitTimeouts},
            {&s.freeRunEvents, kFreeRunEvents},
            {&s.imuSamples, kImuSamples},
            {&s.imuReports, kImuReports},
            {&s.imuSeqGaps, kImuSeqGaps},
            {&s.imuStalls, kImuStalls},
            {&s.verdict, kVerdict},
            {&s.exitCode, kExitCode},
            {&s.failReasons, kFailReasons},
            {&s.frameIntervals, kFrameIntervals},
            {&s.p50Ms, kP50},
            {&s.p99Ms, kP99},
            {&s.p999Ms, kP999},
            {&s.maxMs, kMax},
            {&s.over15Periods, kOver15},
            {&s.text, kText},
        };
        for (const auto& [field, column] : cells) {
            *field = Cell(column);
        }
    }

    ReadResult& result;
    RunLog& log;
    std::array<int, kColumnCount> columns{};
    size_t fieldCount = 0;
    const std::vector<std::string>* fields = nullptr;
};

}  // namespace

ReadResult ReadRunLog(std::istream& in) {
    ReadResult result;
    Reader reader(result);
    CsvReader csv(in);
    CsvRow row;
    if (!csv.Next(row)) {
        result.notBriskReason = "the file is empty";
        return result;
    }
    if (!reader.Header(row)) {
        return result;
    }
    while (csv.Next(row) && reader.Row(row)) {
    }
    return result;
}

}  // namespace brisk::report
