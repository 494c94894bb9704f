#include "report/report_page.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <string_view>

#include "platform/printf_format.h"
#include "report/html.h"
#include "report/series.h"

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

void Fmt(std::string& out, const char* format, ...) BRISK_PRINTF_FORMAT(2, 3);
void Fmt(std::string& out, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0) {
        return;
    }
    if (static_cast<size_t>(n) < sizeof text) {
        out.append(text, static_cast<size_t>(n));
        return;
    }
    // Longer than the buffer (a long command line, say): formatted again in full.
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(n) + 1);
    va_start(args, format);
    std::vsnprintf(out.data() + at, static_cast<size_t>(n) + 1, format, args);
    va_end(args);
    out.resize(at + static_cast<size_t>(n));
}

// "1:02:03" or "2:03" for long runs, seconds with decimals for short ones.
std::string Clock(double seconds, bool fraction) {
    if (!std::isfinite(seconds) || seconds < 0.0) {
        return "?";
    }
    const auto whole = static_cast<long long>(seconds);
    const long long h = whole / 3600, m = whole / 60 % 60, s = whole % 60;
    char text[64];
    if (h > 0) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", h, m, s);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", m, s);
    }
    std::string out = text;
    if (fraction) {
        std::snprintf(text, sizeof text, ".%03lld",
                      static_cast<long long>((seconds - static_cast<double>(whole)) * 1000.0));
        out += text;
    }
    return out;
}

std::string Seconds(double seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f s", seconds);
    return text;
}

std::string TickLabel(double v) {
    char text[32];
    if (std::abs(v) >= 100000) {
        std::snprintf(text, sizeof text, "%.0fk", v / 1000);
    } else {
        std::snprintf(text, sizeof text, "%.4g", v);
    }
    return text;
}

// ---------------------------------------------------------------- the charts

constexpr int kLeft = 76;                       // room for the left axis labels
constexpr int kWidth = kPlotColumns;            // one pixel per reduced column
constexpr int kSvgWidth = kLeft + kWidth + 76;  // and for the right axis
constexpr int kPlotHeight = 150;
constexpr int kTitleBand = 26;
constexpr int kChartGap = 14;
constexpr int kAxisBand = 26;  // time labels above the first chart

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

const char* MarkerColour(EventKind kind) {
    for (const MarkerStyle& m : kMarkerStyles) {
        if (m.kind == kind) {
            return m.colour;
        }
    }
    return kSeveralColour;
}

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
    double leftLo = 0.0, leftHi = 1.0, rightLo = 0.0, rightHi = 1.0;
    const char* leftUnit = "";
    const char* rightUnit = "";
    bool hasRight = false;
    const char* emptyNote = nullptr;  // shown when no line has a value
    // Extra shapes under the lines (bands, shaded periods), given the scale.
    std::function<void(std::string&, const Scale&)> underlay;
};

Chart NewChart(const char* id, const char* title, const char* background) {
    Chart c;
    c.id = id;
    c.title = title;
    c.background = background;
    return c;
}

struct Extent {
    double lo = INFINITY, hi = -INFINITY;
    bool Any() const { return lo <= hi; }
};

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

// 0 up to a little above the largest value, never an empty range.
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

std::vector<Point> PointsOf(const std::vector<double>& x, const std::vector<float>& y) {
    std::vector<Point> p(x.size());
    for (size_t i = 0; i < x.size(); ++i) {
        p[i] = Point{x[i], static_cast<double>(y[i])};
    }
    return p;
}

// Periods where a per-row flag is 1: from that row up to the next row.
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

void YAxis(std::string& out, const Scale& s, bool right, const char* unit, const char* colour) {
    const double x = right ? s.left + s.width + 6 : s.left - 6;
    for (double v : NiceTicks(s.y0, s.y1, 4)) {
        const double y = std::round(s.Y(v));
        if (!right) {
            Fmt(out,
                "<line x1=\"%.0f\" x2=\"%.0f\" y1=\"%.0f\" y2=\"%.0f\" stroke=\"#ffffff\" "
                "shape-rendering=\"crispEdges\"/>",
                s.left, s.left + s.width, y, y);
        }
        Fmt(out, "<text x=\"%.0f\" y=\"%.0f\" text-anchor=\"%s\" fill=\"%s\">%s</text>", x, y + 4,
            right ? "start" : "end", colour, TickLabel(v).c_str());
    }
    Fmt(out,
        "<text x=\"%.0f\" y=\"%.0f\" text-anchor=\"middle\" fill=\"%s\" class=\"unit\" "
        "transform=\"rotate(%d %.0f %.0f)\">%s</text>",
        right ? s.left + s.width + 64 : s.left - 62, s.top + kPlotHeight / 2.0, colour,
        right ? 90 : -90, right ? s.left + s.width + 64 : s.left - 62, s.top + kPlotHeight / 2.0,
        unit);
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

std::string TimeLabel(double t, double span) {
    if (span < 600.0) {
        char text[32];
        std::snprintf(text, sizeof text, "%g s", t);
        return text;
    }
    return Clock(t, false);
}

void TimeAxisLabels(std::string& out, const std::vector<double>& ticks, const Scale& s, double y) {
    for (double t : ticks) {
        Fmt(out, "<text x=\"%.1f\" y=\"%.0f\" text-anchor=\"middle\">%s</text>", s.X(t), y,
            TimeLabel(t, s.x1 - s.x0).c_str());
    }
}

void DrawChart(std::string& out, const Chart& c, const StatusSeries& status, double x0, double x1,
               int top, const std::vector<double>& timeTicks) {
    const int plotTop = top + kTitleBand;
    Scale left{x0,     x1,         c.leftLo, c.leftHi, kLeft, static_cast<double>(plotTop),
               kWidth, kPlotHeight};
    Scale right = left;
    right.y0 = c.rightLo;
    right.y1 = c.rightHi;
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
    YAxis(out, left, false, c.leftUnit, "#333333");
    if (c.hasRight) {
        const char* colour = "#333333";
        for (const Line& l : c.lines) {
            if (l.right) {
                colour = l.colour;
            }
        }
        YAxis(out, right, true, c.rightUnit, colour);
    }
    for (double t : timeTicks) {
        const double x = std::round(left.X(t));
        Fmt(out,
            "<line x1=\"%.0f\" x2=\"%.0f\" y1=\"%d\" y2=\"%d\" stroke=\"#ffffff\" "
            "shape-rendering=\"crispEdges\"/>",
            x, x, plotTop, plotTop + kPlotHeight);
    }
    bool any = false;
    for (const Line& l : c.lines) {
        const std::vector<Point> points =
            ReduceToColumns(PointsOf(status.elapsed, *l.values), x0, x1, kPlotColumns);
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

// --------------------------------------------------------- the page sections

constexpr const char* kStyle = R"(
body{font:14px/1.4 system-ui,-apple-system,"Segoe UI",Roboto,"DejaVu Sans",sans-serif;color:#1b1b1b;margin:16px;background:#ffffff}
h2{font-size:17px;margin:22px 0 8px}
.verdict{padding:14px 18px;border-radius:6px;color:#ffffff}
.verdict .big{font-size:40px;font-weight:700;letter-spacing:.5px}
.verdict .why{font-size:18px;margin-top:4px}
.verdict.pass{background:#2e7d32}.verdict.fail{background:#c62828}.verdict.unfinished{background:#6d4c41}
.note{margin-top:10px;padding:10px 14px;border-left:5px solid #f9a825;background:#fff8e1}
.facts{display:flex;flex-wrap:wrap;gap:28px;align-items:flex-start}
table{border-collapse:collapse}
td,th{padding:2px 10px 2px 0;text-align:left;vertical-align:top}
th{font-weight:600;color:#555555}
td.n{text-align:right;font-variant-numeric:tabular-nums}
code{font:13px ui-monospace,Consolas,"DejaVu Sans Mono",monospace}
.legend span{display:inline-block;margin-right:14px;white-space:nowrap}
.legend i{display:inline-block;width:14px;height:3px;vertical-align:middle;margin-right:4px}
svg text{font:12px system-ui,"Segoe UI",Roboto,"DejaVu Sans",sans-serif;fill:#333333}
svg text.title{font-size:14px;font-weight:600}
svg text.empty{font-size:14px;fill:#777777}
.events td{padding-right:14px}
footer{margin-top:20px;color:#777777;font-size:12px}
)";

bool Passed(const std::string& verdict) {
    return verdict.starts_with("PASS");
}

void VerdictSection(std::string& out, const LoggedRun& log) {
    const LoggedSummary& s = log.summary;
    if (s.present) {
        const std::string verdict = s.verdict.empty() ? "NO VERDICT" : s.verdict;
        Fmt(out, "<header id=\"verdict\" class=\"verdict %s\"><div class=\"big\">",
            Passed(verdict) ? "pass" : "fail");
        AppendEscaped(out, verdict);
        out += "</div>";
        if (!s.failReasons.empty()) {
            out += "<div class=\"why\">Why: ";
            AppendEscaped(out, s.failReasons);
            out += "</div>";
        }
        if (!s.text.empty()) {
            out += "<div><code>";
            AppendEscaped(out, s.text);
            out += "</code></div>";
        }
        out += "</header>";
    } else {
        out +=
            "<header id=\"verdict\" class=\"verdict unfinished\"><div class=\"big\">NO VERDICT</div>"
            "<div class=\"why\">";
        if (log.dataRows == 0) {
            out += "The run did not finish: the log stops right after its header.";
        } else {
            out += "The run did not finish: the log stops at ";
            AppendEscaped(out, log.lastTime.empty() ? "an unknown time" : log.lastTime);
            Fmt(out, " (elapsed %s).", Seconds(log.lastElapsed).c_str());
        }
        out += "</div>";
        if (!log.verdictLine.empty()) {
            out += "<div>Its last verdict line: <code>";
            AppendEscaped(out, log.verdictLine);
            out += "</code></div>";
        }
        out += "</header>";
    }
    if (!log.stopReason.empty()) {
        Fmt(out,
            "<p id=\"stopped\" class=\"note\">The log could not be read past row %llu (last "
            "row read: elapsed %s): ",
            static_cast<unsigned long long>(log.stopRow), Seconds(log.lastElapsed).c_str());
        AppendEscaped(out, log.stopReason);
        out += ". Everything before it is shown.</p>";
    }
}

void Row(std::string& out, const char* label, const std::string& value, bool number) {
    Fmt(out, "<tr><th>%s</th><td%s>", label, number ? " class=\"n\"" : "");
    if (value.empty()) {
        out += "&#8212;";
    } else {
        AppendEscaped(out, value);
    }
    out += "</td></tr>";
}

// A count as written ("12345"), or the dash when there is none.
void CountRow(std::string& out, const char* label, double count) {
    Row(out, label, std::isnan(count) ? std::string() : std::to_string(std::llround(count)), true);
}

// Milliseconds as the log writes them, with two decimals.
void MsRow(std::string& out, const char* label, double ms) {
    std::string text;
    if (!std::isnan(ms)) {
        Fmt(text, "%.2f", ms);
    }
    Row(out, label, text, true);
}

void FactsSection(std::string& out, const LoggedRun& log) {
    const LoggedFacts& r = log.run;
    const LoggedSummary& s = log.summary;
    const double duration = s.present ? s.elapsed : log.lastElapsed;
    out += "<section class=\"facts\"><div><h2>The run</h2><table id=\"run\">";
    Row(out, "version", r.version, false);
    out += "<tr><th>command line</th><td><code>";
    AppendEscaped(out, r.commandLine.empty() ? std::string("brisk") : "brisk " + r.commandLine);
    out += "</code></td></tr>";
    if (!r.launchedBy.empty()) {
        out += "<tr><th>run by</th><td><code>";
        AppendEscaped(out, r.launchedBy);
        out += "</code></td></tr>";
    }
    Row(out, "display", r.display, false);
    Row(out, "mode", r.mode, false);
    Row(out, "IMU serial", r.imuSerial, false);
    Row(out, "started", log.firstTime, false);
    Row(out, "duration",
        log.dataRows == 0 ? "" : Clock(duration, true) + " (" + Seconds(duration) + ")", false);
    Fmt(out, "<tr><th>log rows</th><td>%llu status, %zu events</td></tr>",
        static_cast<unsigned long long>(log.status.Size()), log.events.size());
    out += "</table></div><div><h2>Totals</h2><table id=\"totals\">";
    CountRow(out, "frames", s.frames);
    CountRow(out, "present errors", s.presentErrors);
    CountRow(out, "wait time-outs", s.waitTimeouts);
    CountRow(out, "free-run events", s.freeRunEvents);
    CountRow(out, "IMU samples", s.imuSamples);
    CountRow(out, "IMU reports", s.imuReports);
    CountRow(out, "IMU sequence gaps", s.imuSeqGaps);
    CountRow(out, "IMU stalls", s.imuStalls);
    CountRow(out, "exit code", s.exitCode);
    out += "</table>";
    if (!s.present) {
        out += "<p>No totals: the run ended before it wrote them.</p>";
    }
    out += "</div>";
}

void FrameIntervalSection(std::string& out, const LoggedSummary& s) {
    out += "<div><h2>Frame intervals</h2><table id=\"frame-intervals\">";
    CountRow(out, "intervals measured", s.frameIntervals);
    MsRow(out, "p50 (ms)", s.p50Ms);
    MsRow(out, "p99 (ms)", s.p99Ms);
    MsRow(out, "p99.9 (ms)", s.p999Ms);
    MsRow(out, "max (ms)", s.maxMs);
    CountRow(out, "over 1.5 periods", s.over15Periods);
    out += "</table>";
    // The log carries the percentiles, not the interval histogram itself, so
    // the picture is of those: one bar each, on a common millisecond scale.
    const std::pair<const char*, double> bars[] = {
        {"p50", s.p50Ms},
        {"p99", s.p99Ms},
        {"p99.9", s.p999Ms},
        {"max", s.maxMs},
    };
    double top = 0.0;
    for (const auto& [name, v] : bars) {
        if (!std::isnan(v)) {
            top = std::max(top, v);
        }
    }
    if (top > 0.0) {
        constexpr int kBarLeft = 48, kBarWidth = 260;
        out +=
            "<svg id=\"percentiles\" width=\"380\" height=\"96\" viewBox=\"0 0 380 96\" "
            "role=\"img\"><title>frame interval percentiles, ms</title>";
        int y = 4;
        for (const auto& [name, v] : bars) {
            Fmt(out, "<text x=\"%d\" y=\"%d\" text-anchor=\"end\">%s</text>", kBarLeft - 6, y + 14,
                name);
            if (!std::isnan(v) && v > 0.0) {
                const double w = std::max(1.0, v / top * kBarWidth);
                Fmt(out,
                    "<rect x=\"%d\" y=\"%d\" width=\"%.1f\" height=\"16\" fill=\"#5c6bc0\"/>"
                    "<text x=\"%.1f\" y=\"%d\">%.2f ms</text>",
                    kBarLeft, y + 2, w, kBarLeft + w + 6, y + 14, v);
            }
            y += 22;
        }
        out += "</svg>";
    }
    out += "</div></section>";
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

void TimelineSection(std::string& out, const LoggedRun& log) {
    const StatusSeries& st = log.status;
    double x1 = std::max(1.0, log.lastElapsed);
    for (double t : st.elapsed) {
        x1 = std::max(x1, t);
    }
    for (const LogEvent& e : log.events) {
        x1 = std::max(x1, e.elapsed);
    }
    const double x0 = 0.0;

    std::vector<Chart> charts;
    {
        Chart c = NewChart("chart-fps", "Frames per second and longest frame gap", "#eaf1fb");
        c.lines = {{"fps", "#1f5fbf", &st.fps},
                   {"longest gap, ms", "#e07b00", &st.frameGapMs, true}};
        c.leftHi = TopOf({&st.fps}, 1.0);
        c.rightHi = TopOf({&st.frameGapMs}, 1.0);
        c.leftUnit = "frames/s";
        c.rightUnit = "ms";
        c.hasRight = true;
        c.emptyNote = "no display in this run";
        const std::vector<Span> freeRun = FlagPeriods(st.elapsed, st.freeRun);
        c.underlay = [freeRun](std::string& o, const Scale& s) {
            ShadeSpans(o, freeRun, s, "#c9d6ee", "present loop free-running");
        };
        charts.push_back(std::move(c));
    }
    {
        Chart c = NewChart("chart-imu", "IMU rate and sample age", "#eaf6ec");
        c.lines = {{"samples/s", "#1b7f3a", &st.imuHz},
                   {"sample age, s", "#7b5e00", &st.imuAgeS, true}};
        c.leftHi = TopOf({&st.imuHz}, 1.0);
        c.rightHi = TopOf({&st.imuAgeS}, 0.05);
        c.leftUnit = "Hz";
        c.rightUnit = "s";
        c.hasRight = true;
        c.emptyNote = "no IMU readings";
        charts.push_back(std::move(c));
    }
    {
        Chart c =
            NewChart("chart-gaps", "IMU sequence gaps and stalls (running totals)", "#fbeeee");
        c.lines = {{"sequence gaps", "#c0392b", &st.seqGaps, false, true},
                   {"stalls", "#6a1b9a", &st.stalls, false, true}};
        c.leftHi = TopOf({&st.seqGaps, &st.stalls}, 1.0);
        c.leftUnit = "count";
        c.emptyNote = "no IMU readings";
        charts.push_back(std::move(c));
    }
    {
        Chart c = NewChart("chart-motion", "Accelerometer magnitude and gyroscope", "#f2eefa");
        c.lines = {{"|a|", "#4e342e", &st.accelMag},
                   {"gyro x", "#d81b60", &st.gyroX, true},
                   {"gyro y", "#7cb342", &st.gyroY, true},
                   {"gyro z", "#3949ab", &st.gyroZ, true}};
        const Extent a = ExtentOf(st.accelMag);
        const double pad = a.Any() ? std::max(8.0, (a.hi - a.lo) * 0.1) : 1.0;
        c.leftLo = a.Any() ? a.lo - pad : 0.0;
        c.leftHi = a.Any() ? a.hi + pad : 1.0;
        double g = 0.0;
        for (const auto* s : {&st.gyroX, &st.gyroY, &st.gyroZ}) {
            const Extent e = ExtentOf(*s);
            if (e.Any()) {
                g = std::max({g, std::abs(e.lo), std::abs(e.hi)});
            }
        }
        c.rightLo = -std::max(g * 1.15, 8.0);
        c.rightHi = std::max(g * 1.15, 8.0);
        c.leftUnit = "|a|, raw counts";
        c.rightUnit = "gyro, raw counts";
        c.hasRight = true;
        c.emptyNote = "no IMU readings";
        charts.push_back(std::move(c));
    }
    {
        Chart c = NewChart("chart-prox", "Proximity distance (worn periods shaded)", "#fcf7e6");
        c.lines = {{"distance", "#00695c", &st.proxDistance}};
        c.leftHi = TopOf({&st.proxDistance}, 1800.0);
        c.leftUnit = "distance";
        c.emptyNote = "no proximity readings";
        const std::vector<Span> worn = FlagPeriods(st.elapsed, st.worn);
        // The sensor's decision band as the run logged it (older logs: the
        // band the tool has always used).
        const double wornAt = std::isnan(log.run.proxWornAt) ? 1600.0 : log.run.proxWornAt;
        const double awayAt = std::isnan(log.run.proxAwayAt) ? 1400.0 : log.run.proxAwayAt;
        c.underlay = [worn, wornAt, awayAt](std::string& o, const Scale& s) {
            ShadeSpans(o, worn, s, "#f3dd8c", "headset worn");
            const double top = std::round(s.Y(wornAt)), bottom = std::round(s.Y(awayAt));
            Fmt(o,
                "<rect x=\"%.0f\" y=\"%.0f\" width=\"%.0f\" height=\"%.0f\" fill=\"#9e9e9e\" "
                "fill-opacity=\"0.35\" shape-rendering=\"crispEdges\"><title>worn/away band: worn "
                "at %.0f or more, away at %.0f or less</title></rect>",
                s.left, top, s.width, bottom - top, wornAt, awayAt);
        };
        charts.push_back(std::move(c));
    }

    const int chartsTop = kAxisBand;
    const int chartStride = kTitleBand + kPlotHeight + kChartGap;
    const int height = chartsTop + static_cast<int>(charts.size()) * chartStride + 30;
    const Scale time{x0, x1, 0, 1, kLeft, 0, kWidth, 1};
    const std::vector<double> ticks = TimeTicks(x0, x1);

    out += "<section id=\"timeline\"><h2>Timeline</h2>";
    MarkerLegend(out, log.events);
    Fmt(out,
        "<svg id=\"charts\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" role=\"img\" "
        "data-x0=\"%g\" data-x1=\"%g\">",
        kSvgWidth, height, kSvgWidth, height, x0, x1);
    TimeAxisLabels(out, ticks, time, chartsTop - 8);
    for (size_t i = 0; i < charts.size(); ++i) {
        DrawChart(out, charts[i], st, x0, x1, chartsTop + static_cast<int>(i) * chartStride, ticks);
    }
    const int lastBottom =
        chartsTop + static_cast<int>(charts.size() - 1) * chartStride + kTitleBand + kPlotHeight;
    DrawMarkers(out, GroupMarkers(log.events, x0, x1, kPlotColumns), chartsTop + kTitleBand,
                chartStride, static_cast<int>(charts.size()));
    TimeAxisLabels(out, ticks, time, lastBottom + 16);
    Fmt(out,
        "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\">elapsed since the tool started%s</text>",
        kLeft + kWidth / 2, lastBottom + 30, x1 - x0 < 600.0 ? "" : " (h:mm:ss)");
    out += "</svg>";
    out += "</section>";
}

void EventsSection(std::string& out, const std::vector<LogEvent>& events) {
    // The full list of a flapping day-long run would outweigh the charts; the
    // markers above keep every one of them.
    constexpr size_t kListed = 500;
    Fmt(out, "<section><h2>Events (%zu)</h2>", events.size());
    if (events.empty()) {
        out += "<p>None.</p></section>";
        return;
    }
    out +=
        "<table class=\"events\" id=\"events\"><tr><th>elapsed</th><th>event</th><th>line</th></tr>";
    for (size_t i = 0; i < events.size() && i < kListed; ++i) {
        const LogEvent& e = events[i];
        Fmt(out,
            "<tr><td class=\"n\">%.3f s</td><td><i style=\"color:%s\">&#9632;</i> %s</td><td><code>",
            e.elapsed, IsMarked(e.kind) ? MarkerColour(e.kind) : "#bdbdbd", EventName(e.kind));
        AppendEscaped(out, e.text);
        out += "</code></td></tr>";
    }
    out += "</table>";
    if (events.size() > kListed) {
        Fmt(out, "<p>&#8230; and %zu more (all of them are marked on the timeline).</p>",
            events.size() - kListed);
    }
    out += "</section>";
}

}  // namespace

std::string RenderReport(const LoggedRun& log, const std::string& logName,
                         const std::string& version) {
    std::string out;
    out.reserve(1 << 20);
    const std::string verdict = log.summary.present ? log.summary.verdict : "NO VERDICT";
    out +=
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width\"><title>brisk run: ";
    AppendEscaped(out, verdict);
    out += " &#8212; ";
    AppendEscaped(out, logName);
    out += "</title><style>";
    out += kStyle;
    out += "</style></head><body>\n";
    VerdictSection(out, log);
    FactsSection(out, log);
    FrameIntervalSection(out, log.summary);
    out += "\n";
    TimelineSection(out, log);
    out += "\n";
    EventsSection(out, log.events);
    out += "<footer>Made by brisk-report ";
    AppendEscaped(out, version);
    out += " from <code>";
    AppendEscaped(out, logName);
    out += "</code>.</footer>\n</body></html>\n";
    return out;
}

}  // namespace brisk::report
