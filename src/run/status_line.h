// The status monitor's lines, formatted apart from the thread that prints
// them so the exact text can be checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace brisk {

struct StatusFields {
    uint64_t framesThisCycle = 0;
    uint64_t samplesThisCycle = 0;
    double age = -1.0;  // seconds since the newest IMU sample; -1 when none
    uint64_t seqGaps = 0;
    uint64_t stalls = 0;
    int16_t accel[3] = {0, 0, 0};
    int16_t gyro[3] = {0, 0, 0};
    bool haveProx = false;
    bool worn = false;
    uint16_t distance = 0;
    bool freeRunning = false;
    bool haveDisplay = true;     // false: a sensors-only run, the frame rate reads n/a
    double maxFrameGapMs = 0.0;  // not on the line; the run log's figure
};

// |a| of the status line: the accelerometer vector's length in raw counts.
double AccelMagnitude(const int16_t accel[3]);

// "prox=n/a", or "prox=worn(1612)" / "prox=away(310)".
std::string ProxField(bool haveProx, bool worn, uint16_t distance);

// The whole status line, newline included.
std::string FormatStatusLine(const StatusFields& f);

// What the verdict rests on.
struct RunTotals {
    bool displayTested = true;  // false: a sensors-only run
    bool displayLost = false;
    uint64_t frames = 0;
    uint64_t presentErrors = 0;
    uint64_t imuSamples = 0;
    std::string imuHealthFlags;  // with --imu-health: the raised flags; empty when none
};

// The VERDICT line, newline included. A sensors-only run passes on IMU
// samples alone and says that no display was tested.
std::string FormatVerdictLine(const RunTotals& t);

// The verdict as the run log names it: "PASS", "FAIL", "DISPLAY LOST",
// "PASS (sensors only)" or "FAIL (sensors only)".
std::string VerdictName(const RunTotals& t);

// Why a run failed: the failed conditions ("no frames", "present errors",
// "no IMU samples", "IMU health: FLAGS") joined by "; ". Empty unless the verdict is a FAIL.
std::string FailReasons(const RunTotals& t);

// "prox: headset DONNED (distance 1612)\n" and its DOFFED twin.
std::string FormatDonDoffLine(bool worn, uint16_t distance);

}  // namespace brisk
