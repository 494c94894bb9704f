#include "report/charts.h"

#include <algorithm>
#include <cmath>

#include "report/page_text.h"

namespace brisk::report {

int MarkerGroup::Total() const {
    int n = 0;
    for (const auto& [kind, count] : counts) {
        n += count;
    }
    return n;
}

std::vector<MarkerGroup> GroupMarkers(const std::vector<LogEvent>& events, double x0, double x1,
                                      int columns) {
    std::vector<MarkerGroup> groups;
    if (columns <= 0) {
        return groups;
    }
    // The same column test as the series' reduction, so a marker sits in the
    // pixel column of the data around it.
    std::vector<const LogEvent*> marked;
    for (const LogEvent& e : events) {
        if (IsMarked(e.kind)) {
            marked.push_back(&e);
        }
    }
    std::stable_sort(marked.begin(), marked.end(),
                     [](const LogEvent* a, const LogEvent* b) { return a->elapsed < b->elapsed; });
    const double span = x1 - x0;
    for (const LogEvent* e : marked) {
        const double f = span > 0.0 ? (e->elapsed - x0) / span : 0.0;
        const int column = static_cast<int>(
            std::clamp(std::floor(std::isfinite(f) ? f * columns : 0.0), 0.0, columns - 1.0));
        if (groups.empty() || groups.back().column != column) {
            groups.push_back(MarkerGroup{column, e->elapsed, e->elapsed, {}});
        }
        MarkerGroup& g = groups.back();
        g.last = e->elapsed;
        auto it = std::find_if(g.counts.begin(), g.counts.end(),
                               [&](const auto& c) { return c.first == e->kind; });
        if (it == g.counts.end()) {
            g.counts.emplace_back(e->kind, 1);
        } else {
            ++it->second;
        }
    }
    return groups;
}

namespace {

struct MarkerStyle {
    EventKind kind;
    const char* colour;
};

constexpr MarkerStyle kMarkerStyles[] = {
    {EventKind::ImuLost, "#e53935"},      {EventKind::ImuBack, "#2e7d32"},
    {EventKind::McuLost, "#ef6c00"},      {EventKind::McuBack, "#00838f"},
    {EventKind::Donned, "#1565c0"},       {EventKind::Doffed, "#64b5f6"},
    {EventKind::FreeRunBegin, "#ad1457"}, {EventKind::FreeRunEnd, "#f06292"},
    {EventKind::DisplayLost, "#000000"},
};
constexpr const char* kSeveralColour = "#757575";

// Ticks, labels and the unit on one side of the plot; the left side's ticks
// also draw the grid.
void YAxis(std::string& out, const Scale& s, const Axis& axis, bool right, const char* unit,
           const char* colour) {
    const double edge = right ? s.left + s.width : s.left;
    const double outward = right ? 1.0 : -1.0;
    const double x = edge + outward * 8;
    for (double v : axis.ticks) {
        const double y = std::round(s.Y(v));
        if (!right) {
            Fmt(out,
                "<line x1=\"%.0f\" x2=\"%.0f\" y1=\"%.0f\" y2=\"%.0f\" stroke=\"#ffffff\" "
                "shape-rendering=\"crispEdges\"/>",
                s.left, s.left + s.width, y, y);
        }
        Fmt(out,
            "<line x1=\"%.0f\" x2=\"%.0f\" y1=\"%.0f\" y2=\"%.0f\" stroke=\"#777777\" "
            "shape-rendering=\"crispEdges\"/>",
            edge, edge + outward * 5, y, y);
        Fmt(out, "<text x=\"%.0f\" y=\"%.0f\" text-anchor=\"%s\" fill=\"%s\">%s</text>", x, y + 4,
            right ? "start" : "end", colour, TickLabel(v, axis.step).c_str());
    }
    const double unitX = edge + outward * 64, unitY = s.top + s.height / 2.0;
    Fmt(out,
        "<text x=\"%.0f\" y=\"%.0f\" text-anchor=\"middle\" fill=\"%s\" class=\"unit\" "
        "transform=\"rotate(%d %.0f %.0f)\">%s</text>",
        unitX, unitY, colour, right ? 90 : -90, unitX, unitY, unit);
}

std::string TimeLabel(double t, double span) {
    if (span < 600.0) {
        char text[32];
        std::snprintf(text, sizeof text, "%g s", t);
        return text;
    }
    return Clock(t, false);
}

}  // namespace

const char* MarkerColour(EventKind kind) {
    for (const MarkerStyle& m : kMarkerStyles) {
        if (m.kind == kind) {
            return m.colour;
        }
    }
    return kSeveralColour;
}

Extent ExtentOf(const std::vector<float>& v) {
    Extent e;
    for (float f : v) {
        if (!std::isnan(f)) {
            e.lo = std::min(e.lo, static_cast<double>(f));
            e.hi = std::max(e.hi, static_cast<double>(f));
        }
    }
    return e;
}

Chart NewChart(const char* id, const char* title, const char* background) {
    Chart c;
    c.id = id;
    c.title = title;
    c.background = background;
    return c;
}

double TopOf(std::initializer_list<const std::vector<float>*> series, double floor) {
    double hi = 0.0;
    for (const auto* s : series) {
        const Extent e = ExtentOf(*s);
        if (e.Any()) {
            hi = std::max(hi, e.hi);
        }
    }
    return std::max(hi * 1.15, floor);
}

std::vector<Span> FlagPeriods(const std::vector<double>& t, const std::vector<int8_t>& flag) {
    std::vector<Span> spans;
    for (size_t i = 0; i < t.size(); ++i) {
        if (flag[i] != 1) {
            continue;
        }
        const double end = i + 1 < t.size() && t[i + 1] > t[i] ? t[i + 1] : t[i] + 1.0;
        if (!spans.empty() && spans.back().to == t[i]) {
            spans.back().to = end;
        } else {
            spans.push_back(Span{t[i], end});
        }
    }
    return spans;
}

void ShadeSpans(std::string& out, const std::vector<Span>& ranges, const Scale& scale,
                const char* colour, const char* what) {
    const std::vector<Span> px = PixelSpans(ranges, scale);
    if (px.empty()) {
        return;
    }
    Fmt(out, "<g fill=\"%s\" shape-rendering=\"crispEdges\"><title>%s</title>", colour, what);
    for (const Span& s : px) {
        Fmt(out, "<rect x=\"%.0f\" y=\"%.0f\" width=\"%.0f\" height=\"%d\"/>", s.from, scale.top,
            s.to - s.from, kPlotHeight);
    }
    out += "</g>";
}

std::vector<double> TimeTicks(double x0, double x1) {
    static constexpr double kSteps[] = {1,     2,     5,     10,    15,     30,    60,
                                        120,   300,   600,   900,   1800,   3600,  7200,
                                        10800, 21600, 43200, 86400, 172800, 604800};
    double step = kSteps[std::size(kSteps) - 1];
    for (double s : kSteps) {
        if ((x1 - x0) / s <= 10.0) {
            step = s;
            break;
        }
    }
    std::vector<double> ticks;
    for (int i = 0; i <= 12; ++i) {
        const double t = std::ceil(x0 / step) * step + i * step;
        if (t > x1) {
            break;
        }
        ticks.push_back(t);
    }
    return ticks;
}

void TimeAxisLabels(std::string& out, const std::vector<double>& ticks, const Scale& s, double y) {
    for (double t : ticks) {
        Fmt(out, "<text x=\"%.1f\" y=\"%.0f\" text-anchor=\"middle\">%s</text>", s.X(t), y,
            TimeLabel(t, s.x1 - s.x0).c_str());
    }
}

void DrawChart(std::string& out, const Chart& c, const ChartSeries& series, double x0, double x1,
               int top, const std::vector<double>& timeTicks) {
    constexpr int kMaxIntervals = 6;  // 25 pixels or more between ticks
    const int plotTop = top + kTitleBand;
    const Axis leftAxis = NiceAxis(c.leftLo, c.leftHi, kMaxIntervals, c.leftStep);
    const Axis rightAxis =
        c.hasRight ? NiceAxis(c.rightLo, c.rightHi, kMaxIntervals, c.rightStep) : leftAxis;
    Scale left{x0,     x1,         leftAxis.lo, leftAxis.hi, kLeft, static_cast<double>(plotTop),
               kWidth, kPlotHeight};
    Scale right = left;
    right.y0 = rightAxis.lo;
    right.y1 = rightAxis.hi;
    Fmt(out,
        "<g id=\"%s\" class=\"chart\" data-box=\"%d,%d,%d,%d\" data-background=\"%s\">"
        "<title>%s</title>",
        c.id, kLeft, plotTop, kWidth, kPlotHeight, c.background, c.title);
    // Title with the legend of its lines.
    Fmt(out, "<text x=\"%d\" y=\"%d\" class=\"title\">%s", kLeft, top + 18, c.title);
    for (const Line& l : c.lines) {
        Fmt(out, "<tspan dx=\"16\" fill=\"%s\">&#9632; %s%s</tspan>", l.colour, l.name,
            c.hasRight ? (l.right ? " (right)" : " (left)") : "");
    }
    out += "</text>";
    Fmt(out,
        "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"%s\" "
        "shape-rendering=\"crispEdges\"/>",
        kLeft, plotTop, kWidth, kPlotHeight, c.background);
    if (c.underlay) {
        c.underlay(out, left);
    }
    const char* ink = "#333333";
    YAxis(out, left, leftAxis, false, c.leftUnit, ink);
    const char* rightInk = ink;
    for (const Line& l : c.lines) {
        rightInk = l.right ? l.colour : rightInk;
    }
    YAxis(out, right, rightAxis, true, c.hasRight ? c.rightUnit : c.leftUnit, rightInk);
    for (double t : timeTicks) {
        const double x = std::round(left.X(t));
        Fmt(out,
            "<line x1=\"%.0f\" x2=\"%.0f\" y1=\"%d\" y2=\"%d\" stroke=\"#ffffff\" "
            "shape-rendering=\"crispEdges\"/>",
            x, x, plotTop, plotTop + kPlotHeight);
    }
    const StatusSeries& status = series.status;
    bool any = false;
    for (const Line& l : c.lines) {
        const std::vector<Point> points = ReduceToColumns(
            PointsWithBreaks(status.elapsed, *l.values, series.rowGapLimit), x0, x1, kPlotColumns);
        const Scale& s = l.right ? right : left;
        const std::string d = l.steps ? SvgStepPath(points, s) : SvgPath(points, s);
        if (d.empty()) {
            continue;
        }
        any = true;
        Fmt(out, "<path fill=\"none\" stroke=\"%s\" stroke-width=\"1.3\" d=\"", l.colour);
        out += d;
        Fmt(out, "\"><title>%s</title></path>", l.name);
    }
    if (!any && c.emptyNote != nullptr) {
        Fmt(out, "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\" class=\"empty\">%s</text>",
            kLeft + kWidth / 2, plotTop + kPlotHeight / 2, c.emptyNote);
    }
    out += "</g>";
}

// Every marker crosses each chart's plot area (not the titles between them).
// Crowded timelines get fainter markers, so the data under them stays legible.
void DrawMarkers(std::string& out, const std::vector<MarkerGroup>& groups, int firstTop, int stride,
                 int charts) {
    const double opacity = groups.size() > 300 ? 0.35 : groups.size() > 60 ? 0.6 : 0.9;
    Fmt(out, "<g id=\"markers\" fill=\"none\" stroke-opacity=\"%.2f\">", opacity);
    for (const MarkerGroup& g : groups) {
        const bool several = g.counts.size() > 1;
        const char* colour = several ? kSeveralColour : MarkerColour(g.counts.front().first);
        const double x = kLeft + g.column + 0.5;
        std::string d;
        for (int i = 0; i < charts; ++i) {
            Fmt(d, "M%.1f %dv%d", x, firstTop + i * stride, kPlotHeight);
        }
        Fmt(out, "<g class=\"marker\" data-events=\"%d\"><title>", g.Total());
        if (g.Total() == 1) {
            Fmt(out, "%s at %.3f s", EventName(g.counts.front().first), g.first);
        } else {
            Fmt(out, "%d events, %.3f s to %.3f s:", g.Total(), g.first, g.last);
            for (const auto& [kind, count] : g.counts) {
                Fmt(out, " %s &#215;%d", EventName(kind), count);
            }
        }
        Fmt(out, "</title><path stroke=\"%s\" stroke-width=\"1.5\"%s d=\"%s\"/>", colour,
            several ? " stroke-dasharray=\"4 2\"" : "", d.c_str());
        // A wider, invisible twin: something a mouse can find for the tooltip.
        Fmt(out, "<path stroke=\"#000000\" stroke-opacity=\"0\" stroke-width=\"7\" d=\"%s\"/></g>",
            d.c_str());
    }
    out += "</g>";
}

void MarkerLegend(std::string& out, const std::vector<LogEvent>& events) {
    out += "<p class=\"legend\" id=\"marker-legend\">Markers: ";
    for (const MarkerStyle& m : kMarkerStyles) {
        const auto n = std::count_if(events.begin(), events.end(),
                                     [&](const LogEvent& e) { return e.kind == m.kind; });
        Fmt(out, "<span><i style=\"background:%s\"></i>%s &#215;%lld</span>", m.colour,
            EventName(m.kind), static_cast<long long>(n));
    }
    Fmt(out,
        "<span><i style=\"background:%s\"></i>several kinds in one pixel column (dashed)</span>"
        "</p>",
        kSeveralColour);
}

}  // namespace brisk::report
