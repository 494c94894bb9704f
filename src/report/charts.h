// The report's time charts: their layout, the series drawn as SVG paths over
// one time axis, and the event markers that cross them all.
#pragma once

#include <cmath>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "report/chart_series.h"
#include "report/events.h"
#include "report/log_reader.h"
#include "report/series.h"

namespace brisk::report {

// Pixel columns of every time chart: one per column of the reduced series.
constexpr int kPlotColumns = 1000;

constexpr int kLeft = 76;                       // room for the left axis labels
constexpr int kWidth = kPlotColumns;            // one pixel per reduced column
constexpr int kSvgWidth = kLeft + kWidth + 76;  // and for the right axis
constexpr int kPlotHeight = 150;
constexpr int kTitleBand = 26;
constexpr int kChartGap = 14;
constexpr int kAxisBand = 26;  // time labels above the first chart

// Events that fall into one pixel column of the time axis share one marker;
// the marker's tooltip counts them all.
struct MarkerGroup {
    int column = 0;
    double first = 0.0, last = 0.0;                 // elapsed seconds of the earliest and latest
    std::vector<std::pair<EventKind, int>> counts;  // per kind, in the order first seen
    int Total() const;
};
std::vector<MarkerGroup> GroupMarkers(const std::vector<LogEvent>& events, double x0, double x1,
                                      int columns);

struct Line {
    const char* name;
    const char* colour;
    const std::vector<float>* values;
    bool right = false;  // on the right-hand axis
    bool steps = false;  // a running total: drawn as steps
};

struct Chart {
    const char* id = "";
    const char* title = "";
    const char* background = "";
    std::vector<Line> lines;
    // The data's range on each side; the scale widens it to round ticks, no
    // finer than the side's step (counts tick in whole numbers).
    double leftLo = 0.0, leftHi = 1.0, rightLo = 0.0, rightHi = 1.0;
    double leftStep = 0.0, rightStep = 0.0;
    const char* leftUnit = "";
    const char* rightUnit = "";
    bool hasRight = false;
    const char* emptyNote = nullptr;  // shown when no line has a value
    // Extra shapes under the lines (bands, shaded periods), given the scale.
    std::function<void(std::string&, const Scale&)> underlay;
};

Chart NewChart(const char* id, const char* title, const char* background);

// The colour of a kind's markers (and of its rows in the event list).
const char* MarkerColour(EventKind kind);

// The smallest and largest value a series has, NaN left out.
struct Extent {
    double lo = INFINITY, hi = -INFINITY;
    bool Any() const { return lo <= hi; }
};
Extent ExtentOf(const std::vector<float>& v);
// 0 up to a little above the largest value, never an empty range.
double TopOf(std::initializer_list<const std::vector<float>*> series, double floor);
// Periods where a per-row flag is 1: from that row up to the next row.
std::vector<Span> FlagPeriods(const std::vector<double>& t, const std::vector<int8_t>& flag);
void ShadeSpans(std::string& out, const std::vector<Span>& ranges, const Scale& scale,
                const char* colour, const char* what);
std::vector<double> TimeTicks(double x0, double x1);
void TimeAxisLabels(std::string& out, const std::vector<double>& ticks, const Scale& s, double y);
// Scales on both sides: a chart with one scale repeats it on the right.
void DrawChart(std::string& out, const Chart& c, const ChartSeries& series, double x0, double x1,
               int top, const std::vector<double>& timeTicks);
// Every marker crosses each chart's plot area (not the titles between them).
void DrawMarkers(std::string& out, const std::vector<MarkerGroup>& groups, int firstTop, int stride,
                 int charts);
// What each marker colour stands for, with the count of each kind.
void MarkerLegend(std::string& out, const std::vector<LogEvent>& events);

}  // namespace brisk::report
