#include "report/series.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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

std::vector<double> NiceTicks(double lo, double hi, int count) {
    std::vector<double> ticks;
    if (!(hi > lo) || !std::isfinite(hi - lo) || count < 1) {
        return ticks;
    }
    const double raw = (hi - lo) / count;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    double step = magnitude * 10.0;
    for (double m : {1.0, 2.0, 5.0}) {
        if (magnitude * m >= raw) {
            step = magnitude * m;
            break;
        }
    }
    const double first = std::ceil(lo / step) * step;
    // Counted rather than summed: far from zero, t += step may not move t.
    for (int i = 0; i <= count * 3 + 2; ++i) {
        const double t = first + i * step;
        if (t > hi + step * 1e-9) {
            break;
        }
        ticks.push_back(std::abs(t) < step * 1e-9 ? 0.0 : t);
    }
    return ticks;
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
