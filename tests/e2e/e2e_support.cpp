#include "e2e/e2e_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <regex>

namespace brisk::e2e {

const char* const kVerdictPass = "VERDICT: PASS (eyeball check still required)";
const char* const kVerdictFail = "VERDICT: FAIL";
const char* const kVerdictDisplayLost =
    "VERDICT: DISPLAY LOST (cable pulled?) — exited cleanly; restart after reconnect";
const char* const kNoMatchingWatchman =
    "TundraImu: no matching 28DE:2300 MI_00 device (Davovo unplugged? wrong --imu-serial?)";
const char* const kDefaultSerial = "LHR-5A1B2C3D";

const char* BriskSimPath() {
    return BRISK_SIM_PATH;
}

const char* BriskPath() {
    return BRISK_PATH;
}

TempFile::TempFile(const std::string& suffix) {
    static int serial = 0;
    std::string name = "brisk_e2e";
    if (const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info()) {
        name += std::string("_") + info->test_suite_name() + "_" + info->name();
    }
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    path = testing::TempDir() + name + "_" + std::to_string(getpid()) + "_" +
           std::to_string(serial++) + suffix;
}

TempFile::~TempFile() {
    std::remove(path.c_str());
}

void TempFile::Write(const std::string& text) const {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
}

RunResult RunSim(const std::string& scenario, const std::vector<std::string>& toolArgs,
                 const RunOptions& options, const std::vector<std::string>& simArgs) {
    std::vector<std::string> argv{BriskSimPath()};
    argv.insert(argv.end(), simArgs.begin(), simArgs.end());
    TempFile file(".scenario");
    if (!scenario.empty()) {
        file.Write(scenario);
        argv.push_back("--scenario");
        argv.push_back(file.Path());
    }
    argv.push_back("--");
    argv.insert(argv.end(), toolArgs.begin(), toolArgs.end());
    return RunProgram(argv, options);
}

std::vector<std::string> Texts(const std::vector<TimedLine>& lines) {
    std::vector<std::string> out;
    for (const TimedLine& l : lines) {
        out.push_back(l.text);
    }
    return out;
}

int Count(const std::vector<TimedLine>& lines, const std::string& exact) {
    int n = 0;
    for (const TimedLine& l : lines) {
        n += l.text == exact ? 1 : 0;
    }
    return n;
}

int IndexOf(const std::vector<TimedLine>& lines, const std::string& exact) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].text == exact) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int IndexOfPrefix(const std::vector<TimedLine>& lines, const std::string& prefix) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].text.rfind(prefix, 0) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::vector<StatusLine> StatusLines(const RunResult& run) {
    // "  fps=%5.1f imu=%4lluHz age=%.2fs gaps=%llu stalls=%llu |a|=%.0f gyro=(%d,%d,%d) %s%s"
    static const std::regex kShape(
        R"(  fps=([ \d]{2}\d\.\d|\d{4,}\.\d|  n/a) imu=([ \d]{3}\d|\d{5,})Hz age=(-?\d+\.\d\d)s )"
        R"(gaps=(\d+) stalls=(\d+) \|a\|=(\d+) gyro=\((-?\d+),(-?\d+),(-?\d+)\) )"
        R"(prox=(n/a|(?:worn|away)\(\d+\))(  \[FREE-RUN: vsync lost, throttled\])?)");
    std::vector<StatusLine> out;
    for (size_t i = 0; i < run.out.size(); ++i) {
        const std::string& text = run.out[i].text;
        if (text.rfind("  fps=", 0) != 0) {
            continue;
        }
        std::smatch m;
        if (!std::regex_match(text, m, kShape)) {
            ADD_FAILURE() << "malformed status line: '" << text << "'";
            continue;
        }
        StatusLine s;
        s.seconds = run.out[i].seconds;
        s.index = static_cast<int>(i);
        s.fpsNotApplicable = m[1] == "  n/a";
        s.fps = s.fpsNotApplicable ? 0.0 : std::stod(m[1]);
        s.imu = std::stoll(m[2]);
        s.age = std::stod(m[3]);
        s.gaps = std::stoll(m[4]);
        s.stalls = std::stoll(m[5]);
        s.accelMagnitude = std::stoll(m[6]);
        for (int k = 0; k < 3; ++k) {
            s.gyro[k] = std::stoi(m[7 + k]);
        }
        s.prox = m[10];
        s.freeRun = m[11].matched;
        out.push_back(s);
    }
    return out;
}

std::optional<PresentResult> FindPresentResult(const RunResult& run) {
    for (const TimedLine& l : run.out) {
        if (std::optional<PresentResult> r = test::ParsePresentResult(l.text)) {
            return r;
        }
    }
    return std::nullopt;
}

std::optional<ImuResult> FindImuResult(const RunResult& run) {
    static const std::regex kShape(
        R"(IMU RESULT: (\d+) samples \((\d+) reports\), (\d+) seq gaps, (\d+) stalls)");
    for (const TimedLine& l : run.out) {
        std::smatch m;
        if (std::regex_match(l.text, m, kShape)) {
            return ImuResult{std::stoll(m[1]), std::stoll(m[2]), std::stoll(m[3]),
                             std::stoll(m[4])};
        }
    }
    return std::nullopt;
}

}  // namespace brisk::e2e
