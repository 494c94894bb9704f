#include "report/report_page.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string_view>

#include "report/chart_series.h"
#include "report/charts.h"
#include "report/health_section.h"
#include "report/html.h"
#include "report/page_style.h"
#include "report/page_text.h"
#include "report/photodiode_section.h"
#include "report/series.h"
#include "report/weighing.h"

namespace brisk::report {
namespace {

bool Passed(const std::string& verdict) {
    return verdict.starts_with("PASS");
}

// What the page shows below that this verdict did not weigh.
void NotWeighedList(std::string& out, const std::vector<UnweighedFinding>& findings) {
    if (findings.empty()) {
        return;
    }
    out +=
        "<div id=\"not-weighed\" class=\"unweighed\">Shown on this page but not weighed in this "
        "verdict:<ul>";
    for (const UnweighedFinding& f : findings) {
        out += "<li>";
        AppendEscaped(out, f.what);
        if (!f.why.empty()) {
            out += " (";
            AppendEscaped(out, f.why);
            out += ")";
        }
        out += "</li>";
    }
    out += "</ul></div>";
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
        NotWeighedList(out, FindingsNotWeighed(log));
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
        // The labels' room after the longest bar, from their length (digits
        // of 12 px text are under 7 px wide), so "1000.14 ms" is never cut.
        constexpr int kBarLeft = 48, kBarWidth = 260, kCharPx = 7;
        size_t longest = 0;
        std::string labels[std::size(bars)];
        for (size_t i = 0; i < std::size(bars); ++i) {
            if (!std::isnan(bars[i].second) && bars[i].second > 0.0) {
                Fmt(labels[i], "%.2f ms", bars[i].second);
                longest = std::max(longest, labels[i].size());
            }
        }
        const int width = kBarLeft + kBarWidth + 6 + static_cast<int>(longest) * kCharPx + 8;
        Fmt(out,
            "<svg id=\"percentiles\" width=\"%d\" height=\"96\" viewBox=\"0 0 %d 96\" "
            "role=\"img\"><title>frame interval percentiles, ms</title>",
            width, width);
        int y = 4;
        for (size_t i = 0; i < std::size(bars); ++i) {
            Fmt(out, "<text x=\"%d\" y=\"%d\" text-anchor=\"end\">%s</text>", kBarLeft - 6, y + 14,
                bars[i].first);
            if (!labels[i].empty()) {
                const double w = std::max(1.0, bars[i].second / top * kBarWidth);
                Fmt(out,
                    "<rect x=\"%d\" y=\"%d\" width=\"%.1f\" height=\"16\" fill=\"#5c6bc0\"/>"
                    "<text x=\"%.1f\" y=\"%d\">%s</text>",
                    kBarLeft, y + 2, w, kBarLeft + w + 6, y + 14, labels[i].c_str());
            }
            y += 22;
        }
        out += "</svg>";
    }
    out += "</div></section>";
}

void TimelineSection(std::string& out, const LoggedRun& log) {
    const ChartSeries drawn = SeriesToDraw(log);
    const StatusSeries& st = drawn.status;
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
        c.leftStep = 1.0;
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
        c.leftStep = 1.0;
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
        c.leftStep = 1.0;
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
        c.leftStep = c.rightStep = 1.0;
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
        c.leftStep = 1.0;
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
        DrawChart(out, charts[i], drawn, x0, x1, chartsTop + static_cast<int>(i) * chartStride,
                  ticks);
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
    if (!drawn.notes.empty()) {
        out += "<ul id=\"chart-notes\" class=\"small\">";
        for (const std::string& note : drawn.notes) {
            out += "<li>";
            AppendEscaped(out, note);
            out += "</li>";
        }
        out += "</ul>";
    }
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

// Where the IMU stream began on the page's clock. The tool opens the IMU
// first, and its first report follows the opening within a report interval:
// the log's first message row, printed as the IMU is opened, is that moment
// to within a few milliseconds. The log does not carry it more closely.
double StreamStart(const LoggedRun& log) {
    return std::isnan(log.firstMessageElapsed) ? 0.0 : log.firstMessageElapsed;
}

std::string HealthNote(const LoggedRun& log) {
    if (log.summary.imuHealth.flags.empty() || HealthFlagsWeighed(log.summary)) {
        return "";
    }
    const std::string why = WhyHealthNotWeighed(log);
    return "Not weighed in the verdict" + (why.empty() ? std::string() : " (" + why + ")") + ".";
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
    HealthSection(out, log.summary.imuHealth, StreamStart(log), HealthNote(log));
    PhotodiodeSection(out, log);
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
