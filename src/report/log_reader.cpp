#include "report/log_reader.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "log/log_columns.h"
#include "report/csv_reader.h"

namespace brisk::report {
namespace {

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

std::string Where(const CsvRecord& row) {
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

LoggedPdState PdState(std::string_view s) {
    for (int i = 0; i < kLoggedPdStates - 1; ++i) {
        const auto state = static_cast<LoggedPdState>(i);
        if (s == LoggedPdStateName(state)) {
            return state;
        }
    }
    return LoggedPdState::kUnknown;
}

class Reader {
  public:
    explicit Reader(LogReadResult& result) : result(result), log(result.log) {}

    // False with a reason when the first row is not a brisk log's header.
    bool Header(const CsvRecord& row) {
        columns.fill(-1);
        if (!row.complete || row.overlong) {
            return Refuse("no complete header row");
        }
        for (size_t i = 0; i < row.fields.size(); ++i) {
            std::string_view name = row.fields[i];
            if (i == 0 && name.starts_with("\xEF\xBB\xBF")) {
                name.remove_prefix(3);  // a byte order mark some editors add
            }
            for (size_t c = 0; c < kLogColumnNames.size(); ++c) {
                if (name == kLogColumnNames[c] && columns[c] < 0) {
                    columns[c] = static_cast<int>(i);
                }
            }
        }
        for (LogColumn c : {kColTime, kColElapsed, kColKind}) {
            if (columns[c] < 0) {
                return Refuse("the first row has no '" + std::string(kLogColumnNames[c]) +
                              "' column");
            }
        }
        fieldCount = row.fields.size();
        result.isBriskLog = true;
        return true;
    }

    // False when reading has to stop at this row.
    bool Row(const CsvRecord& row) {
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
        const double elapsed = Number(Cell(kColElapsed));
        if (std::isnan(elapsed) || elapsed < 0.0 || elapsed > kMaxElapsed) {
            return Stop(row,
                        Where(row) + " has no valid elapsed_s (" + Quote(Cell(kColElapsed)) + ")");
        }
        const std::string_view kind = Cell(kColKind);
        if (kind == "status") {
            Status(elapsed);
        } else if (kind == "message") {
            Message(elapsed);
        } else if (kind == "run") {
            Run();
        } else if (kind == "summary") {
            Summary(elapsed);
        } else if (kind == "photodiode") {
            Photodiode();
        }
        // Any other kind is from a later writer: skipped, as its columns are.
        ++log.dataRows;
        log.lastElapsed = elapsed;
        log.lastTime = std::string(Cell(kColTime).substr(0, 64));
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

    bool Stop(const CsvRecord& row, std::string reason) {
        log.stopReason = std::move(reason);
        log.stopRow = row.number;
        return false;
    }

    std::string_view Cell(LogColumn c) const {
        return columns[c] < 0 ? std::string_view() : (*fields)[static_cast<size_t>(columns[c])];
    }

    void Status(double elapsed) {
        StatusSeries& s = log.status;
        s.elapsed.push_back(elapsed);
        s.fps.push_back(Value(Cell(kColFps)));
        s.frameGapMs.push_back(Value(Cell(kColFrameGapMax)));
        s.imuHz.push_back(Value(Cell(kColImuHz)));
        s.imuAgeS.push_back(Value(Cell(kColImuAge)));
        s.seqGaps.push_back(Value(Cell(kColSeqGaps)));
        s.stalls.push_back(Value(Cell(kColStalls)));
        s.accelMag.push_back(Value(Cell(kColAccelMag)));
        s.gyroX.push_back(Value(Cell(kColGyroX)));
        s.gyroY.push_back(Value(Cell(kColGyroY)));
        s.gyroZ.push_back(Value(Cell(kColGyroZ)));
        s.proxDistance.push_back(Value(Cell(kColProxDistance)));
        s.worn.push_back(Flag(Cell(kColProx), "worn", "away"));
        s.freeRun.push_back(Flag(Cell(kColFreeRun), "1", "0"));
    }

    // The identity block's lines carry no event: they are known by their words.
    static void ReadIdentityLine(std::string_view text, LoggedRun& into) {
        static constexpr std::string_view kFirmware = "Watchman firmware: ";
        static constexpr std::string_view kProblems = "Watchman identity problems: ";
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.remove_suffix(1);
        }
        if (text.starts_with(kFirmware)) {
            into.watchmanFirmware = std::string(text.substr(kFirmware.size()));
        } else if (text.starts_with(kProblems)) {
            into.watchmanProblems = std::string(text.substr(kProblems.size()));
        }
    }

    void Message(double elapsed) {
        if (std::isnan(log.firstMessageElapsed)) {
            log.firstMessageElapsed = elapsed;
        }
        const std::string_view text = Cell(kColText);
        ReadIdentityLine(text, log);
        // The line's own event, as the tool logged it; a log written before
        // the tool did so is read by the lines' words.
        const EventKind kind =
            columns[kColEvent] >= 0 ? EventFromLogName(Cell(kColEvent)) : RecogniseEvent(text);
        if (kind == EventKind::None) {
            return;
        }
        log.events.push_back(LogEvent{elapsed, kind, std::string(text)});
        if (kind == EventKind::Verdict) {
            log.verdictLine = std::string(text);
        }
    }

    void Run() {
        LoggedFacts& r = log.run;
        r.present = true;
        r.version = Cell(kColVersion);
        r.commandLine = Cell(kColCommandLine);
        r.display = Cell(kColDisplay);
        r.mode = Cell(kColMode);
        r.imuSerial = Cell(kColImuSerial);
        r.launchedBy = Cell(kColLaunchedBy);
        r.station = Cell(kColStation);
        r.proxWornAt = Number(Cell(kColProxWornAt));
        r.proxAwayAt = Number(Cell(kColProxAwayAt));
    }

    void Summary(double elapsed) {
        LoggedSummary& s = log.summary;
        s.present = true;
        s.elapsed = elapsed;
        const std::pair<double*, LogColumn> numbers[] = {
            {&s.frames, kColFrames},
            {&s.presentErrors, kColPresentErrors},
            {&s.waitTimeouts, kColWaitTimeouts},
            {&s.freeRunEvents, kColFreeRunEvents},
            {&s.imuSamples, kColImuSamples},
            {&s.imuReports, kColImuReports},
            {&s.imuSeqGaps, kColImuSeqGaps},
            {&s.imuStalls, kColImuStalls},
            {&s.exitCode, kColExitCode},
            {&s.frameIntervals, kColFrameIntervals},
            {&s.p50Ms, kColFrameP50},
            {&s.p99Ms, kColFrameP99},
            {&s.p999Ms, kColFrameP999},
            {&s.maxMs, kColFrameMax},
            {&s.over15Periods, kColFramesOver},
            {&s.imuLost, kColImuLost},
            {&s.imuBack, kColImuBack},
            {&s.imuAbsentS, kColImuAbsentS},
            {&s.mcuLost, kColMcuLost},
            {&s.mcuBack, kColMcuBack},
            {&s.photodiodesDead, kColPhotodiodesDead},
            {&s.photodiodesWeak, kColPhotodiodesWeak},
            {&s.photodiodesAbnormal, kColPhotodiodesAbnormal},
        };
        for (const auto& [field, column] : numbers) {
            *field = Number(Cell(column));
        }
        s.imuHealth = ReadLoggedHealth([this](LogColumn c) { return Cell(c); });
        s.verdict = Cell(kColVerdict);
        s.failReasons = Cell(kColFailReasons);
        s.reasonsLogged = columns[kColFailCodes] >= 0;
        s.failCodes = Cell(kColFailCodes);
        s.notedCodes = Cell(kColNotedCodes);
        s.notedReasons = Cell(kColNotedReasons);
        s.text = Cell(kColText);
    }

    void Photodiode() {
        if (log.photodiodes.size() >= kMaxLoggedPhotodiodes) {
            ++log.photodiodesLeftOut;
            return;
        }
        LoggedPhotodiode p;
        const std::pair<double*, LogColumn> numbers[] = {
            {&p.channel, kColPdChannel},
            {&p.modelIndex, kColPdIndex},
            {&p.x, kColPdX},
            {&p.y, kColPdY},
            {&p.z, kColPdZ},
            {&p.nx, kColPdNx},
            {&p.ny, kColPdNy},
            {&p.nz, kColPdNz},
            {&p.pulses, kColPdPulses},
        };
        for (const auto& [field, column] : numbers) {
            *field = Number(Cell(column));
        }
        p.state = PdState(Cell(kColPdState));
        // The reason is a line's worth of words; a longer cell is damage.
        p.why = std::string(Cell(kColText).substr(0, 400));
        log.photodiodes.push_back(std::move(p));
    }

    LogReadResult& result;
    LoggedRun& log;
    std::array<int, kLogColumns> columns{};
    size_t fieldCount = 0;
    const std::vector<std::string>* fields = nullptr;
};

}  // namespace

const char* LoggedPdStateName(LoggedPdState state) {
    switch (state) {
        case LoggedPdState::kOk:
            return "ok";
        case LoggedPdState::kDead:
            return "dead";
        case LoggedPdState::kWeak:
            return "weak";
        case LoggedPdState::kAbnormal:
            return "abnormal";
        case LoggedPdState::kUnlit:
            return "unlit";
        case LoggedPdState::kUnknown:
            break;
    }
    return "unknown";
}

LogReadResult ReadLoggedRun(std::istream& in) {
    LogReadResult result;
    Reader reader(result);
    CsvReader csv(in);
    CsvRecord row;
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
