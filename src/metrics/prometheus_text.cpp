#include "metrics/prometheus_text.h"

#include <charconv>
#include <cstdint>
#include <initializer_list>
#include <iterator>

#include "base/utf8.h"

namespace brisk::metrics {
namespace {

// One series' value; `shown` false leaves the family's sample out (a part
// that did not run, or a figure not yet known), as the run log leaves its
// cells empty.
struct Value {
    bool shown = false;
    bool integer = true;
    uint64_t count = 0;
    double real = 0.0;
};

Value Count(uint64_t v, bool shown = true) {
    return Value{shown, true, v, 0.0};
}
Value Flag(bool v, bool shown = true) {
    return Count(v ? 1 : 0, shown);
}
Value Real(double v, bool shown = true) {
    return Value{shown, false, 0, v};
}

struct Family {
    const char* name;
    const char* type;
    const char* help;
    Value (*value)(const MetricsSnapshot&);
};

// In the order a person reads the page: the IMU, the display, the wearer,
// then how the run ended.
constexpr Family kFamilies[] = {
    {"brisk_imu_samples_total", "counter", "IMU samples accepted (IMU RESULT's samples).",
     [](const MetricsSnapshot& s) { return Count(s.imuSamples); }},
    {"brisk_imu_reports_total", "counter", "IMU input reports read (IMU RESULT's reports).",
     [](const MetricsSnapshot& s) { return Count(s.imuReports); }},
    {"brisk_imu_sequence_gaps_total", "counter", "Breaks in the IMU samples' sequence numbers.",
     [](const MetricsSnapshot& s) { return Count(s.imuSeqGaps); }},
    {"brisk_imu_stalls_total", "counter", "IMU reads that waited in vain for a report.",
     [](const MetricsSnapshot& s) { return Count(s.imuStalls); }},
    {"brisk_imu_reconnects_total", "counter", "Times the IMU came back after it was lost.",
     [](const MetricsSnapshot& s) { return Count(s.imuReconnects); }},
    {"brisk_frames_total", "counter", "Frames presented (PRESENT RESULT's frames).",
     [](const MetricsSnapshot& s) { return Count(s.frames, s.haveDisplay); }},
    {"brisk_present_errors_total", "counter", "Presents that returned an error status.",
     [](const MetricsSnapshot& s) { return Count(s.presentErrors, s.haveDisplay); }},
    {"brisk_present_wait_timeouts_total", "counter", "Scan-out waits that timed out.",
     [](const MetricsSnapshot& s) { return Count(s.waitTimeouts, s.haveDisplay); }},
    {"brisk_free_run_events_total", "counter", "Times presenting fell back to its own pacing.",
     [](const MetricsSnapshot& s) { return Count(s.freeRunEvents, s.haveDisplay); }},
    {"brisk_don_events_total", "counter", "Times the headset was put on.",
     [](const MetricsSnapshot& s) { return Count(s.donEvents, s.haveProx); }},
    {"brisk_doff_events_total", "counter", "Times the headset was taken off.",
     [](const MetricsSnapshot& s) { return Count(s.doffEvents, s.haveProx); }},
    {"brisk_imu_present", "gauge", "1 while the IMU is there, 0 while it is lost.",
     [](const MetricsSnapshot& s) { return Flag(s.imu.present, s.imu.watched); }},
    {"brisk_imu_absent_seconds_total", "counter",
     "Time without the IMU since it started, the loss going on included.",
     [](const MetricsSnapshot& s) { return Real(s.imu.absentSeconds, s.imu.watched); }},
    {"brisk_mcu_present", "gauge", "1 while the headset MCU is there, 0 while it is lost.",
     [](const MetricsSnapshot& s) { return Flag(s.mcu.present, s.mcu.watched); }},
    {"brisk_frame_rate_hertz", "gauge", "Frames presented in the last status second.",
     [](const MetricsSnapshot& s) {
         return Count(s.framesLastSecond, s.haveDisplay && s.haveStatus);
     }},
    {"brisk_imu_sample_rate_hertz", "gauge", "IMU samples accepted in the last status second.",
     [](const MetricsSnapshot& s) { return Count(s.imuSamplesLastSecond, s.haveStatus); }},
    {"brisk_imu_sample_age_seconds", "gauge", "Age of the newest IMU sample at the last status.",
     [](const MetricsSnapshot& s) {
         return Real(s.sampleAgeSeconds, s.haveStatus && s.sampleAgeSeconds >= 0.0);
     }},
    {"brisk_proximity_distance_counts", "gauge",
     "Proximity sensor reading, in the sensor's own counts.",
     [](const MetricsSnapshot& s) { return Count(s.proxDistance, s.haveProx && s.haveStatus); }},
    {"brisk_worn", "gauge", "1 while the headset is worn, 0 while it is away.",
     [](const MetricsSnapshot& s) { return Flag(s.worn, s.haveProx && s.haveStatus); }},
    {"brisk_free_run_active", "gauge", "1 while presenting runs on its own pacing.",
     [](const MetricsSnapshot& s) { return Flag(s.freeRunActive, s.haveDisplay); }},
    {"brisk_display_lost", "gauge", "1 once the display has been lost.",
     [](const MetricsSnapshot& s) { return Flag(s.displayLost, s.haveDisplay); }},
    {"brisk_run_ended", "gauge", "1 once the run has ended and its result is below.",
     [](const MetricsSnapshot& s) { return Flag(s.runEnded); }},
    {"brisk_run_failed", "gauge", "1 when the run ended in anything but a PASS.",
     [](const MetricsSnapshot& s) { return Flag(s.runFailed, s.runEnded); }},
    {"brisk_exit_code", "gauge", "The exit code of the ended run.",
     [](const MetricsSnapshot& s) {
         return Count(static_cast<uint64_t>(s.exitCode < 0 ? 0 : s.exitCode), s.runEnded);
     }},
};

// With --identity only: a station's scrape sees which firmware each unit
// runs and whether its factory configuration read sound.
constexpr Family kIdentityFamilies[] = {
    {"brisk_watchman_firmware_build", "gauge", "The Watchman's firmware build number.",
     [](const MetricsSnapshot& s) {
         return Count(s.firmwareBuild, s.identityRead && s.haveFirmware);
     }},
    {"brisk_watchman_config_read", "gauge",
     "1 when the Watchman's factory configuration was read whole.",
     [](const MetricsSnapshot& s) { return Flag(s.configRead, s.identityRead); }},
    {"brisk_watchman_identity_problems", "gauge",
     "Problems the identity checks found (each a reason of the verdict).",
     [](const MetricsSnapshot& s) { return Count(s.identityProblems, s.identityRead); }},
};

void AppendValue(std::string& out, const Value& v) {
    char digits[32];
    const auto r = v.integer ? std::to_chars(std::begin(digits), std::end(digits), v.count)
                             : std::to_chars(std::begin(digits), std::end(digits), v.real);
    out.append(digits, r.ptr);
}

void AppendHeader(std::string& out, const char* name, const char* type, const char* help) {
    out.append("# HELP ").append(name).append(" ").append(help).append("\n");
    out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

void AppendLabel(std::string& out, const char* name, std::string_view value, bool first) {
    out.append(first ? "{" : ",").append(name).append("=\"");
    out.append(EscapeLabelValue(value)).append("\"");
}

// One series with labels beyond `station`: {"device", "imu"}, ...
struct Label {
    const char* name;
    std::string_view value;
};
void AppendSeries(std::string& out, const char* name, const MetricsSnapshot& s,
                  std::initializer_list<Label> labels, const Value& v) {
    out.append(name);
    AppendLabel(out, "station", s.station, true);
    for (const Label& l : labels) {
        AppendLabel(out, l.name, l.value, false);
    }
    out.append("} ");
    AppendValue(out, v);
    out += '\n';
}

// The families whose series differ by a label: the devices lost, the
// photodiodes by state, and the end's verdict and reasons (once the run has ended, as the other end
// figures).
void AppendLabelledFamilies(std::string& out, const MetricsSnapshot& s) {
    if (s.imu.watched || s.mcu.watched) {
        AppendHeader(out, "brisk_device_lost_total", "counter",
                     "Times a device the run watches was lost.");
        if (s.imu.watched) {
            AppendSeries(out, "brisk_device_lost_total", s, {{"device", "imu"}},
                         Count(s.imu.losses));
        }
        if (s.mcu.watched) {
            AppendSeries(out, "brisk_device_lost_total", s, {{"device", "mcu"}},
                         Count(s.mcu.losses));
        }
    }
    if (s.havePhotodiodes) {
        AppendHeader(out, "brisk_photodiodes", "gauge",
                     "Photodiodes in each state, as the light was last judged (--optical).");
        for (size_t i = 0; i < kPhotodiodeStates; ++i) {
            AppendSeries(out, "brisk_photodiodes", s, {{"state", kPhotodiodeStateNames[i]}},
                         Count(s.photodiodes[i]));
        }
    }
    if (!s.runEnded) {
        return;
    }
    if (!s.verdict.empty()) {
        AppendHeader(out, "brisk_run_verdict", "gauge",
                     "Always 1 once the run has ended; the label is its verdict.");
        AppendSeries(out, "brisk_run_verdict", s, {{"verdict", s.verdict}}, Count(1));
    }
    if (!s.reasons.empty()) {
        AppendHeader(out, "brisk_run_reason", "gauge",
                     "Each reason the run's end raised: 1 if the verdict weighed it, 0 if not.");
        for (const MetricsSnapshot::RaisedReason& r : s.reasons) {
            AppendSeries(out, "brisk_run_reason", s, {{"code", r.code}}, Flag(r.counted));
        }
    }
}

}  // namespace

std::string EscapeLabelValue(std::string_view value) {
    const std::string text = Utf8FromWide(WideFromUtf8OrLatin1(value));
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string RenderPrometheus(const MetricsSnapshot& s) {
    std::string station;
    AppendLabel(station, "station", s.station, true);
    station += "} ";

    std::string out;
    out.reserve(4096);
    // A family with nothing to show is left out whole: a reader of the page
    // sees no listed figure without a value.
    auto append = [&](const Family& f) {
        const Value v = f.value(s);
        if (v.shown) {
            AppendHeader(out, f.name, f.type, f.help);
            out.append(f.name).append(station);
            AppendValue(out, v);
            out += '\n';
        }
    };
    for (const Family& f : kFamilies) {
        append(f);
    }
    for (const Family& f : kIdentityFamilies) {
        if (s.identityAsked) {
            append(f);
        }
    }
    AppendLabelledFamilies(out, s);
    AppendHeader(out, "brisk_info", "gauge",
                 "Always 1; the labels say what runs: version, display kind, mode, IMU serial.");
    out.append("brisk_info");
    AppendLabel(out, "station", s.station, true);
    AppendLabel(out, "version", s.version, false);
    AppendLabel(out, "display", s.display, false);
    AppendLabel(out, "mode", s.mode, false);
    AppendLabel(out, "imu_serial", s.imuSerial, false);
    out.append("} 1\n");
    return out;
}

}  // namespace brisk::metrics
