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
};

// |a| of the status line: the accelerometer vector's length in raw counts.
double AccelMagnitude(const int16_t accel[3]);

// "prox=n/a", or "prox=worn(1612)" / "prox=away(310)".
std::string ProxField(bool haveProx, bool worn, uint16_t distance);

// The whole status line, newline included.
std::string FormatStatusLine(const StatusFields& f);

// "prox: headset DONNED (distance 1612)\n" and its DOFFED twin.
std::string FormatDonDoffLine(bool worn, uint16_t distance);

}  // namespace brisk
