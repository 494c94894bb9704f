// The run log's rows as they reach the file: quoting, the columns in their
// order, and the cells that stay empty where a figure does not apply. (The
// end-to-end test checks the figures of real rows against the console.)
#include "log/log_rows.h"

#include <gtest/gtest.h>

#include "log/csv_writer.h"

namespace brisk {
namespace {

TEST(RunLogRows, FieldsAreQuotedOnlyWhenTheyMustBe) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},           {"  fps= 75.0", "  fps= 75.0"},   {"a, b", "\"a, b\""},
        {"\"", "\"\"\"\""}, {"two\nlines", "\"two\nlines\""}, {"cr\r", "\"cr\r\""},
    };
    for (const auto& [text, field] : cases) {
        EXPECT_EQ(CsvField(text), field) << text;
    }
    EXPECT_EQ(FormatCsvRow(LogHeader()),
              "time,elapsed_s,kind,fps,frame_gap_max_ms,imu_hz,imu_age_s,seq_gaps,stalls,"
              "accel_mag,gyro_x,gyro_y,gyro_z,prox,prox_distance,free_run,stream,text,version,"
              "command_line,display,mode,imu_serial,frames,present_errors,wait_timeouts,"
              "free_run_events,imu_samples,imu_reports,imu_seq_gaps,imu_stalls,verdict,exit_code,"
              "fail_reasons,frame_intervals,frame_p50_ms,frame_p99_ms,frame_p999_ms,frame_max_ms,"
              "frames_over_1_5_periods,event,launched_by,prox_worn_at,prox_away_at,station,"
              "imu_clock_ppm,imu_ticks_per_s,imu_ticks_per_sample,imu_interval_p50_ms,"
              "imu_interval_p99_ms,imu_interval_max_ms,imu_missing_by_time,imu_missing_by_seq,"
              "imu_delivery_p50_ms,imu_delivery_p99_ms,imu_delivery_max_ms,imu_reports_several,"
              "imu_reports_none,imu_counts_per_g,imu_accel_mag_g,imu_ax,imu_ay,imu_az,imu_gx,"
              "imu_gy,imu_gz,imu_allan_gx,imu_allan_gy,imu_allan_gz,imu_arw,imu_bias_instability,"
              "imu_health_flags,fail_codes,noted_codes,noted_reasons,imu_lost,imu_back,"
              "imu_absent_s,mcu_lost,mcu_back,photodiodes_dead,photodiodes_weak,"
              "photodiodes_abnormal,pd_channel,pd_index,pd_x,pd_y,pd_z,pd_nx,pd_ny,pd_nz,"
              "pd_pulses,pd_state\r\n");
}

TEST(RunLogRows, EachKindFillsItsOwnCells) {
    const char* argv[] = {"brisk", "--display", "extended:2", "--log", "a b.csv", "5"};
    RunSettings settings;
    settings.display = DisplayKind::kExtended;
    settings.extendedOutput = 2;
    settings.mode = {5088, 2544, 74.97, false};
    SetRunLauncher("brisk-sim --scenario s.txt");
    RunFacts facts = MakeRunFacts(settings, 6, argv);
    facts.station = "bench 3, left";
    SetRunLauncher("");
    settings.mode = {1272, 636, 0.0, true};
    const std::string anyRefresh = MakeRunFacts(settings, 1, argv).mode;
    StatusFields sensorsOnly;
    sensorsOnly.haveDisplay = false;
    RunSummary fail;
    fail.presentRan = true;
    fail.frames = 700;
    fail.presentErrors = 3;
    fail.intervals = {699, 13.35, 14.05, 1000.0, 1000.0, 2};
    fail.imuRan = true;
    fail.imuSamples = 9000;
    fail.verdict = "FAIL";
    fail.failReasons = "present errors";
    fail.verdictLine = "VERDICT: FAIL\n";
    RunSummary imuFailed;
    imuFailed.verdict = "IMU FAILED";
    imuFailed.exitCode = 2;

    // 2026-12-08T12:57:14.123Z
    const std::chrono::system_clock::time_point at(std::chrono::milliseconds(1796734634123LL));
    const std::string t = "2026-12-08T12:57:14.123Z,1.500,";
    const std::pair<LogCells, std::string> cases[] = {
        {RunRow(facts),
         t + "run,,,,,,,,,,,,,,,,,--display extended:2 --log a b.csv 5,"
             "extended:2,5088x2544@74.97,,,,,,,,,,,,,,,,,,,,brisk-sim --scenario s.txt,1600,"
             "1400,\"bench 3, left\""},
        {StatusRow(sensorsOnly, "  fps=  n/a\n"),
         t + "status,,,0,,0,0,0,0,0,0,,,,,  fps=  n/a,,,,,,,,,,,,,,,,,,,,,,,,,,,"},
        // A message row carries what its line marks, as the printer said.
        {MessageRow(true, "TundraImu: reconnected to X\n", LineEvent::kImuBack),
         t + "message,,,,,,,,,,,,,,err,TundraImu: reconnected to X,,,,,,,,,,,,,,,,,,,,,,,imu_back,,,,"},
        {SummaryRow(fail), t + "summary,,,,,,,,,,,,,,,VERDICT: FAIL,,,,,,700,3,0,0,9000,0,0,0,"
                               "FAIL,0,present errors,699,13.35,14.05,1000.00,1000.00,2,,,,,"},
        {SummaryRow(imuFailed), t + "summary,,,,,,,,,,,,,,,,,,,,,,,,,,,,,IMU FAILED,2,,,,,,,,,,,,"},
    };
    // The IMU health columns, then the reason codes and the devices' losses,
    // then the photodiodes' counts and cells come last, empty in these rows.
    const std::string noHealth(27 + 8 + 13, ',');
    for (const auto& [cells, row] : cases) {
        EXPECT_EQ(FormatLogRow(cells, at, 1.5), row + noHealth + "\r\n");
    }
    EXPECT_EQ(anyRefresh, "1272x636");
}

// The summary row names the reasons by code beside their texts, keeps the
// findings that did not count apart, and counts the losses of the devices the
// run watched (an MCU it never had stays empty).
TEST(RunLogRows, SummaryCarriesReasonCodesAndLosses) {
    RunSummary s;
    s.reasons = {{"imu_lost", "IMU lost at 4.0 s and not back", true, RunPart::kImu},
                 {"imu_gaps", "2 IMU sequence gaps in 9000 samples", false, RunPart::kImu},
                 {"imu_absent", "IMU absent for 2.3 s of 6.2 s", false, RunPart::kImu}};
    s.imuPresence = {true, false, 2, 1, 4.0, 2.25};
    const LogCells cells = SummaryRow(s);
    std::string got;
    for (LogColumn c : {kColFailCodes, kColNotedCodes, kColNotedReasons, kColImuLost, kColImuBack,
                        kColImuAbsentS, kColMcuLost, kColMcuBack}) {
        got += cells[c] + "|";
    }
    EXPECT_EQ(got,
              "imu_lost|imu_gaps;imu_absent|2 IMU sequence gaps in 9000 samples; IMU absent for "
              "2.3 s of 6.2 s|2|1|2.250|||");
}

// --optical with the configuration read: a row per photodiode with its
// configured place, and the summary's counts; without either, nothing.
TEST(RunLogRows, PhotodiodeRowsCarryTheConfiguredPlaceAndTheState) {
    auto config = std::make_shared<identity::WatchmanConfig>();
    config->positions = {{0.0125, -0.03, 0.1}, {-0.0825, 0.0, 0.0625}};
    config->normals = {{0.0, 0.0, 1.0}, {-0.6, 0.0, 0.8}};
    RunSummary s;
    s.opticalAsked = true;
    s.opticalConfig = config;
    using optical::PhotodiodeState;
    s.optical.photodiodes = {
        {7, 0, 1200, PhotodiodeState::kOk, "", 0, 0, 0, {}},
        {300, 1, 0, PhotodiodeState::kDead, "no pulse, neighbours 1150", 0, 0, 0, {}},
        // A model index past the configuration's points: no place, still a row.
        {9, 4, 3, PhotodiodeState::kWeak, "3 pulses, neighbours 900", 0, 0, 0, {}},
    };
    const std::vector<LogCells> rows = PhotodiodeRows(s);
    std::vector<std::string> got;
    for (const LogCells& cells : rows) {
        std::string line = cells[kColKind];
        for (LogColumn c : {kColPdChannel, kColPdIndex, kColPdX, kColPdY, kColPdZ, kColPdNx,
                            kColPdNy, kColPdNz, kColPdPulses, kColPdState, kColText}) {
            line += "|" + cells[c];
        }
        got.push_back(line);
    }
    EXPECT_EQ(got,
              (std::vector<std::string>{
                  "photodiode|7|0|0.0125|-0.03|0.1|0|0|1|1200|ok|",
                  "photodiode|300|1|-0.0825|0|0.0625|-0.6|0|0.8|0|dead|no pulse, neighbours 1150",
                  "photodiode|9|4|||||||3|weak|3 pulses, neighbours 900",
              }));
    const LogCells summary = SummaryRow(s);
    EXPECT_EQ(summary[kColPhotodiodesDead] + "|" + summary[kColPhotodiodesWeak] + "|" +
                  summary[kColPhotodiodesAbnormal],
              "1|1|0");

    RunSummary noConfig = s;
    noConfig.opticalConfig = nullptr;
    RunSummary notAsked = s;
    notAsked.opticalAsked = false;
    for (const RunSummary& without : {noConfig, notAsked}) {
        EXPECT_TRUE(PhotodiodeRows(without).empty());
        EXPECT_EQ(SummaryRow(without)[kColPhotodiodesDead], "");
    }
}

}  // namespace
}  // namespace brisk
