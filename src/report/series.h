// A time series brought down to what a chart's pixels can show, and drawn as
// an SVG path. Missing values are NaN and break the line.
#pragma once

#include <string>
#include <vector>

namespace brisk::report {

struct Point {
    double x = 0.0;  // elapsed seconds
    double y = 0.0;  // NaN: no value here
};

// At most four points per pixel column of [x0, x1) cut into `columns`: the
// column's first and last value and its minimum and maximum, in the order they
// came, so a line through them covers exactly the pixels the full series
// would. A column that begins or ends on a missing value keeps that break.
// When the series has no more points than columns it comes back unchanged.
// Points need not be sorted by x; x outside the range falls into the edge
// columns.
std::vector<Point> ReduceToColumns(const std::vector<Point>& points, double x0, double x1,
                                   int columns);

// Maps data coordinates onto a pixel box (y grows downwards on screen).
struct Scale {
    double x0 = 0.0, x1 = 1.0;  // data range shown
    double y0 = 0.0, y1 = 1.0;
    double left = 0.0, top = 0.0, width = 1.0, height = 1.0;  // pixel box
    double X(double x) const;
    double Y(double y) const;  // clamped to the box, so a spike cannot leave it
};

// "M12.0 40.5L13.0 38.0..." with one-decimal pixels; a missing value starts a
// new sub-path. Empty when there is nothing to draw.
std::string SvgPath(const std::vector<Point>& points, const Scale& scale);

// Same, as steps: each value holds until the next point (running totals).
std::string SvgStepPath(const std::vector<Point>& points, const Scale& scale);

// A value axis: [lo, hi] widened to round ticks `step` apart (1, 2 or 5 x
// 10^n, never below `minStep`), the finest such step that needs no more than
// `maxIntervals` intervals, so a scale is always readable at both its ends.
struct Axis {
    double lo = 0.0, hi = 1.0, step = 1.0;
    std::vector<double> ticks;  // lo, lo + step, ..., hi
};
Axis NiceAxis(double lo, double hi, int maxIntervals, double minStep = 0.0);

// Rows further apart than this have rows missing between them: one and a
// half times the usual step between rows. Infinite for fewer than two rows.
double RowGapLimit(const std::vector<double>& x);

// The points of a series, with a break (a NaN point) wherever the next row
// comes more than `gapLimit` after the last: a line never bridges missing rows.
std::vector<Point> PointsWithBreaks(const std::vector<double>& x, const std::vector<float>& y,
                                    double gapLimit);

// Pixel spans [from, to) of the box, merged where they touch, for the x
// ranges given (periods a headset was worn, the present loop free-ran, ...).
struct Span {
    double from = 0.0, to = 0.0;
};
std::vector<Span> PixelSpans(const std::vector<Span>& ranges, const Scale& scale);

}  // namespace brisk::report
