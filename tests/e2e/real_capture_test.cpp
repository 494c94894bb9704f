// Captures of real Watchman IMUs, published by others, replayed through
// brisk-sim as a new user would: as found, with no option but the file. The
// tool's totals are held to what tshark finds in the same file, counted by
// the test's own rule; and a recording of the replay holds every report with
// every byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "e2e/imu_truth.h"
#include "imu/imu_health.h"
#include "report/log_reader.h"
#include "support/subprocess.h"

namespace brisk::e2e {
namespace {

struct RealCapture {
    const char* file;
    int address;  // of its Watchman, which no descriptor in the capture names
    double seconds;
};

void PrintTo(const RealCapture& c, std::ostream* os) {
    *os << c.file;
}

// The health figures the tool logged against numpy's over tshark's fields
// (imu_health_truth.py): within 2 %; the clock, which the replay times by
// the capture's own time stamps, within a tenth of a ppm.
void ExpectHealthAsComputedApart(const std::string& logPath, const std::string& capture,
                                 int address, double seconds) {
    std::ifstream in(logPath);
    const report::LogReadResult read = report::ReadLoggedRun(in);
    const report::LoggedHealth& h = read.log.summary.imuHealth;
    ASSERT_TRUE(h.present);
    const test::RunResult truth =
        test::RunProgram({"/usr/bin/python3", std::string(BRISK_E2E_DIR) + "/imu_health_truth.py",
                          capture, std::to_string(address)},
                         {});
    ASSERT_TRUE(truth.exited);
    std::map<std::string, std::vector<std::vector<double>>> figures;
    for (const test::TimedLine& l : truth.out) {
        std::istringstream words(l.text);
        std::string name;
        words >> name;
        std::vector<double> values;
        for (double v; words >> v;) {
            values.push_back(v);
        }
        figures[name].push_back(values);
    }
    auto near = [](double ours, double theirs, const char* what) {
        EXPECT_NEAR(ours, theirs, std::fabs(theirs) * 0.02) << what;
    };
    ASSERT_EQ(figures["ticks_per_sample"].size(), 1u);
    near(h.ticksPerSample, figures["ticks_per_sample"][0][0], "ticks per sample");
    ASSERT_EQ(figures["clock_ppm"].size(), 1u);
    if (seconds > 2 * kClockFitMinSeconds) {  // a run near the least fit span may have none
        EXPECT_NEAR(h.clockPpm, figures["clock_ppm"][0][0], 0.1) << "clock";
    }
    ASSERT_EQ(figures["sd"].size(), 1u);
    for (int axis = 0; axis < 6; ++axis) {
        near(h.axes[axis].sd, figures["sd"][0][axis], "sd");
    }
    ASSERT_EQ(figures["allan"].size(), 3u);
    for (const std::vector<double>& at : figures["allan"]) {
        for (int axis = 0; axis < 3; ++axis) {
            const auto point =
                std::find_if(h.allan[axis].begin(), h.allan[axis].end(),
                             [&](const auto& p) { return std::fabs(p.first / at[0] - 1) < 0.01; });
            ASSERT_NE(point, h.allan[axis].end()) << "tau " << at[0];
            near(point->second, at[1 + axis], "Allan deviation");
        }
    }
}

class E2eRealCapture : public ::testing::TestWithParam<RealCapture> {};

TEST_P(E2eRealCapture, ReplaysWithTheSamplesAndBreaksItHoldsAndRecordsEveryByte) {
    const RealCapture& c = GetParam();
    const std::string path = std::string(BRISK_REAL_DATA) + "/" + c.file;
    const std::vector<std::vector<uint8_t>> sent = TsharkInputReports(path, c.address);
    const ImuTruth truth = CountImuTruth(sent);
    ASSERT_GT(truth.reports, 1000);

    TempFile recording(".pcap");
    TempFile log(".csv");
    const RunResult run = RunSim(
        "",
        {"--display", "none", "--record", recording.Path(), "--log", log.Path(), "--imu-health"},
        {}, {"--replay", path});
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    const std::string said = "brisk-sim: " + path + ": ";
    EXPECT_EQ(IndexOf(run.err, said + "no Watchman device descriptor; the IMU is USB address " +
                                   std::to_string(c.address) + ", whose endpoint 0x81 has " +
                                   std::to_string(truth.reports) + " IMU reports"),
              0);
    EXPECT_EQ(IndexOf(run.err, said + "the capture has no MCU; the tool is told --imu-serial " +
                                   kDefaultSerial +
                                   ", a serial brisk-sim chose (the capture holds none)"),
              1);
    char length[128];
    std::snprintf(length, sizeof length,
                  "%.1f s of capture; the run ends 0.5 s after its last packet (give the tool "
                  "SECONDS to choose)",
                  c.seconds);
    EXPECT_EQ(IndexOf(run.err, said + length), 2);

    // Every IMU report reached the tool, and it counted what they hold.
    const std::optional<ImuResult> imu = FindImuResult(run);
    ASSERT_TRUE(imu);
    EXPECT_EQ(imu->reports, truth.reports);
    EXPECT_EQ(imu->samples, truth.samples);
    EXPECT_EQ(imu->seqGaps, truth.breaks);
    EXPECT_EQ(run.out.back().text, "VERDICT: PASS (sensors only — no display tested)");
    EXPECT_EQ(IndexOfPrefix(run.out, "IMU HEALTH: "), static_cast<int>(run.out.size()) - 2);
    ExpectHealthAsComputedApart(log.Path(), path, c.address, c.seconds);
    // What brisk-sim made up is marked so in the log (and from it the report).
    std::ifstream logged(log.Path());
    const report::LogReadResult read = report::ReadLoggedRun(logged);
    EXPECT_EQ(read.log.run.launchedBy, "brisk-sim --replay " + path + "; inferred: USB serial " +
                                           kDefaultSerial +
                                           " chosen by brisk-sim (the capture holds none); no MCU "
                                           "in the capture");
    EXPECT_EQ(read.log.run.mode, "");  // no display, no mode

    // The recording of the replay holds the same reports, byte for byte.
    const std::vector<std::vector<uint8_t>> recorded = TsharkInputReports(recording.Path(), 1);
    ASSERT_EQ(recorded.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        ASSERT_EQ(recorded[i], sent[i]) << "report " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Published, E2eRealCapture,
                         ::testing::Values(RealCapture{"vive-index-cal.pcap.gz", 19, 19.6},
                                           RealCapture{"lh2_test_cal.pcap.gz", 8, 18.9},
                                           RealCapture{"tracker-gen2-wired-buttons.pcap.gz", 12,
                                                       5.2}),
                         [](const ::testing::TestParamInfo<RealCapture>& info) {
                             const std::string name = info.param.file;
                             return name.substr(0, name.find_first_of("-_"));
                         });

}  // namespace
}  // namespace brisk::e2e
