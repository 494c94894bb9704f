// The fleet page's pieces: a log brought down to its row (read from logs the
// tool's own row functions wrote), the rows brought down per IMU serial, the
// table's order and cells, the run pages' names and links, and the page.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "log/log_rows.h"
#include "report/fleet_files.h"
#include "report/fleet_logs.h"
#include "report/fleet_page.h"
#include "report/fleet_rows.h"
#include "report/log_generator.h"

namespace brisk::report {
namespace {

LoggedRun Read(const std::string& text) {
    std::istringstream in(text);
    LogReadResult r = ReadLoggedRun(in);
    EXPECT_TRUE(r.isBriskLog) << r.notBriskReason;
    return r.log;
}

using Cells = std::array<std::string, kRunColumns.size()>;

TEST(FleetRows, EachLogGivesItsRow) {
    test::FleetLogShape twoUnplugs;
    twoUnplugs.station = "bench <3>";
    twoUnplugs.imuUnplugs = 2;
    twoUnplugs.donDoffs = 1;
    twoUnplugs.seqGaps = 5;
    test::FleetLogShape failed;
    failed.imuSerial = "LHR-FFFF0001";
    failed.seconds = 3700;
    failed.presentErrors = 2;
    failed.p99Ms = 33.5;
    test::FleetLogShape cut = twoUnplugs;
    cut.seconds = 100;
    cut.donDoffs = 3;
    cut.finished = false;
    // Words that read as a don but carry no event: not counted, as the page
    // counts what the log says a line marks, never its words.
    std::string decoy = test::MakeFleetLog(failed);
    const size_t third = decoy.find("\r\n", decoy.find("\r\n") + 2) + 2;
    decoy.insert(third, FormatLogRow(MessageRow(false, "prox: headset DONNED (distance 1700)\n"),
                                     std::chrono::system_clock::time_point(), 0.07));
    // --identity: the block's lines, read again after a reconnect (the last
    // one counts); a run without it leaves both cells empty.
    auto withBlock = [](std::string log, const char* firmware, const char* problems) {
        const size_t third = log.find("\r\n", log.find("\r\n") + 2) + 2;
        log.insert(third,
                   FormatLogRow(MessageRow(false, std::string("Watchman identity problems: ") +
                                                      problems + "\n"),
                                std::chrono::system_clock::time_point(), 0.06));
        log.insert(third, FormatLogRow(MessageRow(false, std::string("Watchman firmware: ") +
                                                             firmware + "\n"),
                                       std::chrono::system_clock::time_point(), 0.05));
        return log;
    };
    const std::string sound = withBlock(
        test::MakeFleetLog(failed), "build 1462663157, hardware rev 3 (1.2.0), FPGA 1.9", "none");
    // Each block goes in before the ones already there: the inner one is the later.
    const std::string changed =
        withBlock(withBlock(test::MakeFleetLog(failed), "not read (no answer to 0x05 in 16 tries)",
                            "version_unreadable, watchman_changed"),
                  "build 1", "none");
    // A log from before the station and event columns still reads.
    test::LogShape old;
    old.seconds = 120;

    // Without IMU: the summary's figure, or (a run that did not finish, an
    // older log) each loss to its return in the events: 2.1 s an unplug
    // here, 6 s a cycle in the old log.
    const std::pair<std::string, Cells> cases[] = {
        {test::MakeFleetLog(twoUnplugs),
         {"a.csv", "bench <3>", "LHR-5A1B2C3D", "2026-12-08 00:00:00 UTC", "1:00", "PASS", "",
          "4.2", "2 / 2", "0 / 0", "0", "14.02", "5", "4", "1", "1"}},
        {decoy,
         {"a.csv", "bench-1", "LHR-FFFF0001", "2026-12-08 00:00:00 UTC", "1:01:40", "FAIL",
          "2 present errors", "0.0", "0 / 0", "0 / 0", "0", "33.50", "0", "0", "0", "0"}},
        {sound,
         {"a.csv", "bench-1", "LHR-FFFF0001", "2026-12-08 00:00:00 UTC", "1:01:40", "FAIL",
          "2 present errors", "0.0", "0 / 0", "0 / 0", "0", "33.50", "0", "0", "0", "0",
          "1462663157", "sound"}},
        {changed,
         {"a.csv", "bench-1", "LHR-FFFF0001", "2026-12-08 00:00:00 UTC", "1:01:40", "FAIL",
          "2 present errors", "0.0", "0 / 0", "0 / 0", "0", "33.50", "0", "0", "0", "0",
          "not read (no answer to 0x05 in 16 tries)", "version_unreadable, watchman_changed"}},
        {test::MakeFleetLog(cut),
         {"a.csv", "bench <3>", "LHR-5A1B2C3D", "2026-12-08 00:00:00 UTC", "1:40", "NO VERDICT",
          "did not finish: the log stops at elapsed 100.002 s", "4.2", "2 / 2", "0 / 0", "", "",
          "5", "4", "3", "3"}},
        {test::MakeLog(old),
         {"a.csv", "", "LHR-5A1B2C3D", "2026-12-08 00:00:00 UTC", "2:00", "PASS", "", "12.0",
          "2 / 2", "2 / 2", "1", "14.02", "2", "2", "2", "2"}},
    };
    for (const auto& [log, cells] : cases) {
        EXPECT_EQ(RunCells(SummariseRun(Read(log), "a.csv")), cells) << cells[2];
    }
    const LoggedRun broken = Read(test::MakeFleetLog(twoUnplugs).substr(0, 2000));
    const FleetRun stopped = SummariseRun(broken, "b.csv");
    EXPECT_EQ(stopped.outcome, RunOutcome::Unfinished);
    EXPECT_NE(stopped.reasons.find("; row "), std::string::npos) << stopped.reasons;
    // Counted by kind: a loss is not a reconnect, an MCU's return is not the IMU's.
    LoggedRun flapping;
    for (EventKind k :
         {EventKind::ImuLost, EventKind::ImuLost, EventKind::ImuBack, EventKind::McuBack,
          EventKind::Donned, EventKind::Doffed, EventKind::Doffed, EventKind::FreeRunBegin}) {
        flapping.events.push_back(LogEvent{1.0, k, "?"});
    }
    const FleetRun flapped = SummariseRun(flapping, "f.csv");
    EXPECT_EQ(flapped.reconnects, 1u);
    EXPECT_EQ(flapped.imuLost, 2u);
    EXPECT_EQ(flapped.mcuLost, 0u);
    EXPECT_EQ(flapped.mcuBack, 1u);
    EXPECT_EQ(flapped.donned, 1u);
    EXPECT_EQ(flapped.doffed, 2u);
    EXPECT_EQ(
        RunCells(UnreadableRun("gone.csv", "cannot read (No such file or directory)")),
        (Cells{"gone.csv", "", "", "", "", "NOT READ", "cannot read (No such file or directory)",
               "", "", "", "", "", "", "", "", ""}));
}

FleetRun MadeRun(const char* station, const char* serial, RunOutcome outcome, double p99,
                 double gaps, double stalls, uint64_t reconnects, const char* started = "") {
    FleetRun r;
    r.logName = std::string(station) + ".csv";
    r.station = station;
    r.imuSerial = serial;
    r.outcome = outcome;
    r.p99Ms = p99;
    r.seqGaps = gaps;
    r.stalls = stalls;
    r.reconnects = reconnects;
    r.started = started;
    return r;
}

TEST(FleetRows, PerSerialRunsPassesAndWorstFigures) {
    const std::vector<FleetRun> runs = {
        MadeRun("b", "LHR-2", RunOutcome::Pass, 14.1, 0, 1, 0),
        MadeRun("a", "LHR-1", RunOutcome::Fail, 30.0, 2, 0, 1),
        MadeRun("", "", RunOutcome::Fail, NAN, NAN, NAN, 0),
        MadeRun("c", "LHR-2", RunOutcome::Unfinished, NAN, 7, NAN, 4),
        MadeRun("a", "LHR-2", RunOutcome::Pass, 15.5, 3, 0, 2),
        UnreadableRun("x.csv", "not a brisk run log (the file is empty)"),
        MadeRun("a", "LHR-1", RunOutcome::Pass, 14.0, 0, 0, 0),
    };
    const std::vector<SerialFigures> got = BySerial(runs);
    struct Want {
        const char* serial;
        size_t runs, passes;
        std::vector<std::string> stations;
        double p99, gaps, stalls;
        uint64_t reconnects;
    };
    const Want want[] = {
        {"LHR-1", 2, 1, {"a"}, 30.0, 2, 0, 1},
        {"LHR-2", 3, 2, {"a", "b", "c"}, 15.5, 7, 1, 4},
        {"", 1, 0, {""}, NAN, NAN, NAN, 0},
    };
    ASSERT_EQ(got.size(), std::size(want));
    for (size_t i = 0; i < got.size(); ++i) {
        const Want& w = want[i];
        const SerialFigures& g = got[i];
        EXPECT_EQ(g.imuSerial, w.serial);
        EXPECT_EQ(g.runs, w.runs) << w.serial;
        EXPECT_EQ(g.passes, w.passes) << w.serial;
        EXPECT_EQ(g.stations, w.stations) << w.serial;
        for (const auto& [have, wanted] :
             {std::pair{g.worstP99Ms, w.p99}, {g.mostSeqGaps, w.gaps}, {g.mostStalls, w.stalls}}) {
            EXPECT_TRUE(std::isnan(wanted) ? std::isnan(have) : have == wanted)
                << w.serial << ": " << have << " for " << wanted;
        }
        EXPECT_EQ(g.mostReconnects, w.reconnects) << w.serial;
    }
}

TEST(FleetRows, RunsSortFailedFirstThenByStationAndStartWithUnreadableLast) {
    std::vector<FleetRun> runs = {
        UnreadableRun("z1.csv", "?"),
        MadeRun("b", "", RunOutcome::Pass, NAN, NAN, NAN, 0, "2026-12-08T01:00:00.000Z"),
        MadeRun("a", "", RunOutcome::Pass, NAN, NAN, NAN, 0, "2026-12-08T03:00:00.000Z"),
        UnreadableRun("a0.csv", "?"),
        MadeRun("b", "", RunOutcome::Fail, NAN, NAN, NAN, 0, "2026-12-08T00:00:00.000Z"),
        MadeRun("c", "", RunOutcome::Unfinished, NAN, NAN, NAN, 0, "2026-12-08T04:00:00.000Z"),
        MadeRun("a", "", RunOutcome::Fail, NAN, NAN, NAN, 0, "2026-12-08T02:00:00.000Z"),
    };
    SortRuns(runs);
    std::vector<std::string> order;
    for (const FleetRun& r : runs) {
        order.push_back(r.logName + " " + (r.started.empty() ? "" : r.started.substr(11, 2)));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"a.csv 02", "b.csv 00", "c.csv 04", "a.csv 03",
                                               "b.csv 01", "z1.csv ", "a0.csv "}));
    // What the page's script sorts by: the verdict failed first, figures as numbers.
    FleetRun gone = MadeRun("a", "", RunOutcome::Fail, 13.5, 2, NAN, 0);
    gone.withoutImuS = 9.5;
    gone.imuLost = 1;
    const auto v = RunSortValues(gone);
    EXPECT_EQ((std::vector<double>{v[5], v[7], v[8], v[11]}),
              (std::vector<double>{0, 9.5, 1, 13.5}));
    EXPECT_TRUE(std::isnan(v[13]) && std::isnan(v[0]) && std::isnan(v[6]));
    EXPECT_EQ(RunSortValues(UnreadableRun("x.csv", "?"))[5], 3.0);
}

TEST(FleetFiles, RunPagesGetSafeDistinctNamesAndLinks) {
    EXPECT_EQ(RunPageNames({"lab/a/run.csv", "lab/b/run.csv", "lab/c/RUN.csv", "run-2.csv",
                            "bench 3 <ü>.csv", ".csv", "/x/night.v2.log.csv", "noext"}),
              (std::vector<std::string>{"run.html", "run-2.html", "RUN-3.html", "run-2-2.html",
                                        "bench_3_____.html", "run.csv.html", "night.v2.log.html",
                                        "noext.html"}));
    // Compared as paths: Windows joins them with its own separator.
    EXPECT_EQ(std::filesystem::path(RunsFolderFor("lab/fleet.html")),
              std::filesystem::path("lab/fleet-runs"));
    EXPECT_EQ(std::filesystem::path(RunsFolderFor("fleet")), std::filesystem::path("fleet-runs"));
    EXPECT_EQ(PageHref("night #1 ü-runs", "run.html"), "night%20%231%20%C3%BC-runs/run.html");
    const std::pair<const char*, bool> names[] = {
        {"run.csv", true},       {"RUN.CSV", true}, {".csv", false},
        {"run.csv.html", false}, {"csv", false},    {"run.csvx", false},
    };
    for (const auto& [name, log] : names) {
        EXPECT_EQ(IsLogFileName(name), log) << name;
    }
    const std::pair<std::string, std::string> times[] = {
        {"2026-12-08T12:57:14.123Z", "2026-12-08 12:57:14 UTC"},
        {"2026-12-08T12:57:14Z", "2026-12-08T12:57:14Z"},
        {"", ""},
    };
    for (const auto& [logged, shown] : times) {
        EXPECT_EQ(StartText(logged), shown);
    }
}

TEST(FleetPage, OneRowPerRunAndSerialEscapedAndLinked) {
    std::vector<FleetRun> runs = {
        MadeRun("<b>", "LHR-1", RunOutcome::Pass, 14.0, 0, 0, 1),
        MadeRun("a", "LHR-1", RunOutcome::Fail, 30.0, 2, 0, 1),
        UnreadableRun("x&y.csv", "not a brisk run log (the file is empty)"),
    };
    runs[0].pageHref = "fleet-runs/b.html";
    runs[1].imuLost = 2;  // and back once
    const std::string page = RenderFleetPage(runs, "9.9.9");
    // One inline script (sorting), nothing loaded from elsewhere.
    for (const char* outside : {"<link", "http:", "https:", "url(", "@import", "src="}) {
        EXPECT_EQ(page.find(outside), std::string::npos) << outside;
    }
    EXPECT_EQ(page.find("<b>"), std::string::npos);
    const auto count = [&](const std::string& text) {
        int n = 0;
        for (size_t at = page.find(text); at != std::string::npos; at = page.find(text, at + 1)) {
            ++n;
        }
        return n;
    };
    EXPECT_EQ(count("<script>"), 1);
    EXPECT_EQ(count("<td class=\"n bad\" data-v=\"2\">2 / 1</td>"), 1);
    EXPECT_EQ(count("<tr class=\"run "), 3);
    EXPECT_EQ(count("<tr class=\"run fail\">"), 1);
    EXPECT_EQ(count("<tr class=\"run unreadable\"><td>x&amp;y.csv</td>"), 1);
    EXPECT_EQ(count("<tr class=\"serial fail\"><td>LHR-1</td><td class=\"n\" data-v=\"2\">2</td>"),
              1);
    EXPECT_EQ(count("<td><a href=\"fleet-runs/b.html\">&lt;b&gt;.csv</a></td>"), 1);
    EXPECT_EQ(count("<div class=\"big\">1 of 3 runs passed</div>"), 1);
}

// --optical: each run's dead photodiodes from its summary (or, the summary's
// count damaged, from its photodiode rows), empty for a run without it or
// one cut off before the end; on the page a figure, marked when not 0.
TEST(FleetRows, DeadPhotodiodesPerRun) {
    test::FleetLogShape optical;
    optical.station = "bench-2";
    optical.photodiodes = 32;
    optical.deadPhotodiodes = 2;
    test::FleetLogShape sound = optical;
    sound.deadPhotodiodes = 0;
    test::FleetLogShape cut = optical;
    cut.finished = false;
    std::string damaged = test::MakeFleetLog(optical);
    // The summary's photodiodes_dead cell: before weak, abnormal and the ten
    // photodiode cells, empty in a summary row.
    const size_t summary = damaged.rfind(",summary,");
    const size_t cell = damaged.rfind(",2,0,0" + std::string(10, ',') + "\r\n");
    ASSERT_NE(cell, std::string::npos);
    ASSERT_GT(cell, summary);
    damaged.replace(cell, 3, ",?,");
    const std::pair<std::string, std::string> cases[] = {
        {test::MakeFleetLog(optical), "2"},
        {test::MakeFleetLog(sound), "0"},
        {damaged, "2"},
        {test::MakeFleetLog(cut), ""},
        {test::MakeFleetLog(test::FleetLogShape()), ""},
    };
    std::vector<FleetRun> runs;
    for (const auto& [log, dead] : cases) {
        const LoggedRun read = Read(log);
        runs.push_back(SummariseRun(read, "a.csv"));
        EXPECT_EQ(RunCells(runs.back())[18], dead) << log.substr(log.size() - 200);
        EXPECT_EQ(std::isnan(RunSortValues(runs.back())[18]), dead.empty());
    }
    EXPECT_EQ(Read(test::MakeFleetLog(optical)).photodiodes.size(), 32u);
    const std::string page = RenderFleetPage(runs, "9.9.9");
    EXPECT_NE(page.find("<th class=\"n\">dead photodiodes</th>"), std::string::npos);
    EXPECT_NE(page.find("<td class=\"n bad\" data-v=\"2\">2</td></tr>"), std::string::npos);
    EXPECT_NE(page.find("<td class=\"n\" data-v=\"0\">0</td></tr>"), std::string::npos);
}

}  // namespace
}  // namespace brisk::report
