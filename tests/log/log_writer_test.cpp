// The log writer on its own: lines heard before the run row wait for it, the
// summary is the last row, and a line printed after it is not logged.
#include "log/log_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/output.h"
#include "support/output_capture.h"
#include "support/temp_path.h"

namespace brisk {
namespace {

std::vector<std::string> RowsOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> rows;
    for (std::string row; std::getline(in, row);) {
        rows.push_back(row);
    }
    return rows;
}

TEST(LogWriter, HoldsEarlyLinesForTheRunRowAndEndsWithTheSummary) {
    const std::string path = test::TempPath("brisk-log-writer-test.csv");
    test::CaptureOutput([&] {
        std::string error;
        std::unique_ptr<LogWriter> log =
            LogWriter::Create(path, std::chrono::steady_clock::now(), error);
        ASSERT_TRUE(log) << error;
        Print(stdout, "TundraImu: 1 Watchman device(s), 1 MCU-paired\n");  // before the run row
        RunFacts facts;
        facts.version = "9.9";
        log->Run(facts);
        PrintEvent(LineEvent::kImuLost, stderr, "TundraImu: read failed (err 1167)\n");
        RunSummary summary;
        summary.verdict = "PASS";
        log->Summary(summary);
        Print(stdout, "after the summary\n");
    });
    const std::vector<std::string> rows = RowsOf(path);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0].rfind("time,elapsed_s,kind,", 0), 0u);
    EXPECT_NE(rows[1].find(",run,"), std::string::npos);
    EXPECT_NE(rows[1].find(",9.9,"), std::string::npos);
    EXPECT_NE(rows[2].find("TundraImu: 1 Watchman device(s)"), std::string::npos);
    EXPECT_NE(rows[3].find("read failed"), std::string::npos);
    EXPECT_NE(rows[3].find(",imu_lost,"), std::string::npos);
    EXPECT_NE(rows[4].find(",summary,"), std::string::npos);
    // Each row is stamped when written, so the times never run backwards.
    for (size_t i = 2; i < rows.size(); ++i) {
        EXPECT_GE(rows[i].substr(0, 24), rows[i - 1].substr(0, 24)) << i;
    }
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace brisk
