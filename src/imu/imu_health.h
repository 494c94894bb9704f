// IMU health: what a bring-up engineer checks first on a new IMU, computed
// from the accepted samples as they stream in. The reader thread feeds each
// report's accepted samples under the lock it already holds; the work per
// sample is constant and the memory fixed (about 31 KB). Figures() turns
// the state into numbers and flags for the console, the log and the report.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "identity/imu_units.h"
#include "imu/allan_deviation.h"
#include "imu/imu_report.h"
#include "imu/interval_histogram.h"

namespace brisk {

constexpr double kImuNominalTicksPerSecond = 48e6;  // the Watchman's time stamp clock
constexpr uint32_t kImuNominalTicksPerSample = 48000;
constexpr double kImuDefaultCountsPerG = 8192.0;

// Flag limits. A full-speed USB device's clock may be off by 2500 ppm.
constexpr double kClockTolerancePpm = 2500.0;
constexpr double kIntervalP99LimitPeriods = 1.5;
constexpr double kStuckAfterSeconds = 1.0;
// The clock figure needs this much host time: shorter fits are too noisy.
constexpr double kClockFitMinSeconds = 5.0;

struct AxisFigures {
    double mean = 0.0;
    double sd = 0.0;
    int16_t min = 0;
    int16_t max = 0;
    uint64_t saturated = 0;          // samples at -32768 or +32767
    double saturatedAtSeconds = -1;  // stream time of the first; -1 when none
    double stuckAtSeconds = -1;      // stream time it was first seen stuck; -1 when never
};

enum ImuHealthFlag : unsigned {
    kFlagStuck = 1u << 0,
    kFlagSaturated = 1u << 1,
    kFlagClock = 1u << 2,
    kFlagIntervalP99 = 1u << 3,
};

struct ImuHealthFigures {
    uint64_t samples = 0;
    uint64_t reports = 0;
    double streamSeconds = 0.0;  // host time from the first report to the last

    bool haveClock = false;       // false until kClockFitMinSeconds of fit
    double ticksPerSecond = 0.0;  // device ticks per host second
    double clockPpm = 0.0;        // against the nominal 48 MHz

    // Intervals between consecutive samples in device time, seconds at the
    // nominal clock.
    double ticksPerSample = 0.0;  // 0 before two samples
    double intervalP50 = 0.0, intervalP99 = 0.0, intervalMax = 0.0;
    uint64_t missingByTime = 0;
    uint64_t missingBySeq = 0;

    // Report to report on the host, seconds.
    double deliveryP50 = 0.0, deliveryP99 = 0.0, deliveryMax = 0.0;
    uint64_t reportsWithSeveral = 0;  // two or more new samples
    uint64_t reportsWithNone = 0;

    AxisFigures accel[3];
    AxisFigures gyro[3];
    double countsPerG = kImuDefaultCountsPerG;
    double accelMagnitudeG = 0.0;  // mean |a|
    // With the device's range and calibration (--identity): |a| above is of
    // the calibrated vectors, and the health line gives the gyro figures in
    // degrees per second (the log keeps them in counts).
    bool calibrated = false;
    double gyroDpsPerCount[3] = {};  // the range's scale times the axis's factor

    AllanCurve allan[3];             // per gyro axis, up to a tenth of the stream
    double angleRandomWalk[3] = {};  // sigma at 1 s, counts; < 0 when the curve is short
    AllanPoint biasInstability[3];   // the curve's minimum; tau 0 when none

    unsigned flags = 0;  // ImuHealthFlag bits
};

class ImuHealth {
  public:
    explicit ImuHealth(double countsPerG = kImuDefaultCountsPerG);

    // One IMU report that arrived at `hostNs` (any steady clock), with the
    // samples it brought that the acceptance rule took, oldest first.
    void AddReport(int64_t hostNs, const ImuSample* accepted, size_t count);
    // The device was lost and opened again: its clock and numbers restart.
    void Reconnect();
    // Counts to g and degrees per second from here on (--identity). Taken
    // before the first sample, so that every |a| is of one kind.
    void SetScale(const identity::ImuScale& scale);

    ImuHealthFigures Figures() const;

  private:
    struct AxisState {
        int64_t sum = 0;
        uint64_t sumSquares = 0;
        int16_t min = INT16_MAX, max = INT16_MIN;
        int16_t last = 0;
        uint64_t unchangedSince = 0;  // device tick of the last change
        uint64_t saturated = 0;
        double saturatedAt = -1.0;
        double stuckAt = -1.0;
    };
    // A stretch of stream whose device time stamps can be unwrapped: it ends
    // at a reconnect, a silence of over a second, or a jump in the stamps.
    // Plain sums, no division per point: x (host seconds) and y (device
    // ticks) count from the segment's start, so they stay small enough for
    // the co-moments to keep fifteen digits over a day.
    struct ClockFit {
        uint64_t points = 0;
        double sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
        double Cxy() const { return sxy - sx * sy / static_cast<double>(points); }
        double Cxx() const { return sxx - sx * sx / static_cast<double>(points); }
    };

    void BreakSegment();
    void AddSample(const ImuSample& s, int64_t hostNs);
    void AddAxis(AxisState& axis, int16_t value, int64_t hostNs);
    double StreamSeconds(int64_t hostNs) const;  // since the first report
    void AddClockPoint(double hostSeconds);
    void AddInterval(uint32_t dt);
    void RefreshPeriod();
    static uint64_t MissingIn(uint32_t dt, uint64_t period);
    static constexpr size_t kEarlyIntervals = 256;

    double countsPerG;
    bool scaled = false;  // `scale` applies to every sample
    identity::ImuScale scale;
    int64_t firstHostNs = 0;
    int64_t lastHostNs = 0;
    bool haveReport = false;
    uint64_t reports = 0, samples = 0;
    uint64_t reportsWithSeveral = 0, reportsWithNone = 0;
    IntervalHistogram delivery;  // ns, saturating at 4.29 s

    // The current segment.
    bool inSegment = false;
    uint32_t lastStamp = 0;
    uint8_t lastSeq = 0;
    uint64_t deviceTicks = 0;  // unwrapped, over all segments
    int64_t segmentHostNs = 0;
    uint64_t segmentTicks = 0;
    ClockFit fit;
    double pooledCxy = 0.0, pooledCxx = 0.0, pooledSpan = 0.0;

    IntervalHistogram intervals;  // device ticks
    uint64_t intervalTicks = 0;
    uint64_t periodTicks = kImuNominalTicksPerSample;  // the stream's own, from the median
    std::array<uint32_t, kEarlyIntervals>
        early{};  // the first intervals, until the median is known
    uint64_t missingByTime = 0, missingBySeq = 0;

    AxisState accel[3], gyro[3];
    double magnitudeSum = 0.0;
    AllanAccumulator allan[3];
};

// "gyro y stuck; accel z saturated (1234 samples); clock -3100 ppm beyond
// ±2500 ppm; p99 sample interval 2.00 ms over 1.5 periods": the raised flags,
// empty when none.
std::string HealthFlagText(const ImuHealthFigures& f);

// The console line after IMU RESULT, newline included.
std::string FormatHealthLine(const ImuHealthFigures& f);

}  // namespace brisk
