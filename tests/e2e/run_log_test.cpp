// --log on the virtual headset: the CSV read back against what the console
// showed. Every printed line is in the log, in order, as a status row (with
// its line's figures) or a message row; the log begins with the run's facts
// and ends with a summary that agrees with the result lines.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "e2e/e2e_support.h"

namespace brisk::e2e {
namespace {

using Row = std::map<std::string, std::string>;

// RFC 4180 rows by column name; a row of another width fails the test.
std::vector<Row> ReadLog(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream file;
    file << in.rdbuf();
    const std::string text = file.str();
    std::vector<std::vector<std::string>> cells(1, std::vector<std::string>(1));
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool pair = i + 1 < text.size() && text[i + 1] == (c == '"' ? '"' : '\n');
        if (c == '"' && (!quoted || !pair)) {
            quoted = !quoted;
        } else if (!quoted && c == ',') {
            cells.back().emplace_back();
        } else if (!quoted && c == '\r' && pair) {
            cells.emplace_back(1);
            ++i;
        } else {
            cells.back().back() += c;
            i += quoted && c == '"' ? 1 : 0;  // a doubled quote
        }
    }
    std::vector<Row> rows;
    for (size_t r = 1; r + 1 < cells.size(); ++r) {  // the last is after the final CRLF
        EXPECT_EQ(cells[r].size(), cells[0].size()) << "row " << r;
        Row& row = rows.emplace_back();
        for (size_t c = 0; c < cells[r].size() && c < cells[0].size(); ++c) {
            row[cells[0][c]] = cells[r][c];
        }
    }
    return rows;
}

std::vector<Row> OfKind(const std::vector<Row>& log, const std::string& kind) {
    std::vector<Row> out;
    std::copy_if(log.begin(), log.end(), std::back_inserter(out),
                 [&](const Row& row) { return row.at("kind") == kind; });
    return out;
}

// The run row first, the summary last; every line of both streams, status
// lines aside, has its message row in order.
void ExpectFramedAndEveryMessage(const std::vector<Row>& log, const RunResult& run) {
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.front().at("kind"), "run");
    EXPECT_EQ(log.back().at("kind"), "summary");
    EXPECT_EQ(OfKind(log, "run").size() + OfKind(log, "summary").size(), 2u);
    EXPECT_TRUE(OfKind(log, "photodiode").empty());  // only with --optical
    for (const char* stream : {"out", "err"}) {
        std::vector<std::string> printed, logged;
        for (const TimedLine& l : stream[0] == 'o' ? run.out : run.err) {
            if (l.text.rfind("  fps=", 0) != 0) {
                printed.push_back(l.text);
            }
        }
        for (const Row& row : OfKind(log, "message")) {
            if (row.at("stream") == stream) {
                logged.push_back(row.at("text"));
            }
        }
        EXPECT_EQ(logged, printed) << stream;
    }
}

long long Int(const Row& row, const char* column) {
    return std::stoll(row.at(column));
}

// The kinds of marker a report page shows, from its markers' titles: "KIND at
// T s" for one event, "N events, ...: KIND &#215;n ..." for several.
std::set<std::string> MarkedKinds(const std::string& page) {
    std::set<std::string> kinds;
    const std::string open = "<g class=\"marker\" data-events=\"";
    for (size_t at = page.find(open); at != std::string::npos; at = page.find(open, at + 1)) {
        const size_t from = page.find("<title>", at) + 7;
        const std::string title = page.substr(from, page.find("</title>", from) - from);
        const size_t colon = title.find(": ");
        if (colon == std::string::npos) {
            kinds.insert(title.substr(0, title.find(" at ")));
            continue;
        }
        std::stringstream list(title.substr(colon + 2));
        for (std::string item; std::getline(list, item, '#');) {
            const size_t times = item.find(" &");
            const size_t start = item.find_first_not_of(" 0123456789;");
            if (times != std::string::npos && start < times) {
                kinds.insert(item.substr(start, times - start));
            }
        }
    }
    return kinds;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// Every event the tool marks, logged as data where its line is printed, and
// the report's markers taken from that data: with every line reworded, the
// page marks the same.
TEST(E2eRunLog, EveryEventReachesTheReportAsData) {
    TempFile csv(".csv");
    const RunResult run = RunSim(
        "2 mcu distance 1700\n3 watchman unplug\n4 watchman plug\n5 mcu unplug\n6 mcu plug\n"
        "8 mcu distance 200\n8.5 display vsync free\n10 display vsync on\n11.5 display remove\n",
        {"--log", csv.Path(), "20"});
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 4);

    std::set<std::string> logged;
    for (const Row& row : OfKind(ReadLog(csv.Path()), "message")) {
        if (!row.at("event").empty()) {
            logged.insert(row.at("event"));
        }
    }
    EXPECT_EQ(logged,
              (std::set<std::string>{"imu_lost", "imu_back", "mcu_lost", "mcu_back", "donned",
                                     "doffed", "free_run_begin", "free_run_end", "display_lost",
                                     "present_result", "imu_result", "verdict"}));

    std::string reworded = ReadText(csv.Path());
    for (const char* words : {"TundraImu", "McuProx", "prox: headset", "WARNING: present loop",
                              "free-run over", "display lost"}) {
        for (size_t at = reworded.find(words); at != std::string::npos;
             at = reworded.find(words, at)) {
            reworded.replace(at, std::string(words).size(), "Reworded");
        }
    }
    TempFile rewordedCsv("_reworded.csv");
    rewordedCsv.Write(reworded);
    std::set<std::string> marked[2];
    const std::string* logs[] = {&csv.Path(), &rewordedCsv.Path()};
    for (size_t i = 0; i < 2; ++i) {
        TempFile page(i == 0 ? ".html" : "_reworded.html");
        const RunResult report = RunProgram({BRISK_REPORT_PATH, *logs[i], "-o", page.Path()}, {});
        ASSERT_EQ(report.exitCode, 0) << Describe(report);
        marked[i] = MarkedKinds(ReadText(page.Path()));
    }
    EXPECT_EQ(marked[0],
              (std::set<std::string>{"IMU lost", "IMU back", "MCU lost", "MCU back",
                                     "headset donned", "headset doffed", "free-run begins",
                                     "free-run over", "display lost"}));
    EXPECT_EQ(marked[1], marked[0]);
}

TEST(E2eRunLog, AFaultyRunIsLoggedLineForLineWithItsFiguresAndSummary) {
    TempFile csv(".csv");
    csv.Write("an older log, replaced\n");
    RunResult run = RunSim(
        "2.2 mcu distance 1700\n3 watchman unplug\n4.5 watchman plug\n5.5 display vsync stop\n"
        "6.6 display vsync on\n7.5 mcu distance 200\n",
        {"--log", csv.Path(), "8"});
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    // The faults happened, so their lines are among those checked.
    EXPECT_EQ(Count(run.out, "prox: headset DONNED (distance 1700)"), 1);
    EXPECT_EQ(Count(run.err, "TundraImu: reconnected to LHR-5A1B2C3D"), 1);

    const std::vector<Row> log = ReadLog(csv.Path());
    ExpectFramedAndEveryMessage(log, run);
    ASSERT_FALSE(log.empty());
    const Row& facts = log.front();
    EXPECT_EQ(facts.at("version") + "|" + facts.at("command_line") + "|" + facts.at("display") +
                  "|" + facts.at("mode") + "|" + facts.at("imu_serial"),
              std::string(BRISK_VERSION) + "|--log " + csv.Path() +
                  " 8|directmode|5088x2544@75|LHR-5A1B2C3D");
    // Run by brisk-sim: the log says on what.
    EXPECT_EQ(facts.at("launched_by").rfind("brisk-sim --scenario ", 0), 0u)
        << facts.at("launched_by");
    std::string prevTime;
    for (const Row& row : log) {
        EXPECT_EQ(row.at("time").size(), 24u) << row.at("time");  // 2026-12-08T12:57:14.123Z
        EXPECT_GE(row.at("time"), prevTime);
        prevTime = row.at("time");
    }

    // Each status line, its row: the same text and the figures it shows.
    const std::vector<StatusLine> status = StatusLines(run);
    const std::vector<Row> rows = OfKind(log, "status");
    ASSERT_EQ(rows.size(), status.size());
    ASSERT_GE(status.size(), 6u);
    for (size_t i = 0; i < status.size(); ++i) {
        const StatusLine& s = status[i];
        const Row& r = rows[i];
        EXPECT_EQ(r.at("text"), run.out[s.index].text);
        char shown[160];
        std::snprintf(shown, sizeof shown, "%.1f %lld %lld %lld %lld %d,%d,%d %s %d", s.fps, s.imu,
                      s.gaps, s.stalls, s.accelMagnitude, s.gyro[0], s.gyro[1], s.gyro[2],
                      s.prox.c_str(), s.freeRun ? 1 : 0);
        EXPECT_EQ(r.at("fps") + " " + r.at("imu_hz") + " " + r.at("seq_gaps") + " " +
                      r.at("stalls") + " " + r.at("accel_mag") + " " + r.at("gyro_x") + "," +
                      r.at("gyro_y") + "," + r.at("gyro_z") + " " + r.at("prox") + "(" +
                      r.at("prox_distance") + ") " + r.at("free_run"),
                  shown)
            << "status line " << i;
        EXPECT_NEAR(std::stod(r.at("imu_age_s")), s.age, 0.0051) << "status line " << i;
    }

    const Row& summary = log.back();
    const std::optional<PresentResult> pr = FindPresentResult(run);
    const std::optional<ImuResult> ir = FindImuResult(run);
    ASSERT_TRUE(pr && ir);
    EXPECT_EQ(std::vector<long long>({Int(summary, "frames"), Int(summary, "present_errors"),
                                      Int(summary, "wait_timeouts"),
                                      Int(summary, "free_run_events"), Int(summary, "imu_samples"),
                                      Int(summary, "imu_reports"), Int(summary, "imu_seq_gaps"),
                                      Int(summary, "imu_stalls"), Int(summary, "frame_intervals")}),
              std::vector<long long>({pr->frames, pr->presentErrors, pr->waitTimeouts,
                                      pr->freeRunEvents, ir->samples, ir->reports, ir->seqGaps,
                                      ir->stalls, pr->frames - 1}));
    EXPECT_EQ(summary.at("verdict") + "|" + summary.at("exit_code") + "|" +
                  summary.at("fail_reasons") + "|" + summary.at("text"),
              std::string("PASS|0||") + kVerdictPass);
    // Pacing: 13.33 ms at 75 Hz; the scan-out stall is a wait of a second.
    const double p50 = std::stod(summary.at("frame_p50_ms"));
    EXPECT_NEAR(p50, 13.33, 0.4);
    EXPECT_LE(p50, std::stod(summary.at("frame_p99_ms")));
    EXPECT_LE(std::stod(summary.at("frame_p99_ms")), std::stod(summary.at("frame_p999_ms")));
    EXPECT_LE(std::stod(summary.at("frame_p999_ms")), std::stod(summary.at("frame_max_ms")));
    EXPECT_GE(std::stod(summary.at("frame_max_ms")), 900.0);
    EXPECT_GE(Int(summary, "frames_over_1_5_periods"), 1);
}

// How a run ends, and its log: a path that cannot be created is a usage
// error before any device; a full disk stops the log and the run goes on; a
// run whose IMU does not start, or that Ctrl+C stops, ends its log with a
// summary.
struct LogEnd {
    const char* name;
    const char* scenario;
    const char* path;  // nullptr: a temporary file, read back
    std::vector<std::string> args;
    double sigintAfter;
    int exitCode;
    std::vector<std::string> err;
    const char* lastLine;  // on stdout; nullptr: nothing there
    const char* verdict;   // the summary's
};

void PrintTo(const LogEnd& p, std::ostream* os) {
    *os << p.name;
}

class RunLogEnds : public testing::TestWithParam<LogEnd> {};

TEST_P(RunLogEnds, AsTheRunDoes) {
    const LogEnd& p = GetParam();
    TempFile csv(".csv");
    std::vector<std::string> args{"--log", p.path != nullptr ? p.path : csv.Path()};
    args.insert(args.end(), p.args.begin(), p.args.end());
    RunOptions options;
    options.sigintAfterSeconds = p.sigintAfter;
    RunResult run = RunSim(p.scenario, args, options);
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, p.exitCode);
    EXPECT_EQ(Texts(run.err), p.err);
    EXPECT_EQ(run.out.empty() ? "" : run.out.back().text, p.lastLine ? p.lastLine : "");
    if (p.path == nullptr) {
        const std::vector<Row> log = ReadLog(csv.Path());
        ExpectFramedAndEveryMessage(log, run);
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back().at("verdict") + "|" + log.back().at("exit_code"),
                  std::string(p.verdict) + "|" + std::to_string(p.exitCode));
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    E2e, RunLogEnds,
    testing::Values(
        LogEnd{"Uncreatable", "", "/nonexistent-dir/run.csv", {"5"}, -1.0, 64,
               {"brisk: --log: cannot create /nonexistent-dir/run.csv: No such file or directory"},
               nullptr, nullptr},
        LogEnd{"DiskFull", "", "/dev/full", {"1"}, -1.0, 0,
               {"brisk: --log: stopped writing /dev/full: No space left on device; the run goes "
                "on"},
               kVerdictPass, nullptr},
        LogEnd{"ImuAbsent", "0 watchman absent\n", nullptr, {"5"}, -1.0, 2, {kNoMatchingWatchman},
               "TundraImu: 0 Watchman device(s), 0 MCU-paired", "IMU FAILED"},
        LogEnd{"SigintSensorsOnly", "", nullptr, {"--display", "none"}, 3.5, 0, {},
               "VERDICT: PASS (sensors only — no display tested)", "PASS (sensors only)"}),
    [](const testing::TestParamInfo<LogEnd>& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace brisk::e2e
