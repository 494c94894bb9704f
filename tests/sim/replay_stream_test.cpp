// The replayed devices as the bus asks them, on a clock of the test's own:
// the capture's first report is there at once, a burst goes out a few at a
// time, what a loss cut off is gone, and the MCU answers its rate command
// when the recording did, once.
#include "sim/replay_source.h"

#include <gtest/gtest.h>

#include "capture/capture_test_support.h"

namespace brisk::sim {
namespace {

using capture::ReplayRole;

std::vector<uint8_t> Imu(uint8_t seq) {
    std::vector<uint8_t> r(52, 0);
    r[0] = 0x20;
    r[17] = seq;
    return r;
}

class ReplayStreamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        capture::test::CaptureBuilder c;
        c.Device(0, 1, 0x28DE, 0x2300, u"LHR-5A1B2C3D")
            .Device(0, 2, 0x35BD, 0x0101)
            .Report(0, 1, Imu(1))
            .Report(3000, 1, Imu(2))
            .Report(3000, 1, Imu(3))
            .Report(3000, 1, Imu(4))  // three recorded at one moment
            .Report(20000, 1, Imu(5))
            .Lost(30000, 1)
            .Report(400000, 2, {0x00, '#', 0, 0, 0, 0x06, 0xA4})
            .Report(500000, 2, {0x00, '$'})
            .Device(3000000, 1, 0x28DE, 0x2300, u"LHR-5A1B2C3D")
            .Report(3000100, 1, Imu(9));
        bytes = c.bytes;
        capture::ReplayPlan plan;
        std::string error;
        auto source = capture::OpenPacketSource(bytes.data(), bytes.size(), error);
        ASSERT_TRUE(source) << error;
        ASSERT_TRUE(capture::ScanReplay(*source, {}, plan, error)) << error;
        auto reader = std::make_unique<capture::ReplayReader>(
            capture::OpenPacketSource(bytes.data(), bytes.size(), error), plan);
        feed = std::make_shared<ReplayFeed>(std::move(plan), std::move(reader), start);
    }

    // The sequence numbers of what the IMU hands out at `ms`.
    std::vector<int> ImuAt(ReplayStream& imu, int ms) {
        std::vector<InputReport> out;
        imu.Produce(start + std::chrono::milliseconds(ms), out);
        std::vector<int> seqs;
        for (const InputReport& r : out) {
            seqs.push_back(r.bytes[17]);
        }
        return seqs;
    }

    std::vector<uint8_t> bytes;
    const Clock::time_point start{};
    std::shared_ptr<ReplayFeed> feed;
};

TEST_F(ReplayStreamTest, DeliversEveryReportInTurnAndDropsWhatALossCutOff) {
    ReplayStream imu(feed, ReplayRole::kImu);
    EXPECT_EQ(ImuAt(imu, 0), std::vector<int>{1});  // the capture's first packet
    EXPECT_EQ(imu.NextDue(start), start + std::chrono::milliseconds(3));
    EXPECT_EQ(ImuAt(imu, 3), (std::vector<int>{2, 3}));  // a burst: a few a look
    EXPECT_LE(imu.NextDue(start + std::chrono::milliseconds(3)),
              start + std::chrono::milliseconds(3));  // and the rest at once
    EXPECT_EQ(ImuAt(imu, 3), std::vector<int>{4});
    // Nobody looked until after the loss: report 5 belonged to a session that is over.
    EXPECT_TRUE(ImuAt(imu, 40).empty());
    // Back a second before its first sign of life; then its reports again.
    EXPECT_TRUE(ImuAt(imu, 2500).empty());
    EXPECT_EQ(ImuAt(imu, 3001), std::vector<int>{9});
    EXPECT_EQ(imu.NextDue(start + std::chrono::seconds(4)), Clock::time_point::max());
    EXPECT_TRUE(imu.KeepsReportsForReaders());
}

TEST_F(ReplayStreamTest, TheMcuAnswersItsRateCommandWhenTheRecordingDidAndOnce) {
    ReplayStream mcu(feed, ReplayRole::kMcu);
    const uint8_t rate[4] = {0x00, 'R', 0x00, 0x32};
    EXPECT_TRUE(mcu.OnFeature(rate, sizeof rate, start));
    std::vector<InputReport> out;
    mcu.Produce(start + std::chrono::milliseconds(450), out);
    ASSERT_EQ(out.size(), 1u);  // the telemetry, not yet the answer
    EXPECT_EQ(out[0].bytes[1], '#');
    EXPECT_EQ(mcu.NextDue(start + std::chrono::milliseconds(450)),
              start + std::chrono::milliseconds(500));
    out.clear();
    mcu.Produce(start + std::chrono::milliseconds(600), out);
    ASSERT_EQ(out.size(), 1u);  // its own answer; the recorded one is not sent again
    EXPECT_EQ(out[0].bytes[1], '$');
    out.clear();
    mcu.Produce(start + std::chrono::seconds(5), out);
    EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace brisk::sim
