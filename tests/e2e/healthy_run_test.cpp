// A whole run on a healthy virtual headset, as an engineer would see it.
#include <gtest/gtest.h>

#include <regex>

#include "e2e/e2e_support.h"

namespace brisk::e2e {
namespace {

// Margins for a loaded two-core machine: the panel runs at 75 Hz and the
// Watchman at 1000 samples/s, but a status cycle may stretch.
constexpr double kMinFps = 55.0, kMaxFps = 95.0;
constexpr long long kMinImu = 700, kMaxImu = 1400;

TEST(E2eHealthyRun, PassesWithAStatusLineEverySecondAndTheResultsInOrder) {
    RunResult run = RunSim("", {"3"});
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.err.empty());

    // Start-up in its fixed order: IMU stream, its rate after the 1.5 s wait,
    // proximity sensor, then the display.
    ASSERT_GE(run.out.size(), 5u);
    EXPECT_EQ(run.out[0].text, "TundraImu: 1 Watchman device(s), 1 MCU-paired");
    EXPECT_EQ(run.out[1].text, "TundraImu: using LHR-5A1B2C3D");
    static const std::regex kImuUp(
        R"(IMU stream up: (\d+) Hz, accel=\(-?\d+,-?\d+,-?\d+\) gyro=\(-?\d+,-?\d+,-?\d+\))");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(run.out[2].text, m, kImuUp));
    EXPECT_GE(std::stoi(m[1]), 800);
    EXPECT_LE(std::stoi(m[1]), 1300);
    EXPECT_GE(run.out[2].seconds, 1.45);
    EXPECT_EQ(run.out[3].text, "McuProx: telemetry at 50 ms, threshold 1500 +/- 100");
    EXPECT_EQ(run.out[4].text, "EnableDirectMode(0x2709) = 0x0");
    int mode = IndexOf(run.out, "using mode 5088x2544 @ 75.000 Hz format=22");
    int waitable = IndexOf(run.out, "GetPresentWaitableObject = 0x0");
    EXPECT_GT(mode, 4);
    EXPECT_GT(waitable, mode);

    int present = IndexOfPrefix(run.out, "PRESENT RESULT: ");
    int imu = IndexOfPrefix(run.out, "IMU RESULT: ");
    int verdict = IndexOf(run.out, kVerdictPass);
    ASSERT_GT(present, waitable);
    EXPECT_GT(imu, present);
    EXPECT_GT(verdict, imu);
    EXPECT_EQ(verdict, static_cast<int>(run.out.size()) - 1);

    std::vector<StatusLine> status = StatusLines(run);
    ASSERT_GE(status.size(), 2u);
    EXPECT_LE(status.size(), 4u);
    EXPECT_GT(status.front().index, waitable);
    // The first line's rate covers its own second, not the start-up wait.
    EXPECT_GE(status.front().imu, kMinImu);
    EXPECT_LE(status.front().imu, kMaxImu);
    for (size_t i = 0; i < status.size(); ++i) {
        const StatusLine& s = status[i];
        SCOPED_TRACE("status line " + std::to_string(i));
        EXPECT_EQ(s.prox, "away(200)");
        EXPECT_FALSE(s.freeRun);
        EXPECT_EQ(s.stalls, 0);
        EXPECT_LE(s.gaps, 5);                     // a starved reader may lose a burst; no more
        EXPECT_NEAR(s.accelMagnitude, 8192, 80);  // gravity at 8192 counts per g, and noise
        if (i == 0) {
            continue;
        }
        EXPECT_NEAR(s.seconds - status[i - 1].seconds, 1.0, 0.6);
        if (s.index < present) {  // a whole cycle within the present loop
            EXPECT_GE(s.fps, kMinFps);
            EXPECT_LE(s.fps, kMaxFps);
            EXPECT_GE(s.imu, kMinImu);
            EXPECT_LE(s.imu, kMaxImu);
            EXPECT_GE(s.age, 0.0);
            EXPECT_LT(s.age, 0.25);
        }
    }
    EXPECT_LT(status[1].index, present);

    std::optional<PresentResult> pr = FindPresentResult(run);
    ASSERT_TRUE(pr.has_value());
    EXPECT_GE(pr->frames, 150);
    EXPECT_LE(pr->frames, 240);
    EXPECT_GE(pr->seconds, 2.9);
    EXPECT_LE(pr->seconds, 3.6);
    EXPECT_EQ(pr->presentErrors, 0);
    EXPECT_EQ(pr->waitTimeouts, 0);
    EXPECT_EQ(pr->freeRunEvents, 0);

    std::optional<ImuResult> ir = FindImuResult(run);
    ASSERT_TRUE(ir.has_value());
    EXPECT_GE(ir->samples, 3500);
    // A report a sample, each with the two before it: a few reports the host
    // took late bring two new, and the first read may bring three.
    EXPECT_GE(ir->samples, ir->reports);
    EXPECT_LE(ir->samples, ir->reports + ir->reports / 10 + 2);
    EXPECT_LE(ir->seqGaps, 5);
    EXPECT_EQ(ir->stalls, 0);

    EXPECT_GE(run.endSeconds, 4.4);
    EXPECT_LT(run.endSeconds, 12.0);
}

}  // namespace
}  // namespace brisk::e2e
