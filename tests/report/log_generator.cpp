#include "report/log_generator.h"

#include <cmath>
#include <cstdio>
#include <sstream>
#include <vector>

namespace brisk::test {
namespace {

const char* const kColumns[] = {
    "time", "elapsed_s", "kind", "fps", "frame_gap_max_ms", "imu_hz", "imu_age_s", "seq_gaps",
    "stalls", "accel_mag", "gyro_x", "gyro_y", "gyro_z", "prox", "prox_distance", "free_run",
    "stream", "text", "version", "command_line", "display", "mode", "imu_serial", "frames",
    "present_errors", "wait_timeouts", "free_run_events", "imu_samples", "imu_reports",
    "imu_seq_gaps", "imu_stalls", "verdict", "exit_code", "fail_reasons", "frame_intervals",
    "frame_p50_ms", "frame_p99_ms", "frame_p999_ms", "frame_max_ms", "frames_over_1_5_periods",
    // No event and no launched_by: the events of
    // a generated log are read by their words.
    "prox_worn_at", "prox_away_at"};
constexpr size_t kCount = sizeof kColumns / sizeof kColumns[0];

size_t Index(const std::string& name) {
    for (size_t i = 0; i < kCount; ++i) {
        if (name == kColumns[i]) {
            return i;
        }
    }
    return kCount;
}

class Writer {
  public:
    Writer(std::ostream& out, bool crlf) : out(out), end(crlf ? "\r\n" : "\n") {}

    void Row(double elapsed, const char* kind,
             std::initializer_list<std::pair<const char*, std::string>> cells) {
        std::vector<std::string> row(kCount);
        // 2026-12-08T00:00:00.000Z plus elapsed (days past the 31st are not needed).
        const auto ms = static_cast<long long>(std::llround(elapsed * 1000));
        char text[64];
        std::snprintf(text, sizeof text, "2026-12-%02lldT%02lld:%02lld:%02lld.%03lldZ",
                      8 + ms / 86400000, ms / 3600000 % 24, ms / 60000 % 60, ms / 1000 % 60,
                      ms % 1000);
        row[0] = text;
        std::snprintf(text, sizeof text, "%.3f", elapsed);
        row[1] = text;
        row[2] = kind;
        for (const auto& [name, value] : cells) {
            row[Index(name)] = value;
        }
        for (size_t i = 0; i < kCount; ++i) {
            if (i > 0) {
                out << ',';
            }
            Field(row[i]);
        }
        out << end;
    }

    void Message(double elapsed, const std::string& text, const char* stream = "err") {
        Row(elapsed, "message", {{"stream", stream}, {"text", text}});
    }

  private:
    void Field(const std::string& f) {
        if (f.find_first_of(",\"\r\n") == std::string::npos) {
            out << f;
            return;
        }
        out << '"';
        for (char c : f) {
            out << (c == '"' ? "\"\"" : std::string(1, c));
        }
        out << '"';
    }

    std::ostream& out;
    const char* end;
};

std::string Num(double v, const char* format) {
    char text[48];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

}  // namespace

std::string LogHeader(bool crlf) {
    std::string h;
    for (size_t i = 0; i < kCount; ++i) {
        h += i ? "," : "";
        h += kColumns[i];
    }
    return h + (crlf ? "\r\n" : "\n");
}

void WriteLog(std::ostream& out, const LogShape& shape) {
    Writer w(out, shape.crlf);
    out << LogHeader(shape.crlf);
    const bool display = !shape.sensorsOnly;
    w.Row(0.05, "run",
          {{"version", "0.1.0"},
           {"command_line", display ? "--mode 5088x2544@75 86400" : "--display none 86400"},
           {"display", display ? "directmode" : "none"},
           {"mode", display ? "5088x2544@75" : ""},
           {"imu_serial", "LHR-5A1B2C3D"},
           {"prox_worn_at", shape.proxWornAt},
           {"prox_away_at", shape.proxAwayAt}});
    w.Message(0.06, "TundraImu: using LHR-5A1B2C3D", "out");
    // Where in its cycle each second falls decides the state of the headset.
    const double c = shape.cycleSeconds;
    const auto phase = [&](int s) { return std::fmod(static_cast<double>(s), c) / c; };
    long long seqGaps = 0, stalls = 0;
    bool worn = false, imuUp = true, freeRun = false, mcuUp = true;
    for (int s = 1; s <= shape.seconds; ++s) {
        const double t = s + 0.001 * (s % 7);
        const double p = phase(s);
        const bool wantWorn = p >= 0.1 && p < 0.6;
        const bool wantImu = !(p >= 0.2 && p < 0.3);
        const bool wantFreeRun = display && p >= 0.7 && p < 0.75;
        const bool wantMcu = !(p >= 0.8 && p < 0.85);
        if (wantWorn != worn) {
            w.Message(t - 0.5,
                      wantWorn ? "prox: headset DONNED (distance 1700)"
                               : "prox: headset DOFFED (distance 200)",
                      "out");
        }
        if (wantImu != imuUp) {
            w.Message(t - 0.4, wantImu ? "TundraImu: reconnected to LHR-5A1B2C3D"
                                       : "TundraImu: read failed (err 1167) \xE2\x80\x94 device "
                                         "gone, waiting for reconnect");
            seqGaps += wantImu ? 1 : 0;
            stalls += wantImu ? 0 : 1;
        }
        if (wantFreeRun != freeRun) {
            w.Message(t - 0.3, wantFreeRun ? "WARNING: present loop free-running (vsync lost "
                                             "\xE2\x80\x94 headset doffed?), throttling"
                                           : "free-run over: vsync pacing restored");
        }
        if (wantMcu != mcuUp) {
            w.Message(t - 0.2, wantMcu ? "McuProx: device reconnected, telemetry restarted"
                                       : "McuProx: telemetry silent 2s \xE2\x80\x94 device gone, "
                                         "waiting for reconnect");
        }
        worn = wantWorn, imuUp = wantImu, freeRun = wantFreeRun, mcuUp = wantMcu;
        for (int k = 0; k < shape.extraEventsPerSecond; ++k) {
            w.Message(t - 0.1, "prox: headset DOFFED (distance 200)", "out");
        }
        const double fps = freeRun ? 240.0 + s % 3 : 75.0 - (s % 11 == 0 ? 9.0 : 0.0);
        const double gap = freeRun ? 4.2 : 13.33 + (s % 11 == 0 ? 20.0 : 0.4 * (s % 3));
        const int hz = imuUp ? 999 + s % 4 : 0;
        const double age = imuUp ? 0.001 * (s % 5) : 1.0 + (p - 0.2) * c;
        const int accel = 8192 + static_cast<int>(12 * std::sin(s * 0.7));
        const int gx = static_cast<int>(300 * std::sin(s * 0.05)), gy = (s % 13) - 6,
                  gz = static_cast<int>(120 * std::cos(s * 0.11));
        const int distance = worn ? 1700 + s % 40 : 200 + s % 25;
        char text[200];
        std::snprintf(text, sizeof text,
                      "  fps=%s imu=%4dHz age=%.2fs gaps=%lld stalls=%lld |a|=%d gyro=(%d,%d,%d) "
                      "prox=%s(%d)",
                      display ? Num(fps, "%5.1f").c_str() : "  n/a", hz, age, seqGaps, stalls,
                      accel, gx, gy, gz, worn ? "worn" : "away", distance);
        w.Row(t, "status",
              {{"fps", display ? Num(fps, "%.1f") : ""},
               {"frame_gap_max_ms", display ? Num(gap, "%.2f") : ""},
               {"imu_hz", std::to_string(hz)},
               {"imu_age_s", Num(age, "%.3f")},
               {"seq_gaps", std::to_string(seqGaps)},
               {"stalls", std::to_string(stalls)},
               {"accel_mag", std::to_string(accel)},
               {"gyro_x", std::to_string(gx)},
               {"gyro_y", std::to_string(gy)},
               {"gyro_z", std::to_string(gz)},
               {"prox", worn ? "worn" : "away"},
               {"prox_distance", std::to_string(distance)},
               {"free_run", display ? (freeRun ? "1" : "0") : ""},
               {"text", text}});
    }
    if (!shape.finished) {
        return;
    }
    const double end = shape.seconds + 0.5;
    const std::string frames = std::to_string(75LL * shape.seconds);
    const std::string samples = std::to_string(1000LL * shape.seconds);
    const std::string verdictLine =
        "VERDICT: " + shape.verdict +
        (shape.failReasons.empty() ? std::string(" (eyeball check still required)")
                                   : " (" + shape.failReasons + ")");
    if (display) {
        w.Message(end, "PRESENT RESULT: " + frames + " frames", "out");
    }
    w.Message(end + 0.01, "IMU RESULT: " + samples + " samples", "out");
    w.Message(end + 0.02, verdictLine, "out");
    w.Row(end + 0.03, "summary",
          {{"frames", display ? frames : ""},
           {"present_errors", display ? "0" : ""},
           {"wait_timeouts", display ? "1" : ""},
           {"free_run_events", display ? std::to_string(shape.seconds / 60) : ""},
           {"imu_samples", samples},
           {"imu_reports", std::to_string(975LL * shape.seconds)},  // a few come late, with two
           {"imu_seq_gaps", std::to_string(seqGaps)},
           {"imu_stalls", std::to_string(stalls)},
           {"verdict", shape.verdict},
           {"exit_code",
            shape.verdict.starts_with("PASS") || shape.verdict.starts_with("FAIL") ? "0" : "4"},
           {"fail_reasons", shape.failReasons},
           {"frame_intervals", display ? frames : ""},
           {"frame_p50_ms", display ? "13.33" : ""},
           {"frame_p99_ms", display ? "14.02" : ""},
           {"frame_p999_ms", display ? "26.71" : ""},
           {"frame_max_ms", display ? "33.40" : ""},
           {"frames_over_1_5_periods", display ? "12" : ""},
           {"text", verdictLine}});
}

std::string MakeLog(const LogShape& shape) {
    std::ostringstream out;
    WriteLog(out, shape);
    return out.str();
}

}  // namespace brisk::test
