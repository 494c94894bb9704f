#include "run/status_line.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace brisk {

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
    char imu[128];
    if (f.calibrated) {
        const double g = std::sqrt(f.accelG[0] * f.accelG[0] + f.accelG[1] * f.accelG[1] +
                                   f.accelG[2] * f.accelG[2]);
        std::snprintf(imu, sizeof imu, "|a|=%.3fg gyro=(%.1f,%.1f,%.1f)dps", g, f.gyroDps[0],
                      f.gyroDps[1], f.gyroDps[2]);
    } else {
        std::snprintf(imu, sizeof imu, "|a|=%.0f gyro=(%d,%d,%d)", AccelMagnitude(f.accel),
                      static_cast<int>(f.gyro[0]), static_cast<int>(f.gyro[1]),
                      static_cast<int>(f.gyro[2]));
    }
    // Only with --optical: without it the line stays as it always was.
    char light[96] = "";
    if (f.haveLight) {
        std::snprintf(light, sizeof light, " light=%llu/s lit=%u/%u stations=%u",
                      static_cast<unsigned long long>(f.lightPulsesThisCycle), f.photodiodesLit,
                      f.photodiodes, f.stationsSeen);
    }
    char line[400];
    int n = 0;
    if (!f.calibrated && !f.haveLight) {
        // The line as it has always been printed, in its own words.
        n = std::snprintf(
            line, sizeof line,
            "  fps=%5.1f imu=%4lluHz age=%.2fs gaps=%llu stalls=%llu |a|=%.0f gyro=(%d,%d,%d) %s%s\n",
            frames, static_cast<unsigned long long>(f.samplesThisCycle), f.age,
            static_cast<unsigned long long>(f.seqGaps), static_cast<unsigned long long>(f.stalls),
            AccelMagnitude(f.accel), static_cast<int>(f.gyro[0]), static_cast<int>(f.gyro[1]),
            static_cast<int>(f.gyro[2]), prox.c_str(), freeRunTag);
    } else {
        n = std::snprintf(line, sizeof line,
                          "  fps=%5.1f imu=%4lluHz age=%.2fs gaps=%llu stalls=%llu %s %s%s%s\n",
                          frames, static_cast<unsigned long long>(f.samplesThisCycle), f.age,
                          static_cast<unsigned long long>(f.seqGaps),
                          static_cast<unsigned long long>(f.stalls), imu, prox.c_str(), light,
                          freeRunTag);
    }
    // Without a display the frame rate reads n/a in the same five places, so
    // scripts that read the columns by position still find the later ones.
    constexpr size_t kFpsAt = 6;  // after "  fps="
    if (!f.haveDisplay && n > static_cast<int>(kFpsAt + 5)) {
        std::memcpy(line + kFpsAt, "  n/a", 5);
    }
    return line;
}

std::string FormatVerdictLine(const RunTotals& t, const std::vector<Reason>& raised) {
    const bool passed = !AnyCounted(raised);
    if (!t.displayTested) {
        return passed ? "VERDICT: PASS (sensors only — no display tested)\n"
                      : "VERDICT: FAIL (sensors only)\n";
    }
    if (t.displayLost) {
        return "VERDICT: DISPLAY LOST (cable pulled?) — exited cleanly; restart after reconnect\n";
    }
    return passed ? "VERDICT: PASS (eyeball check still required)\n" : "VERDICT: FAIL\n";
}

std::string FormatVerdictLine(const RunTotals& t, const FailOn& failOn) {
    return FormatVerdictLine(t, RaisedReasons(t, failOn));
}

std::string VerdictName(const RunTotals& t, const std::vector<Reason>& raised) {
    const bool passed = !AnyCounted(raised);
    if (!t.displayTested) {
        return passed ? "PASS (sensors only)" : "FAIL (sensors only)";
    }
    if (t.displayLost) {
        return "DISPLAY LOST";
    }
    return passed ? "PASS" : "FAIL";
}

std::string VerdictName(const RunTotals& t, const FailOn& failOn) {
    return VerdictName(t, RaisedReasons(t, failOn));
}

std::string FailReasons(const RunTotals& t, const FailOn& failOn) {
    return JoinedTexts(RaisedReasons(t, failOn), true);
}

std::string FormatDonDoffLine(bool worn, uint16_t distance) {
    char line[64];
    std::snprintf(line, sizeof line, "prox: headset %s (distance %u)\n", worn ? "DONNED" : "DOFFED",
                  static_cast<unsigned>(distance));
    return line;
}

}  // namespace brisk
