// The page as a whole: self-contained, small for a day-long run, every event
// kept, and plain words for a run that did not finish or a log that breaks.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <regex>
#include <sstream>

#include "report/log_generator.h"
#include "report/chart_series.h"
#include "report/report_page.h"
#include "report/run_periods.h"
#include "report/weighing.h"

namespace brisk::report {
namespace {

std::string Page(const test::LogShape& shape, size_t cut = std::string::npos) {
    std::istringstream in(test::MakeLog(shape).substr(0, cut));
    const LogReadResult r = ReadLoggedRun(in);
    EXPECT_TRUE(r.isBriskLog);
    return RenderReport(r.log, "run <1>.csv", "0.1.0");
}

int Count(const std::string& s, const std::string& what) {
    int n = 0;
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) {
        ++n;
    }
    return n;
}

TEST(Page, ADayLongRunIsSmallSelfContainedAndKeepsEveryEvent) {
    test::LogShape shape;
    shape.seconds = 86400;
    shape.cycleSeconds = 600.0;
    const std::string page = Page(shape);
    EXPECT_LT(page.size(), 3u << 20);
    for (const char* outside : {"<script", "<link", "http:", "https:", "url(", "@import", "src="}) {
        EXPECT_EQ(page.find(outside), std::string::npos) << outside;
    }
    // 144 cycles of 8 events, most sharing a pixel column with others.
    int events = 0;
    const std::regex marker("data-events=\"([0-9]+)\"");
    for (auto it = std::sregex_iterator(page.begin(), page.end(), marker);
         it != std::sregex_iterator(); ++it) {
        events += std::stoi((*it)[1]);
    }
    EXPECT_EQ(events, 144 * 8);
    EXPECT_NE(page.find("headset donned &#215;144"), std::string::npos);
    EXPECT_NE(page.find("&#8230; and 655 more"), std::string::npos);
    for (const char* chart :
         {"chart-fps", "chart-imu", "chart-gaps", "chart-motion", "chart-prox"}) {
        EXPECT_NE(page.find(std::string("<g id=\"") + chart + "\" class=\"chart\" data-box="),
                  std::string::npos)
            << chart;
    }
    EXPECT_NE(page.find("run &lt;1&gt;.csv"), std::string::npos);
}

TEST(Page, CrowdedEventsShareAMarkerThatCountsThem) {
    test::LogShape shape;
    shape.seconds = 20;
    shape.cycleSeconds = 1000.0;  // none of the cycle's own events yet
    shape.extraEventsPerSecond = 3;
    const std::string page = Page(shape);
    // Each second's three doffs fall into one pixel column.
    EXPECT_EQ(Count(page, "class=\"marker\""), 20);
    EXPECT_EQ(Count(page, "data-events=\"3\"><title>3 events, "), 20);
    EXPECT_NE(page.find("headset doffed &#215;3</title>"), std::string::npos);
}

TEST(Page, TheWornBandIsTheOneTheRunLogged) {
    test::LogShape shape;
    EXPECT_EQ(Count(Page(shape), "worn at 1600 or more, away at 1400 or less"), 1);  // older logs
    shape.proxWornAt = "1700";
    shape.proxAwayAt = "1300";
    EXPECT_EQ(Count(Page(shape), "worn at 1700 or more, away at 1300 or less"), 1);
}

TEST(Page, VerdictAndWhatStoppedTheLogInPlainWords) {
    test::LogShape fail;
    fail.verdict = "FAIL";
    fail.failReasons = "no frames; present errors";
    const std::string failed = Page(fail);
    EXPECT_NE(failed.find("class=\"verdict fail\"><div class=\"big\">FAIL</div>"
                          "<div class=\"why\">Why: no frames; present errors</div>"),
              std::string::npos);

    test::LogShape crashed;
    crashed.seconds = 30;
    crashed.finished = false;
    const std::string unfinished = Page(crashed);
    EXPECT_NE(unfinished.find("The run did not finish: the log stops at "
                              "2026-12-08T00:00:30.002Z (elapsed 30.002 s)."),
              std::string::npos);
    EXPECT_EQ(unfinished.find("id=\"stopped\""), std::string::npos);

    const std::string cut = Page(crashed, test::MakeLog(crashed).size() - 20);
    EXPECT_NE(cut.find("(elapsed 29.001 s)."), std::string::npos);
    EXPECT_NE(cut.find("The log could not be read past row 36 (last row read: elapsed 29.001 s): "
                       "row 36 is cut off: the log ends in the middle of it."),
              std::string::npos);

    test::LogShape sensors;
    sensors.sensorsOnly = true;
    sensors.verdict = "PASS (sensors only)";
    EXPECT_NE(Page(sensors).find("no display in this run"), std::string::npos);
}

// A display run's status rows a second apart, as the tool logs them: the IMU
// lost at 3.5 s and back at 6.2 s (its readings held meanwhile), no rows
// between 7 and 10 s, and the present loop ended 0.2 s into the last row's
// second.
LoggedRun RunWithOutages() {
    LoggedRun log;
    StatusSeries& s = log.status;
    for (double t : {1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 10.0, 11.0}) {
        const bool imu = t < 4.0 || t > 6.0;
        s.elapsed.push_back(t);
        s.fps.push_back(t == 11.0 ? 15.0f : 75.0f);
        s.imuHz.push_back(imu ? 1000.0f : 0.0f);
        s.imuAgeS.push_back(imu ? 0.001f : static_cast<float>(t - 3.5));
        s.accelMag.push_back(8192.0f);
        s.proxDistance.push_back(1700.0f);
        for (auto* v : {&s.frameGapMs, &s.seqGaps, &s.stalls, &s.gyroX, &s.gyroY, &s.gyroZ}) {
            v->push_back(0.0f);
        }
        s.worn.push_back(1);
        s.freeRun.push_back(0);
    }
    log.events = {{3.5, EventKind::ImuLost, ""},     {6.2, EventKind::ImuBack, ""},
                  {8.0, EventKind::McuLost, ""},     {10.5, EventKind::PresentResult, ""},
                  {11.01, EventKind::ImuResult, ""}, {11.02, EventKind::Verdict, ""}};
    log.lastElapsed = 11.03;
    log.firstMessageElapsed = 0.25;
    log.summary.present = true;
    log.summary.elapsed = 11.03;
    log.summary.verdict = "PASS";
    log.run.commandLine = "--log run.csv 10";
    return log;
}

std::string Drawn(const std::vector<float>& v) {
    std::string out;
    for (float f : v) {
        out += std::isnan(f) ? '_' : 'x';
    }
    return out;
}

TEST(Page, ChartsLeaveOutWhatMeasuresNothingAndSaySo) {
    const LoggedRun log = RunWithOutages();
    const ChartSeries c = SeriesToDraw(log);
    EXPECT_EQ(Drawn(c.status.fps), "xxxxxxxx_");    // the present loop's last, partial second
    EXPECT_EQ(Drawn(c.status.imuHz), "xxxxxxxxx");  // the stream ran to the end
    EXPECT_EQ(Drawn(c.status.accelMag), "xxx___xxx");
    EXPECT_EQ(Drawn(c.status.proxDistance), "xxxxxxx__");  // the MCU gone from 8 s on
    EXPECT_EQ(Drawn(c.status.imuAgeS), "xxxxxxxxx");       // the age is what shows the outage
    EXPECT_DOUBLE_EQ(c.rowGapLimit, 1.5);
    EXPECT_EQ(c.notes,
              (std::vector<std::string>{
                  "The frames chart leaves out the status row at 11.000 s: the present loop "
                  "ended 0.500 s into its 1.000 s.",
                  "The accelerometer and gyroscope lines break at the 3 status rows with no new "
                  "IMU sample: those rows hold the last reading.",
                  "The proximity line breaks at the 2 status rows while the MCU was gone: those "
                  "rows hold its last distance.",
                  "No status rows between 7.000 s and 10.000 s: every line breaks there."}));
    // Without IMU: lost 3.5 to 6.2 s; and lost again at 9 s, to the end.
    EXPECT_NEAR(SecondsWithoutImu(log), 2.7, 1e-9);
    LoggedRun gone = log;
    gone.events.push_back({9.0, EventKind::ImuLost, ""});
    EXPECT_NEAR(SecondsWithoutImu(gone), 2.7 + 2.03, 1e-9);
    EXPECT_TRUE(std::isnan(SecondsWithoutImu(LoggedRun{})));
}

TEST(Page, FindingsTheVerdictDidNotWeighAreSaidToBe) {
    const std::vector<LogEvent> none,
        lostBack = {{2, EventKind::ImuLost, ""}, {3, EventKind::ImuBack, ""}},
        gone = {
            {1, EventKind::ImuBack, ""}, {2, EventKind::ImuLost, ""}, {4, EventKind::McuLost, ""}};
    const std::string stuck = "IMU health: gyro x stuck; gyro y stuck";
    // `counted`: the fail codes of a log with the reasons table's columns,
    // the fail reasons' words of an older one; `noted` only in the former.
    struct Case {
        const char* name;
        bool tableLogged;
        std::string flags, counted, noted, commandLine;
        const std::vector<LogEvent>& events;
        std::string unweighed;  // "what (why)", " | " between them
        bool healthWeighed;
    };
    const Case cases[] = {
        {"noted, as logged", true, "gyro x stuck", "", "IMU absent for 4.0 s; " + stuck, "",
         lostBack, "IMU absent for 4.0 s; " + stuck + " (no --fail-on item asked for them)", false},
        {"counted", true, "gyro x stuck", "imu_lost;imu_health", "", "", gone, "", true},
        {"older log: flags without --imu-health", false, "gyro x stuck", "", "", "--log r.csv 20",
         none, "the IMU health flags (gyro x stuck) (the run was made without --imu-health)",
         false},
        {"older log: flags weighed", false, "gyro x stuck", stuck, "", "--imu-health 20", none, "",
         true},
        {"older log: asked for, failed for another reason", false, "gyro x stuck", "present errors",
         "", "--imu-health 20", none, "the IMU health flags (gyro x stuck)", false},
        {"older log: IMU lost and back", false, "", "", "", "", lostBack, "", false},
        {"older log: IMU and MCU lost, not back", false, "", "", "", "", gone,
         "the IMU, lost at 2.000 s and not back | the MCU, lost at 4.000 s and not back", false},
    };
    for (const Case& c : cases) {
        LoggedRun log;
        log.summary.present = true;
        log.summary.imuHealth.flags = c.flags;
        log.summary.reasonsLogged = c.tableLogged;
        (c.tableLogged ? log.summary.failCodes : log.summary.failReasons) = c.counted;
        log.summary.notedReasons = c.noted;
        log.run.commandLine = c.commandLine;
        log.events = c.events;
        std::string got;
        for (const UnweighedFinding& f : FindingsNotWeighed(log)) {
            got += (got.empty() ? "" : " | ") + f.what + (f.why.empty() ? "" : " (" + f.why + ")");
        }
        EXPECT_EQ(got, c.unweighed) << c.name;
        EXPECT_EQ(HealthFlagsWeighed(log.summary), c.healthWeighed) << c.name;
        log.summary.present = false;
        EXPECT_TRUE(FindingsNotWeighed(log).empty()) << c.name << ": no verdict, nothing weighed";
    }
}

TEST(Page, OneClockAndUnweighedFlagsOnThePage) {
    LoggedRun log = RunWithOutages();
    LoggedHealth& h = log.summary.imuHealth;
    h.present = true;
    h.flags = "gyro y stuck";
    h.axes[4] = ParseAxisCell("0 1 0 0 0 - 4.740");  // stuck 4.74 s into the stream
    const std::string page = RenderReport(log, "run.csv", "0.1.0");
    // The stream began with the IMU's opening, the log's first line at 0.25 s.
    EXPECT_EQ(Count(page, "<td>from 4.990 s</td>"), 1);
    EXPECT_EQ(Count(page,
                    "Flags: gyro y stuck<br><strong id=\"imu-flags-not-weighed\">Not "
                    "weighed in the verdict (the run was made without --imu-health)."),
              1);
    EXPECT_EQ(Count(page, "<li>The frames chart leaves out"), 1);
    // Every chart has its scale on both sides.
    EXPECT_EQ(Count(page, "text-anchor=\"start\" fill="), Count(page, "text-anchor=\"end\" fill="));
}

// The photodiode map: both views hold every photodiode with a position, each
// dot in its state's colour, mirrored as a viewer sees the unit; the legend
// and the table count them all; no rows, no section.
TEST(Page, PhotodiodesAreDrawnInTwoViewsByState) {
    using S = LoggedPdState;
    auto pd = [](double channel, double x, double y, double z, S state, const char* why = "") {
        return LoggedPhotodiode{channel, channel + 100, x, y, z, 0.0, 0.0, 1.0, 500, state, why};
    };
    LoggedRun log;
    log.photodiodes = {
        pd(1, 0.08, 0.0, 0.05, S::kOk),  // +x, on the front (+z) face
        pd(2, -0.08, 0.0, 0.05, S::kOk),
        pd(3, 0.0, 0.04, -0.02, S::kDead, "no pulse <at all>"),  // top, further back
        pd(4, 0.0, -0.04, 0.05, S::kWeak),
        pd(5, 0.02, 0.02, 0.05, S::kAbnormal),
        pd(6, -0.02, 0.02, -0.05, S::kUnlit),
        pd(7, NAN, 0.0, 0.0, S::kUnknown),  // damaged: listed, not drawn
    };
    const std::string page = RenderReport(log, "run.csv", "0.1.0");
    ASSERT_EQ(Count(page, "<section id=\"photodiode-map\">"), 1);
    const std::map<std::string, std::string> colours = {
        {"ok", "#2e7d32"},       {"dead", "#c62828"},  {"weak", "#f9a825"},
        {"abnormal", "#8e24aa"}, {"unlit", "#bdbdbd"},
    };
    const std::regex dot(
        "<circle class=\"pd pd-([a-z]+)\" cx=\"([-0-9.]+)\" cy=\"([-0-9.]+)\" r=\"[0-9.]+\" "
        "fill=\"(#[0-9a-f]{6})\"");
    for (const std::string view : {"pd-front", "pd-side"}) {
        const size_t from = page.find("<svg id=\"" + view + "\"");
        ASSERT_NE(from, std::string::npos) << view;
        const std::string svg = page.substr(from, page.find("</svg>", from) - from);
        std::map<std::string, std::vector<std::pair<double, double>>> at;  // by state
        for (auto it = std::sregex_iterator(svg.begin(), svg.end(), dot);
             it != std::sregex_iterator(); ++it) {
            at[(*it)[1]].emplace_back(std::stod((*it)[2]), std::stod((*it)[3]));
            EXPECT_EQ((*it)[4].str(), colours.at((*it)[1])) << view;
        }
        std::map<std::string, size_t> counts;
        for (const auto& [state, dots] : at) {
            counts[state] = dots.size();
        }
        EXPECT_EQ(counts, (std::map<std::string, size_t>{
                              {"ok", 2}, {"dead", 1}, {"weak", 1}, {"abnormal", 1}, {"unlit", 1}}))
            << view;
        ASSERT_EQ(at["ok"].size(), 2u);
        const auto ok = at["ok"], dead = at["dead"];
        if (view == "pd-front") {
            // Facing the +z face, +x is on the right; up is up.
            EXPECT_GT(ok[0].first, ok[1].first);
            EXPECT_LT(dead[0].second, ok[0].second);
        } else {
            // Looking along +x, the front (+z) is on the right: the ok dots
            // are both at the front and one place; the dead one further back.
            EXPECT_DOUBLE_EQ(ok[0].first, ok[1].first);
            EXPECT_LT(dead[0].first, ok[0].first);
        }
        // Only the troubled channels are labelled.
        EXPECT_EQ(Count(svg, "font-size=\"11\">"), 3) << view;
    }
    for (const char* entry :
         {"ok (2)", "dead (1)", "weak (1)", "abnormal (1)", "unlit (1)", "unknown (1)"}) {
        EXPECT_EQ(Count(page, std::string("</i>") + entry + "</span>"), 1) << entry;
    }
    const size_t table = page.find("<table id=\"photodiodes\">");
    ASSERT_NE(table, std::string::npos);
    EXPECT_EQ(Count(page.substr(table, page.find("</table>", table) - table), "<tr>"), 1 + 7);
    EXPECT_EQ(Count(page, "no pulse &lt;at all&gt;"), 1);
    EXPECT_EQ(Count(page, "1 photodiode without a readable position"), 1);
    EXPECT_EQ(Count(RenderReport(LoggedRun(), "run.csv", "0.1.0"), "photodiode"), 0);
}

}  // namespace
}  // namespace brisk::report
