// The IMU health figures of a run log's summary row, read back. Logs written
// before the figures existed have none: `present` stays false.
#pragma once

#include <cmath>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "log/log_columns.h"

namespace brisk::report {

struct LoggedAxis {
    bool present = false;
    double mean = NAN, sd = NAN, min = NAN, max = NAN, saturated = NAN;
    double saturatedAt = -1.0, stuckAt = -1.0;  // seconds of stream; -1 when never
};

struct LoggedHealth {
    bool present = false;
    double clockPpm = NAN, ticksPerSecond = NAN, ticksPerSample = NAN;
    double intervalP50Ms = NAN, intervalP99Ms = NAN, intervalMaxMs = NAN;
    double missingByTime = NAN, missingBySeq = NAN;
    double deliveryP50Ms = NAN, deliveryP99Ms = NAN, deliveryMaxMs = NAN;
    double reportsWithSeveral = NAN, reportsWithNone = NAN;
    double countsPerG = NAN, accelMagnitudeG = NAN;
    LoggedAxis axes[6];                               // accel x y z, gyro x y z
    std::vector<std::pair<double, double>> allan[3];  // (tau s, sigma) per gyro axis
    std::string angleRandomWalk, biasInstability, flags;
};

// `cell` gives the summary row's text of a column (empty when absent).
LoggedHealth ReadLoggedHealth(const std::function<std::string_view(LogColumn)>& cell);

// "TAU:SIGMA ..." into points; stops at the first malformed or non-positive one.
std::vector<std::pair<double, double>> ParseAllanCell(std::string_view cell);

// "MEAN SD MIN MAX SATURATED SAT_AT STUCK_AT"; `present` false when malformed.
LoggedAxis ParseAxisCell(std::string_view cell);

}  // namespace brisk::report
