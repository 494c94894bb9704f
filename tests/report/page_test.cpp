// The page as a whole: self-contained, small for a day-long run, every event
// kept, and plain words for a run that did not finish or a log that breaks.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "report/log_generator.h"
#include "report/report_page.h"

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

}  // namespace
}  // namespace brisk::report
