// The health figures in words: the flags for the verdict's reasons and the
// console line after IMU RESULT.
#include <cstdio>
#include <string>

#include "imu/imu_health.h"

namespace brisk {
namespace {

const char* const kAxisNames[3] = {"x", "y", "z"};

void Append(std::string& out, const char* separator, const std::string& item) {
    if (!out.empty()) {
        out += separator;
    }
    out += item;
}

std::string Format(const char* fmt, double a, double b = 0.0, double c = 0.0) {
    char text[128];
    std::snprintf(text, sizeof text, fmt, a, b, c);
    return text;
}

void AxisFlags(std::string& out, const char* sensor, const AxisFigures (&axes)[3]) {
    for (int axis = 0; axis < 3; ++axis) {
        const AxisFigures& a = axes[axis];
        if (a.stuckAtSeconds >= 0) {
            Append(out, "; ", std::string(sensor) + " " + kAxisNames[axis] + " stuck");
        }
        if (a.saturated > 0) {
            char text[96];
            std::snprintf(text, sizeof text, "%s %s saturated (%llu samples)", sensor,
                          kAxisNames[axis], static_cast<unsigned long long>(a.saturated));
            Append(out, "; ", text);
        }
    }
}

}  // namespace

std::string HealthFlagText(const ImuHealthFigures& f) {
    std::string out;
    AxisFlags(out, "accel", f.accel);
    AxisFlags(out, "gyro", f.gyro);
    if ((f.flags & kFlagClock) != 0) {
        Append(out, "; ",
               Format("clock %+.0f ppm beyond ±%.0f ppm", f.clockPpm, kClockTolerancePpm));
    }
    if ((f.flags & kFlagIntervalP99) != 0) {
        Append(out, "; ",
               Format("p99 sample interval %.2f ms over %.1f periods", f.intervalP99 * 1e3,
                      kIntervalP99LimitPeriods));
    }
    return out;
}

std::string FormatHealthLine(const ImuHealthFigures& f) {
    std::string line = "IMU HEALTH: clock ";
    line += f.haveClock ? Format("%+.0f ppm", f.clockPpm) : std::string("n/a");
    line += Format(", interval p50 %.3f ms p99 %.3f ms max %.3f ms", f.intervalP50 * 1e3,
                   f.intervalP99 * 1e3, f.intervalMax * 1e3);
    char missing[96];
    std::snprintf(missing, sizeof missing, ", missing %llu by time %llu by seq",
                  static_cast<unsigned long long>(f.missingByTime),
                  static_cast<unsigned long long>(f.missingBySeq));
    line += missing;
    line += Format(", |a| %.3f g", f.accelMagnitudeG);
    // In counts, or with the device's scale in degrees per second.
    auto unit = [&](int axis) { return f.calibrated ? f.gyroDpsPerCount[axis] : 1.0; };
    const char* const figure = f.calibrated ? "%.4f" : "%.2f";
    line += ", gyro ARW";
    for (int axis = 0; axis < 3; ++axis) {
        line += axis == 0 ? " " : "/";
        line += f.angleRandomWalk[axis] >= 0 ? Format(figure, f.angleRandomWalk[axis] * unit(axis))
                                             : "n/a";
    }
    line += f.calibrated ? " dps, bias instability" : ", bias instability";
    for (int axis = 0; axis < 3; ++axis) {
        line += axis == 0 ? " " : "/";
        line += f.biasInstability[axis].tauSeconds > 0
                    ? Format(figure, f.biasInstability[axis].sigma * unit(axis))
                    : "n/a";
    }
    line += f.calibrated ? " dps" : "";
    const std::string flags = HealthFlagText(f);
    line += flags.empty() ? " — no flags\n" : " — FLAGS: " + flags + "\n";
    return line;
}

}  // namespace brisk
