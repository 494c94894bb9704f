#include "report/logged_health.h"

#include <cstdlib>

namespace brisk::report {
namespace {

// The next space-separated word of `text`, consumed.
std::string_view NextWord(std::string_view& text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    const size_t end = text.find(' ');
    const std::string_view word = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end);
    return word;
}

// A whole word as a finite number; NaN otherwise.
double Number(std::string_view word) {
    if (word.empty() || word.size() > 63) {
        return NAN;
    }
    const std::string text(word);
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(v) ? v : NAN;
}

// A time that may be "-" (never).
bool TimeOrNever(std::string_view word, double& out) {
    if (word == "-") {
        out = -1.0;
        return true;
    }
    out = Number(word);
    return !std::isnan(out) && out >= 0.0;
}

}  // namespace

std::vector<std::pair<double, double>> ParseAllanCell(std::string_view cell) {
    std::vector<std::pair<double, double>> points;
    for (std::string_view word = NextWord(cell); !word.empty() && points.size() < 64;
         word = NextWord(cell)) {
        const size_t colon = word.find(':');
        if (colon == std::string_view::npos) {
            break;
        }
        const double tau = Number(word.substr(0, colon));
        const double sigma = Number(word.substr(colon + 1));
        if (!(tau > 0.0) || !(sigma >= 0.0)) {
            break;
        }
        points.emplace_back(tau, sigma);
    }
    return points;
}

LoggedAxis ParseAxisCell(std::string_view cell) {
    LoggedAxis a;
    double* numbers[] = {&a.mean, &a.sd, &a.min, &a.max, &a.saturated};
    for (double* n : numbers) {
        *n = Number(NextWord(cell));
        if (std::isnan(*n)) {
            return LoggedAxis{};
        }
    }
    if (!TimeOrNever(NextWord(cell), a.saturatedAt) || !TimeOrNever(NextWord(cell), a.stuckAt)) {
        return LoggedAxis{};
    }
    a.present = true;
    return a;
}

LoggedHealth ReadLoggedHealth(const std::function<std::string_view(LogColumn)>& cell) {
    LoggedHealth h;
    const std::pair<double*, LogColumn> numbers[] = {
        {&h.clockPpm, kColImuClockPpm},
        {&h.ticksPerSecond, kColImuTicksPerS},
        {&h.ticksPerSample, kColImuTicksPerSample},
        {&h.intervalP50Ms, kColImuIntervalP50},
        {&h.intervalP99Ms, kColImuIntervalP99},
        {&h.intervalMaxMs, kColImuIntervalMax},
        {&h.missingByTime, kColImuMissingByTime},
        {&h.missingBySeq, kColImuMissingBySeq},
        {&h.deliveryP50Ms, kColImuDeliveryP50},
        {&h.deliveryP99Ms, kColImuDeliveryP99},
        {&h.deliveryMaxMs, kColImuDeliveryMax},
        {&h.reportsWithSeveral, kColImuReportsSeveral},
        {&h.reportsWithNone, kColImuReportsNone},
        {&h.countsPerG, kColImuCountsPerG},
        {&h.accelMagnitudeG, kColImuAccelMagG},
    };
    for (const auto& [field, column] : numbers) {
        *field = Number(cell(column));
        h.present = h.present || !std::isnan(*field);
    }
    for (int axis = 0; axis < 6; ++axis) {
        h.axes[axis] = ParseAxisCell(cell(static_cast<LogColumn>(kColImuAx + axis)));
    }
    for (int axis = 0; axis < 3; ++axis) {
        h.allan[axis] = ParseAllanCell(cell(static_cast<LogColumn>(kColImuAllanGx + axis)));
    }
    h.angleRandomWalk = std::string(cell(kColImuArw).substr(0, 256));
    h.biasInstability = std::string(cell(kColImuBiasInstability).substr(0, 256));
    h.flags = std::string(cell(kColImuHealthFlags).substr(0, 4096));
    return h;
}

}  // namespace brisk::report
