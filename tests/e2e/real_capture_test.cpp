// Captures of real Watchman IMUs, published by others, replayed through
// brisk-sim as a new user would: as found, with no option but the file. The
// tool's totals are held to what tshark finds in the same file, counted by
// the test's own rule; and a recording of the replay holds every report with
// every byte.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "e2e/imu_truth.h"

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

class E2eRealCapture : public ::testing::TestWithParam<RealCapture> {};

TEST_P(E2eRealCapture, ReplaysWithTheSamplesAndBreaksItHoldsAndRecordsEveryByte) {
    const RealCapture& c = GetParam();
    const std::string path = std::string(BRISK_REAL_DATA) + "/" + c.file;
    const std::vector<std::vector<uint8_t>> sent = TsharkInputReports(path, c.address);
    const ImuTruth truth = CountImuTruth(sent);
    ASSERT_GT(truth.reports, 1000);

    TempFile recording(".pcap");
    const RunResult run =
        RunSim("", {"--display", "none", "--record", recording.Path()}, {}, {"--replay", path});
    SCOPED_TRACE(Describe(run));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    const std::string said = "brisk-sim: " + path + ": ";
    EXPECT_EQ(IndexOf(run.err, said + "no Watchman device descriptor; the IMU is USB address " +
                                   std::to_string(c.address) + ", whose endpoint 0x81 has " +
                                   std::to_string(truth.reports) + " IMU reports"),
              0);
    EXPECT_EQ(IndexOf(run.err, said + "the capture has no MCU; the tool is told --imu-serial " +
                                   kDefaultSerial),
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
