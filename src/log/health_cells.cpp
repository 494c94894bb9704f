#include "log/health_cells.h"

#include <cstdio>

namespace brisk {
namespace {

std::string Number(const char* fmt, double v) {
    char text[64];
    std::snprintf(text, sizeof text, fmt, v);
    return text;
}

std::string Ms(double seconds) {
    return Number("%.4f", seconds * 1e3);
}

std::string Count(uint64_t v) {
    return std::to_string(v);
}

std::string TimeOrDash(double seconds) {
    return seconds < 0 ? std::string("-") : Number("%.3f", seconds);
}

}  // namespace

std::string AxisCell(const AxisFigures& a) {
    char text[160];
    std::snprintf(text, sizeof text, "%.3f %.3f %d %d %llu ", a.mean, a.sd, a.min, a.max,
                  static_cast<unsigned long long>(a.saturated));
    return text + TimeOrDash(a.saturatedAtSeconds) + " " + TimeOrDash(a.stuckAtSeconds);
}

std::string AllanCell(const AllanCurve& curve) {
    std::string cell;
    for (size_t i = 0; i < curve.size; ++i) {
        char point[64];
        std::snprintf(point, sizeof point, "%s%.6g:%.6g", i == 0 ? "" : " ",
                      curve.points[i].tauSeconds, curve.points[i].sigma);
        cell += point;
    }
    return cell;
}

void AddHealthCells(LogCells& cells, const ImuHealthFigures& f) {
    if (f.haveClock) {
        cells[kColImuClockPpm] = Number("%.1f", f.clockPpm);
        cells[kColImuTicksPerS] = Number("%.0f", f.ticksPerSecond);
    }
    if (f.ticksPerSample > 0) {
        cells[kColImuTicksPerSample] = Number("%.2f", f.ticksPerSample);
        cells[kColImuIntervalP50] = Ms(f.intervalP50);
        cells[kColImuIntervalP99] = Ms(f.intervalP99);
        cells[kColImuIntervalMax] = Ms(f.intervalMax);
    }
    cells[kColImuMissingByTime] = Count(f.missingByTime);
    cells[kColImuMissingBySeq] = Count(f.missingBySeq);
    if (f.reports > 1) {
        cells[kColImuDeliveryP50] = Ms(f.deliveryP50);
        cells[kColImuDeliveryP99] = Ms(f.deliveryP99);
        cells[kColImuDeliveryMax] = Ms(f.deliveryMax);
    }
    cells[kColImuReportsSeveral] = Count(f.reportsWithSeveral);
    cells[kColImuReportsNone] = Count(f.reportsWithNone);
    cells[kColImuCountsPerG] = Number("%g", f.countsPerG);
    if (f.samples == 0) {
        return;
    }
    cells[kColImuAccelMagG] = Number("%.4f", f.accelMagnitudeG);
    for (int axis = 0; axis < 3; ++axis) {
        cells[kColImuAx + axis] = AxisCell(f.accel[axis]);
        cells[kColImuGx + axis] = AxisCell(f.gyro[axis]);
        cells[kColImuAllanGx + axis] = AllanCell(f.allan[axis]);
    }
    std::string arw, bias;
    for (int axis = 0; axis < 3; ++axis) {
        if (axis > 0) {
            arw += ' ';
            bias += ' ';
        }
        const double walk = f.angleRandomWalk[axis];
        arw += walk < 0 ? std::string("-") : Number("%.4g", walk);
        const AllanPoint& b = f.biasInstability[axis];
        if (b.tauSeconds <= 0) {
            bias += '-';
        } else {
            bias += Number("%.4g", b.sigma);
            bias += Number("@%.4g", b.tauSeconds);
        }
    }
    cells[kColImuArw] = arw;
    cells[kColImuBiasInstability] = bias;
    cells[kColImuHealthFlags] = HealthFlagText(f);
}

}  // namespace brisk
