#include "run/status_line.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace brisk {
namespace {

bool Passed(const RunTotals& t) {
    if (!t.displayTested) {
        return t.imuSamples > 0 && t.imuHealthFlags.empty();
    }
    return !t.displayLost && t.frames > 0 && t.presentErrors == 0 && t.imuSamples > 0 &&
           t.imuHealthFlags.empty();
}

}  // namespace

double AccelMagnitude(const int16_t accel[3]) {
    double x = accel[0], y = accel[1], z = accel[2];
    return std::sqrt(x * x + y * y + z * z);
}

std::string ProxField(bool haveProx, bool worn, uint16_t distance) {
    char proxStr[32] = "prox=n/a";
    if (haveProx) {
        std::snprintf(proxStr, sizeof proxStr, "prox=%s(%u)", worn ? "worn" : "away",
                      static_cast<unsigned>(distance));
    }
    return proxStr;
}

std::string FormatStatusLine(const StatusFields& f) {
    std::string prox = ProxField(f.haveProx, f.worn, f.distance);
    const char* freeRunTag = f.freeRunning ? "  [FREE-RUN: vsync lost, throttled]" : "";
    const double frames = f.haveDisplay ? static_cast<double>(f.framesThisCycle) : 0.0;
    char line[256];
    const int n = std::snprintf(
        line, sizeof line,
        "  fps=%5.1f imu=%4lluHz age=%.2fs gaps=%llu stalls=%llu |a|=%.0f gyro=(%d,%d,%d) %s%s\n",
        frames, static_cast<unsigned long long>(f.samplesThisCycle), f.age,
        static_cast<unsigned long long>(f.seqGaps), static_cast<unsigned long long>(f.stalls),
        AccelMagnitude(f.accel), static_cast<int>(f.gyro[0]), static_cast<int>(f.gyro[1]),
        static_cast<int>(f.gyro[2]), prox.c_str(), freeRunTag);
    // Without a display the frame rate reads n/a in the same five places, so
    // scripts that read the columns by position still find the later ones.
    constexpr size_t kFpsAt = 6;  // after "  fps="
    if (!f.haveDisplay && n > static_cast<int>(kFpsAt + 5)) {
        std::memcpy(line + kFpsAt, "  n/a", 5);
    }
    return line;
}

std::string FormatVerdictLine(const RunTotals& t) {
    if (!t.displayTested) {
        return Passed(t) ? "VERDICT: PASS (sensors only — no display tested)\n"
                         : "VERDICT: FAIL (sensors only)\n";
    }
    if (t.displayLost) {
        return "VERDICT: DISPLAY LOST (cable pulled?) — exited cleanly; restart after reconnect\n";
    }
    char line[64];
    std::snprintf(line, sizeof line, "VERDICT: %s\n",
                  Passed(t) ? "PASS (eyeball check still required)" : "FAIL");
    return line;
}

std::string VerdictName(const RunTotals& t) {
    if (!t.displayTested) {
        return Passed(t) ? "PASS (sensors only)" : "FAIL (sensors only)";
    }
    if (t.displayLost) {
        return "DISPLAY LOST";
    }
    return Passed(t) ? "PASS" : "FAIL";
}

std::string FailReasons(const RunTotals& t) {
    if (Passed(t) || (t.displayTested && t.displayLost)) {
        return "";
    }
    std::string reasons;
    auto add = [&reasons](bool failed, const char* reason) {
        if (failed) {
            reasons += reasons.empty() ? reason : std::string("; ") + reason;
        }
    };
    add(t.displayTested && t.frames == 0, "no frames");
    add(t.displayTested && t.presentErrors > 0, "present errors");
    add(t.imuSamples == 0, "no IMU samples");
    if (!t.imuHealthFlags.empty()) {
        add(true, ("IMU health: " + t.imuHealthFlags).c_str());
    }
    return reasons;
}

std::string FormatDonDoffLine(bool worn, uint16_t distance) {
    char line[64];
    std::snprintf(line, sizeof line, "prox: headset %s (distance %u)\n", worn ? "DONNED" : "DOFFED",
                  static_cast<unsigned>(distance));
    return line;
}

}  // namespace brisk
