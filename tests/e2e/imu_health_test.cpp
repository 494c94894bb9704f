// --imu-health on the virtual Watchman with faults of known size injected
// by the scenario: the clock offset, a stuck axis, saturation and samples
// lost in time come back in the console line, the log and the verdict;
// a healthy device raises no flag.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>

#include "e2e/e2e_support.h"
#include "report/log_reader.h"

namespace brisk::e2e {
namespace {

report::LoggedSummary ReadSummary(const std::string& path) {
    std::ifstream in(path);
    return report::ReadLoggedRun(in).log.summary;
}

TEST(E2eImuHealth, InjectedFaultsAreFlaggedAndFailTheRun) {
    TempFile log(".csv");
    RunOptions minute;
    minute.timeoutSeconds = 120;
    const RunResult run = RunSim(
        "0  watchman clock -950\n"
        "20 watchman stuck gy\n"
        "30 watchman saturate az\n"
        "31 watchman saturate off\n"
        "40 watchman drop-every 10\n",
        {"--display", "none", "--imu-health", "--log", log.Path(), "60"}, minute);
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    const report::LoggedSummary s = ReadSummary(log.Path());
    const report::LoggedHealth& h = s.imuHealth;
    ASSERT_TRUE(h.present);
    // A second of saturation: about a thousand samples (the scenario's
    // actions land within some milliseconds of their times).
    EXPECT_NEAR(h.axes[2].saturated, 1000.0, 100.0);
    const std::string flags =
        "accel z saturated (" + std::to_string(std::lround(h.axes[2].saturated)) +
        " samples); gyro y stuck; p99 sample interval 2.00 ms over 1.5 periods";
    EXPECT_EQ(h.flags, flags);
    EXPECT_EQ(s.verdict, "FAIL (sensors only)");
    EXPECT_EQ(s.failReasons, "IMU health: " + flags);

    const int result = IndexOfPrefix(run.out, "IMU RESULT: ");
    ASSERT_GE(result, 0);
    ASSERT_LT(result + 3, static_cast<int>(run.out.size()));
    const std::string health = run.out[result + 1].text;
    EXPECT_EQ(health.rfind("IMU HEALTH: clock -9", 0), 0u) << health;
    EXPECT_NE(health.find(" — FLAGS: " + flags), std::string::npos) << health;
    EXPECT_EQ(run.out[result + 2].text, "REASONS: imu_health — IMU health: " + flags);
    EXPECT_EQ(run.out[result + 3].text, "VERDICT: FAIL (sensors only)");
    EXPECT_NEAR(h.clockPpm, -950.0, 5.0);
    EXPECT_NEAR(h.ticksPerSample, 48000.0, 1.0);
    // Stuck and saturated within 2 s of the fault (stream time starts with
    // the first report, a moment after brisk-sim's clock).
    EXPECT_GE(h.axes[4].stuckAt, 20.0);
    EXPECT_LE(h.axes[4].stuckAt, 22.0);
    EXPECT_GE(h.axes[2].saturatedAt, 29.5);
    EXPECT_LE(h.axes[2].saturatedAt, 31.0);
    EXPECT_LT(h.axes[3].stuckAt, 0.0);
    // Every tenth sample lost in time from 40 s: about 2,150 more missing
    // by the time stamps than by the sequence numbers (which miss only what
    // a reader starved on a loaded machine lost, as a real HID stack would).
    EXPECT_NEAR(h.missingByTime - h.missingBySeq, 2150.0, 150.0);
    EXPECT_NEAR(h.intervalP99Ms, 2.0, 0.02);
}

TEST(E2eImuHealth, AHealthyDeviceRaisesNoFlag) {
    TempFile log(".csv");
    const RunResult run = RunSim("0 watchman clock 400\n",
                                 {"--display", "none", "--imu-health", "--log", log.Path(), "12"});
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    const int result = IndexOfPrefix(run.out, "IMU HEALTH: ");
    ASSERT_GE(result, 0);
    EXPECT_NE(run.out[result].text.find(" — no flags"), std::string::npos);
    EXPECT_EQ(run.out.back().text, "VERDICT: PASS (sensors only — no display tested)");
    const report::LoggedSummary s = ReadSummary(log.Path());
    EXPECT_EQ(s.failReasons, "");
    EXPECT_NEAR(s.imuHealth.clockPpm, 400.0, 20.0);
    EXPECT_NEAR(s.imuHealth.accelMagnitudeG, 1.0, 0.01);
    EXPECT_EQ(s.imuHealth.missingByTime, 0.0);
}

}  // namespace
}  // namespace brisk::e2e
