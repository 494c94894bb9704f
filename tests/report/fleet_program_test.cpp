// brisk-report LOG... -o FLEET.html as a lab runs it: the demo's own log (a
// brisk-sim run of the demo scenario) beside generated logs of two stations
// (a pass, a FAIL, a run cut off) and two logs that cannot be read. Headless
// Chromium builds the page; its rows are read back from the DOM it built, and
// every link goes to that run's own page.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "report/fleet_logs.h"
#include "report/report_program_fixture.h"
#include "support/headless_chromium.h"

namespace brisk::test {
namespace {

namespace fs = std::filesystem;

using FleetProgram = ReportProgramTest;

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> Texts(const std::vector<TimedLine>& lines) {
    std::vector<std::string> out;
    for (const TimedLine& l : lines) {
        out.push_back(l.text);
    }
    return out;
}

// A table row as the browser built it: its class, its cells' text, and the
// first cell's link.
struct DomRow {
    std::string cls, href;
    std::vector<std::string> cells;
};

std::string TextOf(std::string html) {
    html = std::regex_replace(html, std::regex("<[^>]*>"), "");
    for (const auto& [entity, c] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}}) {
        for (size_t at = html.find(entity); at != std::string::npos; at = html.find(entity, at)) {
            html.replace(at, std::string(entity).size(), c);
        }
    }
    return html == "\xE2\x80\x94" ? "" : html;  // the dash of a missing figure
}

std::vector<DomRow> RowsOf(const std::string& dom, const std::string& tableId) {
    const size_t from = dom.find("<table id=\"" + tableId + "\"");
    const std::string table = dom.substr(from, dom.find("</table>", from) - from);
    std::vector<DomRow> rows;
    const std::regex row("<tr class=\"[a-z]+ ([a-z]+)\">([^]*?)</tr>");
    const std::regex cell("<td[^>]*>([^]*?)</td>");
    const std::regex href("href=\"([^\"]*)\"");
    for (auto r = std::sregex_iterator(table.begin(), table.end(), row);
         r != std::sregex_iterator(); ++r) {
        DomRow& out = rows.emplace_back();
        out.cls = (*r)[1];
        const std::string body = (*r)[2];
        for (auto c = std::sregex_iterator(body.begin(), body.end(), cell);
             c != std::sregex_iterator(); ++c) {
            out.cells.push_back(TextOf((*c)[1]));
        }
        std::smatch link;
        if (std::regex_search(body, link, href)) {
            out.href = link[1];
        }
    }
    return rows;
}

// Cells as expected: exact text, or a pattern after "~".
void ExpectCells(const DomRow& row, const std::string& cls, const std::vector<std::string>& want) {
    EXPECT_EQ(row.cls, cls) << want[0];
    ASSERT_EQ(row.cells.size(), want.size()) << want[0];
    for (size_t i = 0; i < want.size(); ++i) {
        if (want[i].starts_with("~")) {
            EXPECT_TRUE(std::regex_match(row.cells[i], std::regex(want[i].substr(1))))
                << want[0] << " cell " << i << ": " << row.cells[i];
        } else {
            EXPECT_EQ(row.cells[i], want[i]) << want[0] << " cell " << i;
        }
    }
}

// The station a log's run row names: the demo's is the host's (or empty in a
// build without --station), so it is read from the log. Its header and run
// row have no quoted cells.
std::string StationOf(const std::string& log) {
    std::istringstream text(Slurp(log));
    std::string header, run;
    std::getline(text, header);
    std::getline(text, run);
    const auto cells = [](const std::string& row) {
        std::vector<std::string> out(1);
        for (char c : row) {
            if (c == ',') {
                out.emplace_back();
            } else if (c != '\r') {
                out.back() += c;
            }
        }
        return out;
    };
    const std::vector<std::string> names = cells(header), values = cells(run);
    const auto at = std::find(names.begin(), names.end(), "station") - names.begin();
    EXPECT_EQ(names.size(), values.size());
    return static_cast<size_t>(at) < values.size() ? values[static_cast<size_t>(at)] : "?";
}

TEST_F(FleetProgram, DemoAndTwoStationsInChromiumGiveTheRightRows) {
    if (!fs::exists(kChromiumPath)) {
        GTEST_SKIP() << kChromiumPath << " is not installed (scripts/deps installs it)";
    }
    const std::string demo = (dir / "demo.csv").string();
    RunOptions slow;
    slow.timeoutSeconds = 100;
    const RunResult sim = RunProgram(
        {BRISK_SIM_PATH, "--scenario", BRISK_DEMO_SCENARIO, "--", "--log", demo, "20"}, slow);
    ASSERT_TRUE(sim.exited && sim.exitCode == 0) << Describe(sim);
    const std::string demoStation = StationOf(demo);

    const auto at = [](int hour) {
        return std::chrono::system_clock::time_point(
            std::chrono::seconds(1796688000 + hour * 3600));
    };
    FleetLogShape pass;
    pass.station = "station-a";
    pass.imuSerial = "LHR-AAAA0001";
    pass.start = at(0);
    pass.imuUnplugs = 1;
    pass.donDoffs = 1;
    FleetLogShape fail = pass;
    fail.station = "station-b";
    fail.start = at(1);
    fail.imuUnplugs = 0;
    fail.donDoffs = 2;
    fail.presentErrors = 4;
    fail.seqGaps = 3;
    fail.p99Ms = 33.5;
    fail.imuGoneAt = 50;
    FleetLogShape cut = fail;
    cut.imuGoneAt = 0;
    fail.photodiodes = 32;  // --optical, one photodiode dead
    fail.deadPhotodiodes = 1;
    cut.imuSerial = "LHR-BBBB0002";
    cut.start = at(2);
    cut.seqGaps = 4;
    cut.finished = false;
    const std::string a = Write("lab/a/run.csv", MakeFleetLog(pass));
    const std::string b = Write("lab/b/run.csv", MakeFleetLog(fail));
    const std::string night = Write("lab/b/night.csv", MakeFleetLog(cut));
    const std::string notes = Write("lab/b/notes.csv", "hello,world\r\n");
    Write("lab/b/readme.txt", "not a log, not read");
    const std::string missing = (dir / "missing.csv").string();
    fs::create_directories(dir / "out");
    const fs::path fleet = dir / "out" / "fleet.html";

    const RunResult report = RunReport({(dir / "lab" / "a").string(), (dir / "lab" / "b").string(),
                                        missing, demo, "-o", fleet.string()});
    ASSERT_TRUE(report.exited && report.exitCode == 0) << Describe(report);
    EXPECT_EQ(
        Texts(report.err),
        (std::vector<std::string>{
            "brisk-report: " + notes + ": not a brisk run log (the first row has no 'time' column)",
            "brisk-report: " + missing + ": cannot read (No such file or directory)"}));
    EXPECT_EQ(Texts(report.out),
              (std::vector<std::string>{"brisk-report: wrote " + fleet.string() +
                                        " (6 runs, 2 logs not read; run pages in " +
                                        (dir / "out" / "fleet-runs").string() + ")"}));

    const RunResult browser =
        RunHeadlessChromium((dir / "profile").string(), fleet.string(), {"--dump-dom"});
    ASSERT_TRUE(browser.exited && browser.exitCode == 0) << Describe(browser);
    EXPECT_EQ(ConsoleMessages(browser), std::vector<std::string>{});
    std::string dom;
    for (const TimedLine& l : browser.out) {
        dom += l.text + "\n";
    }
    EXPECT_NE(dom.find("<div class=\"big\">2 of 6 runs passed</div><div class=\"why\">1 failed, "
                       "1 did not finish, 2 logs not read</div>"),
              std::string::npos);

    // Failed runs first, then unfinished, then passes; each by station, then
    // start. The demo's station is whatever its host is called.
    const std::string number = "~[0-9]+", ms = "~[0-9]+\\.[0-9]{2}";
    struct Want {
        int rank;
        std::string station, cls;
        std::vector<std::string> cells;
        std::string pageVerdict;
    };
    std::vector<Want> readable = {
        {2,
         "station-a",
         "pass",
         {a, "station-a", "LHR-AAAA0001", "2026-12-08 00:00:00 UTC", "1:00", "PASS", "", "2.1",
          "1 / 1", "0 / 0", "0", "14.02", "0", "2", "1", "1", "", "", ""},
         "PASS"},
        {1,
         "station-b",
         "unfinished",
         {night, "station-b", "LHR-BBBB0002", "2026-12-08 02:00:00 UTC", "1:00", "NO VERDICT",
          "did not finish: the log stops at elapsed 60.004 s", "0.0", "0 / 0", "0 / 0", "", "", "4",
          "0", "2", "2", "", "", ""},
         "NO VERDICT"},
        // The IMU lost at 49.5 s and not back, to the run's end at 60.5 s.
        {0,
         "station-b",
         "fail",
         {b, "station-b", "LHR-AAAA0001", "2026-12-08 01:00:00 UTC", "1:00", "FAIL",
          "4 present errors; IMU lost at 49.5 s and not back", "11.0", "1 / 0", "0 / 0", "0",
          "33.50", "3", "11", "2", "2", "", "", "1"},
         "FAIL"},
        {2,
         demoStation,
         "pass",
         {demo, demoStation, "LHR-5A1B2C3D", "~20[0-9-]{8} [0-9:]{8} UTC", "~0:2[0-9]", "PASS", "",
          "~[3-5]\\.[0-9]", "1 / 1", "0 / 0", number, ms, number, number, "1", "1", "", "", ""},
         "PASS"},
    };
    std::stable_sort(readable.begin(), readable.end(), [](const Want& x, const Want& y) {
        return std::tie(x.rank, x.station, x.cells[3]) < std::tie(y.rank, y.station, y.cells[3]);
    });
    const std::vector<DomRow> runs = RowsOf(dom, "runs");
    ASSERT_EQ(runs.size(), 6u) << dom;
    for (size_t i = 0; i < readable.size(); ++i) {
        ExpectCells(runs[i], readable[i].cls, readable[i].cells);
        // The link goes to the run's own page, beside the fleet page.
        const std::string page = Slurp(fleet.parent_path() / runs[i].href);
        EXPECT_NE(page.find("<title>brisk run: " + readable[i].pageVerdict + " &#8212; " +
                            fs::path(readable[i].cells[0]).filename().string() + "</title>"),
                  std::string::npos)
            << runs[i].href;
        // The photodiode map only on the page of the run with --optical.
        EXPECT_EQ(page.find("<section id=\"photodiode-map\">") != std::string::npos,
                  readable[i].cells[18] == "1")
            << runs[i].href;
    }
    EXPECT_NE(runs[0].href, runs[2].href);
    // The figures, then the firmware and identity of a run without --identity,
    // and its dead photodiodes without --optical.
    const std::vector<std::string> none(12, "");
    std::vector<std::string> unread = {notes,
                                       "",
                                       "",
                                       "",
                                       "",
                                       "NOT READ",
                                       "not a brisk run log (the first row has no 'time' column)"};
    unread.insert(unread.end(), none.begin(), none.end());
    ExpectCells(runs[4], "unreadable", unread);
    unread[0] = missing;
    unread[6] = "cannot read (No such file or directory)";
    ExpectCells(runs[5], "unreadable", unread);
    EXPECT_EQ(runs[5].href, "");

    // The page's own script sorts on a heading's click: twice on "without
    // IMU" is the longest first, the logs without a figure last.
    std::string clicked = Slurp(fleet);
    clicked.insert(clicked.rfind("</body>"),
                   "<script>const h = document.querySelectorAll('#runs th')[7];"
                   "h.click(); h.click();</script>");
    const std::string sortedPage = Write("out/sorted.html", clicked);
    const RunResult sorting =
        RunHeadlessChromium((dir / "profile").string(), sortedPage, {"--dump-dom"});
    ASSERT_TRUE(sorting.exited && sorting.exitCode == 0) << Describe(sorting);
    EXPECT_EQ(ConsoleMessages(sorting), std::vector<std::string>{});
    std::string sortedDom;
    for (const TimedLine& l : sorting.out) {
        sortedDom += l.text + "\n";
    }
    std::vector<std::string> withoutImu;
    for (const DomRow& r : RowsOf(sortedDom, "runs")) {
        withoutImu.push_back(r.cells.size() > 7 ? r.cells[7] : "?");
    }
    ASSERT_EQ(withoutImu.size(), 6u);
    EXPECT_EQ(withoutImu[0], "11.0");
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_GE(std::stod(withoutImu[i - 1]), std::stod(withoutImu[i])) << i;
    }
    EXPECT_EQ(withoutImu[4] + withoutImu[5], "") << "the unread logs, last";
    EXPECT_NE(sortedDom.find("aria-sort=\"descending\">without IMU, s</th>"), std::string::npos);

    const std::vector<DomRow> serials = RowsOf(dom, "serials");
    ASSERT_EQ(serials.size(), 3u) << dom;
    ExpectCells(serials[0], "pass",
                {"LHR-5A1B2C3D", "1", "1", demoStation.empty() ? "(unnamed)" : demoStation, ms,
                 number, number, "1"});
    ExpectCells(serials[1], "fail",
                {"LHR-AAAA0001", "2", "1", "station-a, station-b", "33.50", "3", "11", "1"});
    ExpectCells(serials[2], "fail", {"LHR-BBBB0002", "1", "0", "station-b", "", "4", "0", "0"});
}

TEST_F(FleetProgram, SaysWhatIsWrongAndWritesNothingWhenNoLogReads) {
    FleetLogShape shape;
    shape.seconds = 10;
    const std::string log = Write("run.csv", MakeFleetLog(shape));
    const std::string notes = Write("notes.csv", "hello,world\r\n");
    const std::string missing = (dir / "missing.csv").string();
    fs::create_directories(dir / "empty");
    const std::string empty = (dir / "empty").string();
    const std::string out = (dir / "fleet.html").string();
    const std::string needsO =
        "brisk-report: a fleet page (several LOGs or a folder) needs -o "
        "FLEET.html (brisk-report --help for usage)";
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::vector<std::string> err;
    };
    const Case cases[] = {
        {{log, log}, 64, {needsO}},
        {{dir.string()}, 64, {needsO}},
        {{missing, notes, "-o", out},
         66,
         {"brisk-report: " + missing + ": cannot read (No such file or directory)",
          "brisk-report: " + notes + ": not a brisk run log (the first row has no 'time' column)",
          "brisk-report: none of the 2 logs could be read; no page written"}},
        {{empty, "-o", out},
         66,
         {"brisk-report: " + empty + ": no .csv logs in the folder",
          "brisk-report: no logs to read; no page written"}},
        {{log, log, "-o", (dir / "no" / "fleet.html").string()},
         73,
         {"brisk-report: " + (dir / "no" / "fleet-runs").string() +
          ": cannot make the folder for the run pages (No such file or directory)"}},
    };
    for (const Case& c : cases) {
        const RunResult r = RunReport(c.args);
        EXPECT_TRUE(r.exited && r.exitCode == c.exitCode) << Describe(r);
        EXPECT_EQ(Texts(r.err), c.err) << Describe(r);
        EXPECT_TRUE(r.out.empty()) << Describe(r);
        EXPECT_FALSE(fs::exists(out));
        EXPECT_FALSE(fs::exists(dir / "fleet-runs"));
    }
}

}  // namespace
}  // namespace brisk::test
