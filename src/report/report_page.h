// The report page: one self-contained HTML file (inline CSS and SVG, no
// script, nothing fetched) that a bench engineer can open offline or attach
// to a bug.
#pragma once

#include <string>
#include <vector>

#include "report/events.h"
#include "report/log_reader.h"

namespace brisk::report {

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

// Pixel columns of every time chart: one per column of the reduced series.
constexpr int kPlotColumns = 1000;

// `logName` is shown as the file the page was made from.
std::string RenderReport(const LoggedRun& log, const std::string& logName,
                         const std::string& version);

}  // namespace brisk::report
