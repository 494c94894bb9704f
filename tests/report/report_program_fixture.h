// brisk-report run as a child process in a folder of the test's own, made
// fresh for each test and removed after it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/subprocess.h"

namespace brisk::test {

class ReportProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
        dir =
            std::filesystem::temp_directory_path() /
            ("brisk-report-test-" + std::to_string(unit.random_seed()) + "-" +
             unit.current_test_info()->test_suite_name() + "-" + unit.current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // `text` into the file `name` under the folder (its folders made too).
    std::string Write(const std::string& name, const std::string& text) {
        std::filesystem::create_directories((dir / name).parent_path());
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    }

    RunResult RunReport(std::vector<std::string> args) {
        args.insert(args.begin(), BRISK_REPORT_PATH);
        return RunProgram(args, RunOptions{});
    }

    std::filesystem::path dir;
};

}  // namespace brisk::test
