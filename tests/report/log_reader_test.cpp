// Logs read back: what a whole run gives, and what is left, and said, when a
// log is cut off, broken or not a brisk log at all.
#include <gtest/gtest.h>

#include <algorithm>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <vector>

#include "report/csv_reader.h"
#include "report/log_generator.h"
#include "report/log_reader.h"

namespace brisk::report {
namespace {

LogReadResult Read(const std::string& text) {
    std::istringstream in(text);
    return ReadLoggedRun(in);
}

TEST(LoggedRun, AWholeRunGivesFactsSeriesEventsAndSummary) {
    for (bool crlf : {true, false}) {
        test::LogShape shape;
        shape.seconds = 120;
        shape.crlf = crlf;
        const LogReadResult r = Read(test::MakeLog(shape));
        ASSERT_TRUE(r.isBriskLog) << r.notBriskReason;
        const LoggedRun& log = r.log;
        EXPECT_EQ(log.stopReason, "");
        EXPECT_EQ(log.run.display, "directmode");
        EXPECT_EQ(log.run.imuSerial, "LHR-5A1B2C3D");
        ASSERT_EQ(log.status.Size(), 120u);
        EXPECT_FLOAT_EQ(log.status.accelMag[0], 8199.0f);  // 1 g and the first wobble
        EXPECT_EQ(log.status.worn[4], 0);
        EXPECT_EQ(log.status.worn[5], 1);
        EXPECT_TRUE(log.summary.present);
        EXPECT_EQ(log.summary.verdict, "PASS");
        EXPECT_DOUBLE_EQ(log.summary.p999Ms, 26.71);  // read as a number once, here
        EXPECT_EQ(log.verdictLine, "VERDICT: PASS (eyeball check still required)");
        EXPECT_EQ(log.firstTime, "2026-12-08T00:00:00.050Z");
        // Two cycles, each: don, doff, IMU lost and back, free-run begin and
        // end, MCU lost and back; then the three closing lines.
        int marked = 0;
        for (const LogEvent& e : log.events) {
            marked += IsMarked(e.kind) ? 1 : 0;
        }
        EXPECT_EQ(marked, 16);
        EXPECT_EQ(log.events.size(), 19u);
    }
}

TEST(LoggedRun, ColumnsAreFoundByNameAndUnknownOnesIgnored) {
    const std::string log =
        "kind,new_column,elapsed_s,time,fps,text\r\n"
        "status,\"x,y\",1.000,T1,74.5,line\r\n"
        "future_kind,?,2.000,T2,,\r\n"
        "message,,2.500,T3,,prox: headset DONNED (distance 1700)\r\n";
    const LogReadResult r = Read(log);
    ASSERT_TRUE(r.isBriskLog);
    ASSERT_EQ(r.log.status.Size(), 1u);
    EXPECT_FLOAT_EQ(r.log.status.fps[0], 74.5f);
    EXPECT_TRUE(std::isnan(r.log.status.imuHz[0]));  // no such column: missing, not 0
    ASSERT_EQ(r.log.events.size(), 1u);
    EXPECT_EQ(r.log.events[0].kind, EventKind::Donned);
    EXPECT_EQ(r.log.dataRows, 3u);
    EXPECT_EQ(r.log.lastTime, "T3");
}

TEST(LoggedRun, ABrokenLogIsReadUpToWhereItBreaks) {
    test::LogShape shape;
    shape.seconds = 30;
    const std::string whole = test::MakeLog(shape);
    const std::string header = test::LogHeader();
    // Rows 1 (header), 2 (run), 3 (first message), then status rows.
    const size_t row4 = whole.find("\r\n", whole.find("\r\n", header.size()) + 2) + 2;
    // As many fields as the header has.
    const auto columns = static_cast<size_t>(std::count(header.begin(), header.end(), ',')) + 1;
    const std::string fields40(columns - 1, ',');
    const std::string shortRow = "row 4 has 7 fields, expected " + std::to_string(columns);
    struct Case {
        const char* name;
        std::string text;
        const char* reason;
        uint64_t rowsRead;
    };
    const Case cases[] = {
        {"cut mid-row", whole.substr(0, whole.size() - 25),
         "is cut off: the log ends in the middle of it", 0},
        {"short row", whole.substr(0, row4) + "2026,1.0,status,75,1,2,3\r\n" + whole.substr(row4),
         shortRow.c_str(), 2},
        {"bad elapsed", whole.substr(0, row4) + "T,soon,status" + fields40.substr(2) + "\r\n",
         "row 4 has no valid elapsed_s ('soon')", 2},
        {"elapsed with a line break",
         whole.substr(0, row4) + "T,\"1\r\n2\",status" + fields40.substr(2) + "\r\n",
         "row 4 has no valid elapsed_s ('1??2')", 2},
        {"negative elapsed", whole.substr(0, row4) + "T,-1,status" + fields40.substr(2) + "\r\n",
         "row 4 has no valid elapsed_s ('-1')", 2},
        {"quoted newline then cut", header + "T,1.0,message,\"no end\r\nof it", "row 2 is cut off",
         0},
    };
    for (const Case& c : cases) {
        const LogReadResult r = Read(c.text);
        ASSERT_TRUE(r.isBriskLog) << c.name;
        EXPECT_NE(r.log.stopReason.find(c.reason), std::string::npos)
            << c.name << ": " << r.log.stopReason;
        EXPECT_FALSE(r.log.summary.present) << c.name;
        if (c.rowsRead > 0) {
            EXPECT_EQ(r.log.dataRows, c.rowsRead) << c.name;
        }
    }
    // A crash between rows: nothing is wrong with what is there, there is
    // just no summary.
    const LoggedRun crashed =
        Read(whole.substr(0, whole.rfind("\r\n", whole.find(",summary,")) + 2)).log;
    EXPECT_FALSE(crashed.summary.present);
    EXPECT_EQ(crashed.stopReason, "");
    EXPECT_EQ(crashed.verdictLine, "VERDICT: PASS (eyeball check still required)");
}

TEST(LoggedRun, WhatIsNotABriskLogIsToldWhy) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "the file is empty"},
        {"time,elapsed_s\r\n1,2\r\n", "the first row has no 'kind' column"},
        {"\x89PNG\r\n\x1A\n\0\0\0\rIHDR", "the first row has no 'time' column"},
        {"time,elapsed_s,kind", "no complete header row"},
        {std::string(CsvReader::kMaxRowBytes + 1, 'x'), "no complete header row"},
    };
    for (const auto& [text, reason] : cases) {
        const LogReadResult r = Read(text);
        EXPECT_FALSE(r.isBriskLog);
        EXPECT_EQ(r.notBriskReason, reason);
    }
    EXPECT_TRUE(Read("\xEF\xBB\xBFtime,elapsed_s,kind\r\n").isBriskLog);
}

// Photodiode rows (--optical): each cell read on its own, a damaged cell
// left NaN (or "unknown") without losing the row, a row of the wrong width
// ending the reading as any row does, and an older log holding none.
TEST(LoggedRun, PhotodiodeRowsAreReadCellByCell) {
    // Columns by name, in an order of their own.
    const std::string header =
        "kind,pd_state,time,elapsed_s,pd_channel,pd_index,pd_x,pd_y,pd_z,pd_nx,pd_ny,pd_nz,"
        "pd_pulses,text,photodiodes_dead,photodiodes_weak,photodiodes_abnormal,verdict\r\n";
    auto describe = [](const LoggedPhotodiode& p) {
        char text[200];
        std::snprintf(text, sizeof text, "%g|%g|%g %g %g|%g %g %g|%g|%s|", p.channel, p.modelIndex,
                      p.x, p.y, p.z, p.nx, p.ny, p.nz, p.pulses, LoggedPdStateName(p.state));
        return text + p.why;
    };
    const std::string longWhy(600, 'w');
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"photodiode,ok,T,9.5,7,0,0.0125,-0.03,0.1,0,0,1,1200,,,,,\r\n",
         {"7|0|0.0125 -0.03 0.1|0 0 1|1200|ok|"}},
        {"photodiode,dead,T,9.5,31,12,-0.08,0,0.06,-0.6,0,0.8,0,\"no pulse, neighbours 900\",,,,\r\n"
         "photodiode,unlit,T,9.5,300,13,1,2,3,0,1,0,5,channel outside 0-255,,,,\r\n",
         {"31|12|-0.08 0 0.06|-0.6 0 0.8|0|dead|no pulse, neighbours 900",
          "300|13|1 2 3|0 1 0|5|unlit|channel outside 0-255"}},
        // Damage: words for numbers, an infinite position, empty cells, a
        // state no writer uses, and a reason far longer than one.
        {"photodiode,fried,T,9.5,x,-,1e999,0.1,,nan,0,1,,\"" + longWhy + "\",,,,\r\n",
         {"nan|nan|nan 0.1 nan|nan 0 1|nan|unknown|" + longWhy.substr(0, 400)}},
        // A short row stops the reading; the rows before it stay.
        {"photodiode,weak,T,9.5,5,1,0,0,0,0,0,1,3,few,,,,\r\nphotodiode,ok,T,9.6,6\r\n",
         {"5|1|0 0 0|0 0 1|3|weak|few"}},
    };
    for (const auto& [rows, expected] : cases) {
        const LogReadResult r = Read(header + rows);
        ASSERT_TRUE(r.isBriskLog);
        std::vector<std::string> got;
        for (const LoggedPhotodiode& p : r.log.photodiodes) {
            got.push_back(describe(p));
        }
        EXPECT_EQ(got, expected) << rows;
    }
    EXPECT_NE(Read(header + std::get<0>(cases[3])).log.stopReason.find("row 3 has 5 fields"),
              std::string::npos);

    // The summary's counts, and a damaged one.
    const LoggedSummary counted =
        Read(header + "summary,,T,10,,,,,,,,,,VERDICT: PASS,2,0,1,PASS\r\n").log.summary;
    EXPECT_EQ(counted.photodiodesDead, 2.0);
    EXPECT_EQ(counted.photodiodesWeak, 0.0);
    EXPECT_EQ(counted.photodiodesAbnormal, 1.0);
    EXPECT_TRUE(std::isnan(
        Read(header + "summary,,T,10,,,,,,,,,,,two,,,PASS\r\n").log.summary.photodiodesDead));

    // No more than a unit could have; the rest only counted.
    std::string many = header;
    for (size_t i = 0; i < kMaxLoggedPhotodiodes + 6; ++i) {
        many += "photodiode,ok,T,9.5,1,1,0,0,0,0,0,1,100,,,,,\r\n";
    }
    const LoggedRun crowded = Read(many).log;
    EXPECT_EQ(crowded.photodiodes.size(), kMaxLoggedPhotodiodes);
    EXPECT_EQ(crowded.photodiodesLeftOut, 6u);

    // A log from before the photodiodes: none, and no counts.
    test::LogShape old;
    const LoggedRun before = Read(test::MakeLog(old)).log;
    EXPECT_TRUE(before.summary.present);
    EXPECT_TRUE(before.photodiodes.empty());
    EXPECT_TRUE(std::isnan(before.summary.photodiodesDead));
}

}  // namespace
}  // namespace brisk::report
