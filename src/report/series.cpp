#include "report/series.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <utility>

namespace brisk::report {

std::vector<Point> ReduceToColumns(const std::vector<Point>& points, double x0, double x1,
                                   int columns) {
    if (columns <= 0 || points.size() <= static_cast<size_t>(columns)) {
        return points;
    }
    // Indices into `points`, per column: first, last, and the extremes.
    struct Column {
        size_t first = SIZE_MAX, last = 0, min = SIZE_MAX, max = SIZE_MAX;
    };
    std::vector<Column> cols(static_cast<size_t>(columns));
    const double span = x1 - x0;
    for (size_t i = 0; i < points.size(); ++i) {
        const double f = span > 0.0 && std::isfinite(span) ? (points[i].x - x0) / span : 0.0;
        const double c = std::clamp(std::floor(f * columns), 0.0, columns - 1.0);
        Column& col = cols[std::isfinite(c) ? static_cast<size_t>(c) : 0];
        if (col.first == SIZE_MAX) {
            col.first = i;
        }
        col.last = i;
        const double y = points[i].y;
        if (std::isnan(y)) {
            continue;
        }
        if (col.min == SIZE_MAX || y < points[col.min].y) {
            col.min = i;
        }
        if (col.max == SIZE_MAX || y > points[col.max].y) {
            col.max = i;
        }
    }
    std::vector<Point> out;
    out.reserve(cols.size() * 4);
    const auto gap = [&](double x) {
        if (!out.empty() && !std::isnan(out.back().y)) {
            out.push_back(Point{x, NAN});
        }
    };
    for (const Column& col : cols) {
        if (col.first == SIZE_MAX) {
            continue;
        }
        if (std::isnan(points[col.first].y)) {
            gap(points[col.first].x);
        }
        if (col.min != SIZE_MAX) {
            size_t keep[4] = {col.first, col.min, col.max, col.last};
            std::sort(keep, keep + 4);
            for (size_t k = 0; k < 4; ++k) {
                if ((k == 0 || keep[k] != keep[k - 1]) && !std::isnan(points[keep[k]].y)) {
                    out.push_back(points[keep[k]]);
                }
            }
        }
        if (std::isnan(points[col.last].y)) {
            gap(points[col.last].x);
        }
    }
    return out;
}

double Scale::X(double x) const {
    const double span = x1 - x0;
    const double f = span > 0.0 ? (x - x0) / span : 0.0;
    return left + std::clamp(std::isfinite(f) ? f : 0.0, 0.0, 1.0) * width;
}

double Scale::Y(double y) const {
    const double span = y1 - y0;
    const double f = span > 0.0 ? (y - y0) / span : 0.0;
    return top + height - std::clamp(std::isfinite(f) ? f : 0.0, 0.0, 1.0) * height;
}

namespace {

void AppendCommand(std::string& out, char command, double x, double y) {
    char text[64];
    std::snprintf(text, sizeof text, "%c%.1f %.1f", command, x, y);
    out += text;
}

std::string Path(const std::vector<Point>& points, const Scale& scale, bool steps) {
    std::string out;
    bool pen = false;  // a sub-path is open
    double lastY = 0.0;
    for (const Point& p : points) {
        if (std::isnan(p.y) || std::isnan(p.x)) {
            pen = false;
            continue;
        }
        const double x = scale.X(p.x), y = scale.Y(p.y);
        if (!pen) {
            AppendCommand(out, 'M', x, y);
        } else {
            if (steps) {
                AppendCommand(out, 'L', x, lastY);
            }
            AppendCommand(out, 'L', x, y);
        }
        pen = true;
        lastY = y;
    }
    return out;
}

}  // namespace

std::string SvgPath(const std::vector<Point>& points, const Scale& scale) {
    return Path(points, scale, false);
}

std::string SvgStepPath(const std::vector<Point>& points, const Scale& scale) {
    return Path(points, scale, true);
}

namespace {

// The step and the ticks' first multiple of it, once a step fits.
bool FitStep(double lo, double hi, double step, int maxIntervals, Axis& axis) {
    const double first = std::floor(lo / step), last = std::ceil(hi / step);
    if (last - first > maxIntervals) {
        return false;
    }
    axis.step = step;
    axis.ticks.clear();
    for (double k = first; k <= last; ++k) {
        const double t = k * step;
        axis.ticks.push_back(t == 0.0 ? 0.0 : t);  // never "-0"
    }
    if (axis.ticks.size() < 2) {
        axis.ticks.push_back((last + 1) * step);
    }
    axis.lo = axis.ticks.front();
    axis.hi = axis.ticks.back();
    return true;
}

}  // namespace

Axis NiceAxis(double lo, double hi, int maxIntervals, double minStep) {
    Axis axis;
    axis.ticks = {0.0, 1.0};
    if (!std::isfinite(lo) || !std::isfinite(hi) || maxIntervals < 1) {
        return axis;
    }
    if (hi < lo) {
        std::swap(lo, hi);
    }
    const double span = hi - lo;
    if (!std::isfinite(span) ||
        std::max(std::abs(lo), std::abs(hi)) > 1e15 * std::max(span, minStep)) {
        // Too far from zero for round steps to tell ticks apart: the ends alone.
        axis.lo = lo;
        axis.hi = hi > lo ? hi : lo + 1.0;
        axis.step = axis.hi - axis.lo;
        axis.ticks = {axis.lo, axis.hi};
        return axis;
    }
    const double raw = std::max(span / maxIntervals, minStep);
    double magnitude = raw > 0.0 ? std::pow(10.0, std::floor(std::log10(raw))) : 1.0;
    for (int decade = 0; decade < 4; ++decade, magnitude *= 10.0) {
        for (double m : {1.0, 2.0, 5.0}) {
            const double step = magnitude * m;
            if (step >= minStep && FitStep(lo, hi, step, maxIntervals, axis)) {
                return axis;
            }
        }
    }
    // A range that straddles a multiple of every step (-1 to 1 in one
    // interval) takes two.
    FitStep(lo, hi, magnitude, 2, axis);
    return axis;
}

double RowGapLimit(const std::vector<double>& x) {
    std::vector<double> steps;
    for (size_t i = 1; i < x.size(); ++i) {
        if (x[i] > x[i - 1]) {
            steps.push_back(x[i] - x[i - 1]);
        }
    }
    if (steps.empty()) {
        return INFINITY;
    }
    const auto middle = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
    std::nth_element(steps.begin(), middle, steps.end());
    return *middle * 1.5;
}

std::vector<Point> PointsWithBreaks(const std::vector<double>& x, const std::vector<float>& y,
                                    double gapLimit) {
    std::vector<Point> points;
    points.reserve(x.size());
    for (size_t i = 0; i < x.size() && i < y.size(); ++i) {
        if (i > 0 && x[i] - x[i - 1] > gapLimit) {
            points.push_back(Point{x[i - 1], NAN});
        }
        points.push_back(Point{x[i], static_cast<double>(y[i])});
    }
    return points;
}

std::vector<Span> PixelSpans(const std::vector<Span>& ranges, const Scale& scale) {
    std::vector<Span> px;
    for (const Span& r : ranges) {
        const double a = scale.X(r.from), b = scale.X(r.to);
        if (b > a) {
            px.push_back(Span{std::floor(a), std::ceil(b)});
        }
    }
    std::sort(px.begin(), px.end(), [](const Span& a, const Span& b) { return a.from < b.from; });
    std::vector<Span> merged;
    for (const Span& s : px) {
        if (!merged.empty() && s.from <= merged.back().to) {
            merged.back().to = std::max(merged.back().to, s.to);
        } else {
            merged.push_back(s);
        }
    }
    return merged;
}

}  // namespace brisk::report
