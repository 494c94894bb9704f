#include "imu/imu_health.h"

#include <algorithm>
#include <cmath>

namespace brisk {
namespace {

constexpr int64_t kSilenceBreaksNs = 1'000'000'000;
constexpr double kSecondsPerNs = 1e-9;
constexpr uint32_t kJumpBreaksTicks = static_cast<uint32_t>(kImuNominalTicksPerSecond);
constexpr uint64_t kStuckTicks =
    static_cast<uint64_t>(kStuckAfterSeconds * kImuNominalTicksPerSecond);
// The period is re-read from the intervals' median this often.
constexpr uint64_t kPeriodRefresh = 1024;

bool AtLimit(int16_t v) {
    return v == INT16_MAX || v == INT16_MIN;
}

AxisFigures AxisResult(int64_t sum, uint64_t sumSquares, uint64_t n) {
    AxisFigures a;
    if (n == 0) {
        return a;
    }
    const double count = static_cast<double>(n);
    a.mean = static_cast<double>(sum) / count;
    const double variance = static_cast<double>(sumSquares) / count - a.mean * a.mean;
    a.sd = variance > 0.0 ? std::sqrt(variance) : 0.0;
    return a;
}

}  // namespace

ImuHealth::ImuHealth(double countsPerG) : countsPerG(countsPerG) {}

void ImuHealth::SetScale(const identity::ImuScale& s) {
    if (samples > 0) {
        return;  // a mean of counts and g alike would be neither
    }
    scale = s;
    scaled = true;
    countsPerG = 1.0 / s.gPerCount;
}

void ImuHealth::Reconnect() {
    BreakSegment();
    haveReport = false;  // no delivery interval across the gap
}

void ImuHealth::BreakSegment() {
    if (fit.points >= 2) {
        pooledCxy += fit.Cxy();
        pooledCxx += fit.Cxx();
        pooledSpan += static_cast<double>(lastHostNs - segmentHostNs) / 1e9;
    }
    fit = ClockFit{};
    inSegment = false;
}

void ImuHealth::AddReport(int64_t hostNs, const ImuSample* accepted, size_t count) {
    if (haveReport) {
        const int64_t gap = hostNs - lastHostNs;
        delivery.Add(gap <= 0                     ? 0u
                     : gap >= INT64_C(0xFFFFFFFF) ? 0xFFFFFFFFu
                                                  : static_cast<uint32_t>(gap));
        if (gap > kSilenceBreaksNs) {
            BreakSegment();
        }
    } else if (reports == 0) {
        firstHostNs = hostNs;
    }
    haveReport = true;
    lastHostNs = hostNs;
    ++reports;
    if (count == 0) {
        ++reportsWithNone;
        return;
    }
    if (count >= 2) {
        ++reportsWithSeveral;
    }
    for (size_t i = 0; i < count; ++i) {
        AddSample(accepted[i], hostNs);
    }
    AddClockPoint(static_cast<double>(hostNs - segmentHostNs) * kSecondsPerNs);
}

double ImuHealth::StreamSeconds(int64_t hostNs) const {
    return static_cast<double>(hostNs - firstHostNs) * kSecondsPerNs;
}

void ImuHealth::AddSample(const ImuSample& s, int64_t hostNs) {
    ++samples;
    const uint32_t dt = s.timestamp - lastStamp;
    if (inSegment && (dt >= 0x80000000u || dt > kJumpBreaksTicks)) {
        BreakSegment();
    }
    if (!inSegment) {
        inSegment = true;
        segmentHostNs = lastHostNs;
        segmentTicks = deviceTicks;
        for (int axis = 0; axis < 3; ++axis) {
            accel[axis].unchangedSince = deviceTicks;
            gyro[axis].unchangedSince = deviceTicks;
        }
    } else {
        deviceTicks += dt;
        AddInterval(dt);
        const uint8_t step = static_cast<uint8_t>(s.seq - lastSeq);
        missingBySeq += step > 1 ? step - 1u : 0u;
    }
    lastStamp = s.timestamp;
    lastSeq = s.seq;

    int64_t squares = 0;
    for (int axis = 0; axis < 3; ++axis) {
        AddAxis(accel[axis], s.accel[axis], hostNs);
        AddAxis(gyro[axis], s.gyro[axis], hostNs);
        allan[axis].Add(s.gyro[axis]);
        squares += int64_t{s.accel[axis]} * s.accel[axis];
    }
    if (scaled) {
        const identity::Vec3 g = identity::AccelG(scale, s.accel);
        magnitudeSum += std::sqrt(g[0] * g[0] + g[1] * g[1] + g[2] * g[2]);
        return;
    }
    // Single precision is plenty for one sample's length (7 digits of
    // counts up to 56,755) and its square root is the quicker one.
    magnitudeSum += std::sqrt(static_cast<float>(squares));
}

inline void ImuHealth::AddAxis(AxisState& axis, int16_t value, int64_t hostNs) {
    axis.sum += value;
    axis.sumSquares += static_cast<uint64_t>(static_cast<int64_t>(value) * value);
    axis.min = value < axis.min ? value : axis.min;
    axis.max = value > axis.max ? value : axis.max;
    if (AtLimit(value)) {
        if (axis.saturated++ == 0) {
            axis.saturatedAt = StreamSeconds(hostNs);
        }
    }
    // An axis held at a limit is saturated, not stuck: it is flagged as such.
    if (value != axis.last) {
        axis.last = value;
        axis.unchangedSince = deviceTicks;
    } else if (axis.stuckAt < 0.0 && !AtLimit(value) &&
               deviceTicks - axis.unchangedSince >= kStuckTicks) {
        axis.stuckAt = StreamSeconds(hostNs);
    }
}

uint64_t ImuHealth::MissingIn(uint32_t dt, uint64_t period) {
    const uint64_t periods = (dt + period / 2) / period;
    return periods > 1 ? periods - 1 : 0;
}

void ImuHealth::AddInterval(uint32_t dt) {
    intervals.Add(dt);
    intervalTicks += dt;
    // The stream's period is its median interval: the first intervals wait
    // until there are enough of them to say what the period is.
    const uint64_t n = intervals.Count();
    if (n <= kEarlyIntervals) {
        early[n - 1] = dt;
        if (n == kEarlyIntervals) {
            RefreshPeriod();
            for (uint32_t e : early) {
                missingByTime += MissingIn(e, periodTicks);
            }
        }
        return;
    }
    missingByTime += MissingIn(dt, periodTicks);
    if (n % kPeriodRefresh == 0) {
        RefreshPeriod();
    }
}

void ImuHealth::AddClockPoint(double hostSeconds) {
    const double y = static_cast<double>(deviceTicks - segmentTicks);
    ++fit.points;
    fit.sx += hostSeconds;
    fit.sy += y;
    fit.sxx += hostSeconds * hostSeconds;
    fit.sxy += hostSeconds * y;
}

void ImuHealth::RefreshPeriod() {
    const double median = intervals.Quantile(0.5);
    if (median >= 1.0) {
        periodTicks = static_cast<uint64_t>(median + 0.5);
    }
}

ImuHealthFigures ImuHealth::Figures() const {
    ImuHealthFigures f;
    f.samples = samples;
    f.reports = reports;
    f.countsPerG = countsPerG;
    f.streamSeconds = reports > 0 ? static_cast<double>(lastHostNs - firstHostNs) / 1e9 : 0.0;

    double cxy = pooledCxy, cxx = pooledCxx, span = pooledSpan;
    if (fit.points >= 2) {
        cxy += fit.Cxy();
        cxx += fit.Cxx();
        span += static_cast<double>(lastHostNs - segmentHostNs) / 1e9;
    }
    if (span >= kClockFitMinSeconds && cxx > 0.0) {
        f.haveClock = true;
        f.ticksPerSecond = cxy / cxx;
        f.clockPpm = (f.ticksPerSecond / kImuNominalTicksPerSecond - 1.0) * 1e6;
    }

    f.missingByTime = missingByTime;
    if (intervals.Count() < kEarlyIntervals && intervals.Count() > 0) {
        std::array<uint32_t, kEarlyIntervals> sorted = early;
        const size_t n = static_cast<size_t>(intervals.Count());
        std::nth_element(sorted.begin(), sorted.begin() + n / 2, sorted.begin() + n);
        const uint64_t period = sorted[n / 2] > 0 ? sorted[n / 2] : 1;
        for (size_t i = 0; i < n; ++i) {
            f.missingByTime += MissingIn(early[i], period);
        }
    }
    const double tick = 1.0 / kImuNominalTicksPerSecond;
    const uint64_t periods = intervals.Count() + f.missingByTime;
    if (periods > 0) {
        f.ticksPerSample = static_cast<double>(intervalTicks) / static_cast<double>(periods);
    }
    f.intervalP50 = intervals.Quantile(0.5) * tick;
    f.intervalP99 = intervals.Quantile(0.99) * tick;
    f.intervalMax = intervals.Max() * tick;
    f.missingBySeq = missingBySeq;

    f.deliveryP50 = delivery.Quantile(0.5) / 1e9;
    f.deliveryP99 = delivery.Quantile(0.99) / 1e9;
    f.deliveryMax = delivery.Max() / 1e9;
    f.reportsWithSeveral = reportsWithSeveral;
    f.reportsWithNone = reportsWithNone;

    auto axisFigures = [&](const AxisState& s) {
        AxisFigures a = AxisResult(s.sum, s.sumSquares, samples);
        if (samples > 0) {
            a.min = s.min;
            a.max = s.max;
        }
        a.saturated = s.saturated;
        a.saturatedAtSeconds = s.saturatedAt;
        a.stuckAtSeconds = s.stuckAt;
        return a;
    };
    for (int axis = 0; axis < 3; ++axis) {
        f.accel[axis] = axisFigures(accel[axis]);
        f.gyro[axis] = axisFigures(gyro[axis]);
        if (f.accel[axis].stuckAtSeconds >= 0 || f.gyro[axis].stuckAtSeconds >= 0) {
            f.flags |= kFlagStuck;
        }
        if (f.accel[axis].saturated > 0 || f.gyro[axis].saturated > 0) {
            f.flags |= kFlagSaturated;
        }
    }
    const double meanMagnitude = samples > 0 ? magnitudeSum / static_cast<double>(samples) : 0.0;
    f.accelMagnitudeG = scaled ? meanMagnitude : meanMagnitude / countsPerG;
    f.calibrated = scaled;
    for (int axis = 0; axis < 3 && scaled; ++axis) {
        f.gyroDpsPerCount[axis] = scale.dpsPerCount * scale.gyroScale[axis];
    }

    const double period = f.ticksPerSample * tick;
    const double runSeconds = static_cast<double>(samples) * period;
    for (int axis = 0; axis < 3; ++axis) {
        f.allan[axis] = ReadAllanCurve(allan[axis], period, runSeconds / 10.0);
        double sigma = 0.0;
        f.angleRandomWalk[axis] = AllanAt(f.allan[axis], 1.0, sigma) ? sigma : -1.0;
        AllanMinimum(f.allan[axis], f.biasInstability[axis]);
    }

    if (f.haveClock && std::fabs(f.clockPpm) > kClockTolerancePpm) {
        f.flags |= kFlagClock;
    }
    if (intervals.Count() > 0 && f.intervalP99 > kIntervalP99LimitPeriods * f.intervalP50) {
        f.flags |= kFlagIntervalP99;
    }
    return f;
}

}  // namespace brisk
