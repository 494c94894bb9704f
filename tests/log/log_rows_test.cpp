// The run log's rows as they reach the file: quoting, the columns in their
// order, and where each figure lands.
#include "log/log_rows.h"

#include <gtest/gtest.h>

#include "log/csv.h"

namespace brisk {
namespace {

// 2026-12-08T12:57:14.123Z
const std::chrono::system_clock::time_point kAt =
    std::chrono::system_clock::time_point(std::chrono::milliseconds(1796734634123LL));

TEST(RunLogRows, FieldsAreQuotedOnlyWhenTheyMustBe) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},
        {"  fps= 75.0 imu= 999Hz", "  fps= 75.0 imu= 999Hz"},
        {"WARNING: a, b", "\"WARNING: a, b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"cr\r", "\"cr\r\""},
        {"lost — restart", "lost — restart"},
    };
    for (const auto& [text, field] : cases) {
        EXPECT_EQ(CsvField(text), field) << text;
    }
}

TEST(RunLogRows, HeaderNamesEveryColumnInItsOrder) {
    EXPECT_EQ(CsvRow(LogHeader()),
              "time,elapsed_s,kind,fps,frame_gap_max_ms,imu_hz,imu_age_s,seq_gaps,stalls,"
              "accel_mag,gyro_x,gyro_y,gyro_z,prox,prox_distance,free_run,stream,text,version,"
              "command_line,display,mode,imu_serial,frames,present_errors,wait_timeouts,"
              "free_run_events,imu_samples,imu_reports,imu_seq_gaps,imu_stalls,verdict,exit_code,"
              "fail_reasons,frame_intervals,frame_p50_ms,frame_p99_ms,frame_p999_ms,frame_max_ms,"
              "frames_over_1_5_periods\r\n");
}

TEST(RunLogRows, EachKindFillsItsOwnCells) {
    StatusFields display;
    display.framesThisCycle = 75;
    display.maxFrameGapMs = 14.626;
    display.samplesThisCycle = 999;
    display.age = 0.0014;
    display.seqGaps = 2;
    display.stalls = 1;
    display.accel[1] = 2048;
    display.gyro[0] = -4;
    display.haveProx = true;
    display.worn = true;
    display.distance = 1700;
    display.freeRunning = true;
    StatusFields sensorsOnly;
    sensorsOnly.haveDisplay = false;

    const char* argv[] = {"brisk", "--mode", "1272x636", "--log", "a b.csv", "5"};
    RunSettings settings;
    settings.mode = {1272, 636, 0.0, true};
    RunFacts facts = MakeRunFacts(settings, 6, argv);
    facts.version = "0.1.0";
    facts.imuSerial = "LHR-5A1B2C3D";
    settings.display = DisplayKind::kExtended;
    settings.extendedOutput = 2;
    settings.mode = {5088, 2544, 74.97, false};
    const RunFacts extended = MakeRunFacts(settings, 1, argv);

    RunSummary fail;
    fail.presentRan = true;
    fail.frames = 700;
    fail.presentErrors = 3;
    fail.waitTimeouts = 1;
    fail.freeRunEvents = 1;
    fail.intervals = {699, 13.35, 14.05, 1000.0, 1000.0, 2};
    fail.imuRan = true;
    fail.imuSamples = 9000;
    fail.imuReports = 3000;
    fail.verdict = "FAIL";
    fail.failReasons = "present errors";
    fail.verdictLine = "VERDICT: FAIL\n";
    RunSummary imuFailed;
    imuFailed.verdict = "IMU FAILED";
    imuFailed.exitCode = 2;

    const std::string t = "2026-12-08T12:57:14.123Z,1.500,";
    const std::pair<LogCells, std::string> cases[] = {
        {RunRow(facts),
         t + "run,,,,,,,,,,,,,,,,0.1.0,--mode 1272x636 --log a b.csv 5,directmode,1272x636,"
             "LHR-5A1B2C3D,,,,,,,,,,,,,,,,,"},
        {RunRow(extended), t + "run,,,,,,,,,,,,,,,,,,extended:2,5088x2544@74.97,,,,,,,,,,,,,,,,,,"},
        {StatusRow(display, "  line, as printed\n"),
         t + "status,75.0,14.63,999,0.001,2,1,2048,-4,0,0,worn,1700,1,,\"  line, as printed\","
             ",,,,,,,,,,,,,,,,,,,,,"},
        {StatusRow(sensorsOnly, "  fps=  n/a\n"),
         t + "status,,,0,,0,0,0,0,0,0,,,,,  fps=  n/a,,,,,,,,,,,,,,,,,,,,,,"},
        {MessageRow(true, "TundraImu: read failed (err 1167) — device gone\n"),
         t + "message,,,,,,,,,,,,,,err,TundraImu: read failed (err 1167) — device gone,"
             ",,,,,,,,,,,,,,,,,,,,,"},
        {SummaryRow(fail), t + "summary,,,,,,,,,,,,,,,VERDICT: FAIL,,,,,,700,3,1,1,9000,3000,0,0,"
                               "FAIL,0,present errors,699,13.35,14.05,1000.00,1000.00,2"},
        {SummaryRow(imuFailed), t + "summary,,,,,,,,,,,,,,,,,,,,,,,,,,,,,IMU FAILED,2,,,,,,,"},
    };
    for (const auto& [cells, row] : cases) {
        EXPECT_EQ(FormatLogRow(cells, kAt, 1.5), row + "\r\n");
    }
}

}  // namespace
}  // namespace brisk
