// The status monitor's lines, formatted apart from the thread that prints
// them so the exact text can be checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "run/reasons.h"

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
    // With --identity and the device's scale: |a| in g and the rates in
    // degrees per second, from these rather than the counts.
    bool calibrated = false;
    double accelG[3] = {0, 0, 0};
    double gyroDps[3] = {0, 0, 0};
    // With --optical: the light's pulses this cycle, the photodiodes lit of
    // the configuration's and the base stations seen so far.
    bool haveLight = false;
    uint64_t lightPulsesThisCycle = 0;
    uint32_t photodiodesLit = 0, photodiodes = 0, stationsSeen = 0;
};

// |a| of the status line: the accelerometer vector's length in raw counts.
double AccelMagnitude(const int16_t accel[3]);

// "prox=n/a", or "prox=worn(1612)" / "prox=away(310)".
std::string ProxField(bool haveProx, bool worn, uint16_t distance);

// The whole status line, newline included.
std::string FormatStatusLine(const StatusFields& f);

// The VERDICT line, newline included: PASS when no raised reason counts. A
// sensors-only run says that no display was tested; a lost display wins over
// everything else.
std::string FormatVerdictLine(const RunTotals& t, const std::vector<Reason>& raised);
std::string FormatVerdictLine(const RunTotals& t, const FailOn& failOn = {});

// The verdict as the run log names it: "PASS", "FAIL", "DISPLAY LOST",
// "PASS (sensors only)" or "FAIL (sensors only)".
std::string VerdictName(const RunTotals& t, const std::vector<Reason>& raised);
std::string VerdictName(const RunTotals& t, const FailOn& failOn = {});

// The counted reasons' texts joined by "; ": empty when the run passed.
std::string FailReasons(const RunTotals& t, const FailOn& failOn = {});

// "prox: headset DONNED (distance 1612)\n" and its DOFFED twin.
std::string FormatDonDoffLine(bool worn, uint16_t distance);

}  // namespace brisk
