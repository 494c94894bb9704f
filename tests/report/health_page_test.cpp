// The IMU health figures from the accumulator, through the run log's summary
// row and back, onto the run page, and that page in a real browser: the
// figures read back as written, and the Allan plot draws one line per gyro
// axis inside its box.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "imu/imu_health.h"
#include "log/csv_writer.h"
#include "log/log_rows.h"
#include "report/log_reader.h"
#include "support/png_image.h"
#include "support/headless_chromium.h"

namespace brisk::test {
namespace {

namespace fs = std::filesystem;

// Two minutes of a quiet IMU whose gyro y axis sticks after 100 s.
ImuHealthFigures TwoMinutesOfFigures() {
    ImuHealth health;
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 6.0);
    ImuSample s;
    for (uint32_t i = 0; i < 120'000; ++i) {
        s.timestamp = 1000u + i * kImuNominalTicksPerSample;
        s.seq = static_cast<uint8_t>(i);
        for (int axis = 0; axis < 3; ++axis) {
            s.accel[axis] = static_cast<int16_t>(std::lround(noise(rng)) + (axis == 1 ? 8192 : 0));
            s.gyro[axis] = static_cast<int16_t>(std::lround(noise(rng) * (axis + 1)));
        }
        if (i >= 100'000) {
            s.gyro[1] = 4;
        }
        health.AddReport(int64_t{i} * 1'000'000 + 37'000, &s, 1);
    }
    return health.Figures();
}

std::string LogWithHealth(const ImuHealthFigures& f) {
    RunFacts facts;
    facts.display = "none";
    facts.imuSerial = "LHR-0000TEST";
    RunSummary summary;
    summary.imuRan = true;
    summary.imuSamples = f.samples;
    summary.haveHealth = true;
    summary.health = f;
    summary.verdict = "FAIL (sensors only)";
    summary.failReasons = "IMU health: " + HealthFlagText(f);
    summary.reasons = {Reason{"imu_health", summary.failReasons, true, RunPart::kImu}};
    const auto t = std::chrono::system_clock::time_point(std::chrono::seconds(1796734634));
    return FormatCsvRow(LogHeader()) + FormatLogRow(RunRow(facts), t, 0.0) +
           FormatLogRow(SummaryRow(summary), t + std::chrono::seconds(120), 120.0);
}

TEST(HealthOnThePage, FiguresReadBackAndTheAllanPlotRenders) {
    const ImuHealthFigures f = TwoMinutesOfFigures();
    ASSERT_EQ(f.flags, kFlagStuck);

    // Read back as written, to the digits the log keeps.
    std::istringstream in(LogWithHealth(f));
    const report::LogReadResult read = report::ReadLoggedRun(in);
    ASSERT_TRUE(read.isBriskLog);
    const report::LoggedHealth& h = read.log.summary.imuHealth;
    ASSERT_TRUE(h.present);
    EXPECT_NEAR(h.ticksPerSample, f.ticksPerSample, 0.01);
    EXPECT_NEAR(h.clockPpm, f.clockPpm, 0.1);
    EXPECT_NEAR(h.intervalP99Ms, f.intervalP99 * 1e3, 1e-4);
    EXPECT_NEAR(h.accelMagnitudeG, f.accelMagnitudeG, 1e-4);
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_NEAR(h.axes[axis].sd, f.accel[axis].sd, 1e-3);
        EXPECT_NEAR(h.axes[3 + axis].mean, f.gyro[axis].mean, 1e-3);
        ASSERT_EQ(h.allan[axis].size(), f.allan[axis].size);
        for (size_t k = 0; k < f.allan[axis].size; ++k) {
            EXPECT_NEAR(h.allan[axis][k].second, f.allan[axis].points[k].sigma,
                        f.allan[axis].points[k].sigma * 1e-5);
        }
    }
    EXPECT_NEAR(h.axes[4].stuckAt, 101.0, 0.01);
    EXPECT_LT(h.axes[3].stuckAt, 0.0);
    EXPECT_EQ(h.flags, "gyro y stuck");

    // The page, in Chromium.
    ASSERT_TRUE(fs::exists(kChromiumPath)) << "scripts/deps installs it";
    const fs::path dir =
        fs::temp_directory_path() /
        ("brisk-health-page-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::remove_all(dir);
    fs::create_directories(dir / "profile");
    std::ofstream(dir / "run.csv", std::ios::binary) << LogWithHealth(f);
    const RunResult report = RunProgram({BRISK_REPORT_PATH, (dir / "run.csv").string()}, {});
    ASSERT_EQ(report.exitCode, 0) << Describe(report);
    std::ifstream pageFile(dir / "run.html");
    const std::string page((std::istreambuf_iterator<char>(pageFile)), {});
    EXPECT_NE(page.find("<p id=\"imu-flags\" class=\"note\">Flags: gyro y stuck</p>"),
              std::string::npos);
    EXPECT_NE(page.find("<tr><th>gyro y</th>"), std::string::npos);
    EXPECT_NE(page.find("<td>from 101.000 s</td>"), std::string::npos);

    const std::string png = (dir / "page.png").string();
    const RunResult browser =
        RunHeadlessChromium((dir / "profile").string(), (dir / "run.html").string(),
                            {"--screenshot=" + png, "--window-size=1400,1400"});
    ASSERT_TRUE(browser.exited && browser.exitCode == 0) << Describe(browser);
    EXPECT_EQ(ConsoleMessages(browser), std::vector<std::string>{});
    const support::PngImage shot(png);
    ASSERT_TRUE(shot.Loaded());
    // The plot's box is the only area of #fafafa on the page (text edges
    // hold stray pixels of it); each axis's colour is drawn inside it.
    const support::Rgb box{0xfa, 0xfa, 0xfa};
    const support::PngImage::Box area = shot.AreaOf(box, 200);
    const int x0 = area.x0, y0 = area.y0, x1 = area.x1, y1 = area.y1;
    ASSERT_GE(x1, 0) << "no Allan plot in the screenshot";
    EXPECT_NEAR(x1 - x0, 419, 20);
    EXPECT_NEAR(y1 - y0, 259, 20);
    for (const support::Rgb colour :
         {support::Rgb{0xc6, 0x28, 0x28}, support::Rgb{0x2e, 0x7d, 0x32},
          support::Rgb{0x15, 0x65, 0xc0}}) {
        int ink = 0;
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) {
                ink += shot.At(x, y) == colour ? 1 : 0;
            }
        }
        EXPECT_GE(ink, 100) << colour;
    }
    if (!HasFailure()) {
        fs::remove_all(dir);
    }
}

}  // namespace
}  // namespace brisk::test
