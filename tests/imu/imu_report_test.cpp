// Report decoding and the sequence acceptance rule, without threads or devices.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "imu/imu_report.h"

namespace brisk {
namespace {

struct Raw {
    uint8_t seq;
    uint32_t timestamp;
    int16_t ax = 0;
};

void Put16(std::vector<uint8_t>& r, size_t at, int16_t v) {
    r[at] = static_cast<uint8_t>(v & 0xFF);
    r[at + 1] = static_cast<uint8_t>((static_cast<uint16_t>(v) >> 8) & 0xFF);
}

void Put32(std::vector<uint8_t>& r, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        r[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

std::vector<uint8_t> Report(const Raw (&s)[3], size_t length = 64) {
    std::vector<uint8_t> r(length < 64 ? 64 : length, 0);
    r[0] = kImuReportId;
    for (size_t i = 0; i < 3; ++i) {
        const size_t base = 1 + 17 * i;
        Put16(r, base, s[i].ax);
        Put32(r, base + 12, s[i].timestamp);
        r[base + 16] = s[i].seq;
    }
    r.resize(length);
    return r;
}

TEST(ImuReport, DecodesAllFieldsLittleEndianFromExactly52Bytes) {
    std::vector<uint8_t> r(52, 0);
    r[0] = 0x20;
    const int16_t axes[6] = {-2, 1000, -32768, 32767, 0x1234, -300};
    for (size_t i = 0; i < 3; ++i) {
        const size_t base = 1 + 17 * i;
        for (size_t a = 0; a < 6; ++a) {
            Put16(r, base + 2 * a, static_cast<int16_t>(axes[a] + static_cast<int16_t>(i)));
        }
        Put32(r, base + 12, 0xA1B2C3D4u + static_cast<uint32_t>(i));
        r[base + 16] = static_cast<uint8_t>(250 + i);
    }
    ImuSample out[3];
    ASSERT_TRUE(DecodeImuReport(r.data(), r.size(), out));
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const int16_t k = static_cast<int16_t>(i);
        EXPECT_EQ(out[i].accel[0], static_cast<int16_t>(-2 + k));
        EXPECT_EQ(out[i].accel[1], 1000 + k);
        EXPECT_EQ(out[i].accel[2], static_cast<int16_t>(-32768 + k));
        EXPECT_EQ(out[i].gyro[0], static_cast<int16_t>(32767 + k));  // wraps for i > 0
        EXPECT_EQ(out[i].gyro[1], 0x1234 + k);
        EXPECT_EQ(out[i].gyro[2], -300 + k);
        EXPECT_EQ(out[i].timestamp, 0xA1B2C3D4u + i);
        EXPECT_EQ(out[i].seq, 250 + i);
    }
}

TEST(ImuReport, RejectsShortOrForeignReportsAndLeavesOutputAlone) {
    const std::vector<uint8_t> good = Report({{1, 10, 7}, {2, 20}, {3, 30}}, 52);
    ImuSample out[3];
    out[0].seq = 99;
    EXPECT_FALSE(DecodeImuReport(good.data(), 51, out));
    std::vector<uint8_t> foreign = good;
    foreign[0] = 0x21;
    EXPECT_FALSE(DecodeImuReport(foreign.data(), foreign.size(), out));
    EXPECT_FALSE(DecodeImuReport(nullptr, 64, out));
    EXPECT_EQ(out[0].seq, 99);

    // Bytes past the three samples are ignored.
    std::vector<uint8_t> longer = Report({{1, 10, 7}, {2, 20}, {3, 30}}, 64);
    for (size_t i = 52; i < 64; ++i) {
        longer[i] = 0xEE;
    }
    ASSERT_TRUE(DecodeImuReport(longer.data(), longer.size(), out));
    EXPECT_EQ(out[0].accel[0], 7);
    EXPECT_EQ(out[2].seq, 3);
    EXPECT_EQ(out[2].timestamp, 30u);
}

// Feeds reports through the rule the way the reader does.
class Acceptance : public ::testing::Test {
  protected:
    size_t Feed(const Raw (&s)[3]) {
        const std::vector<uint8_t> r = Report(s);
        ImuSample parsed[3];
        EXPECT_TRUE(DecodeImuReport(r.data(), r.size(), parsed));
        return AcceptReport(filter, parsed, stats, latest);
    }
    SeqFilter filter;
    ImuStats stats;
    ImuSample latest;
};

TEST_F(Acceptance, RepeatsAndOlderSamplesAreDroppedAndBreaksCountOnce) {
    EXPECT_EQ(Feed({{10, 100}, {11, 101}, {12, 102}}), 3u);
    EXPECT_EQ(stats.reports, 1u);
    EXPECT_EQ(stats.samples, 3u);
    EXPECT_EQ(stats.seqGaps, 0u);
    EXPECT_EQ(latest.seq, 12);

    // 11 is older (d = 255), 12 a repeat, 13 new.
    EXPECT_EQ(Feed({{11, 101}, {12, 102}, {13, 103}}), 1u);
    EXPECT_EQ(stats.samples, 4u);
    EXPECT_EQ(stats.seqGaps, 0u);
    EXPECT_EQ(latest.seq, 13);

    // 14..16 missing: one gap for the break, not three.
    EXPECT_EQ(Feed({{17, 107}, {18, 108}, {19, 109}}), 3u);
    EXPECT_EQ(stats.reports, 3u);
    EXPECT_EQ(stats.samples, 7u);
    EXPECT_EQ(stats.seqGaps, 1u);
    EXPECT_EQ(latest.seq, 19);
    EXPECT_EQ(stats.stalls, 0u);
    EXPECT_EQ(stats.badReports, 0u);
}

TEST_F(Acceptance, AllRepeatReportCountsOnlyTheReport) {
    Feed({{1, 5, 11}, {2, 6, 22}, {3, 7, 33}});
    EXPECT_EQ(Feed({{1, 5, -1}, {2, 6, -2}, {3, 7, -3}}), 0u);
    EXPECT_EQ(stats.reports, 2u);
    EXPECT_EQ(stats.samples, 3u);
    EXPECT_EQ(stats.seqGaps, 0u);
    EXPECT_EQ(latest.seq, 3);
    EXPECT_EQ(latest.accel[0], 33);
}

TEST_F(Acceptance, SequenceWrapsFrom255To0) {
    Feed({{253, 1}, {254, 2}, {255, 3}});
    EXPECT_EQ(Feed({{0, 4}, {1, 5}, {2, 6}}), 3u);
    EXPECT_EQ(stats.seqGaps, 0u);
    EXPECT_EQ(latest.seq, 2);
}

TEST_F(Acceptance, SameSeqWithNewTimestampIsAcceptedAsAGap) {
    Feed({{40, 1}, {41, 2}, {42, 3}});
    EXPECT_EQ(Feed({{42, 3}, {42, 9}, {43, 10}}), 2u);
    EXPECT_EQ(stats.samples, 5u);
    EXPECT_EQ(stats.seqGaps, 1u);
    EXPECT_EQ(latest.timestamp, 10u);
}

TEST(SeqFilter, HalfCircleDecidesOlderOrAhead) {
    SeqFilter f;
    ImuSample s;
    s.seq = 0;
    EXPECT_EQ(f.Judge(s), SampleVerdict::Accept);  // the first is taken as it comes
    s.seq = 128;
    s.timestamp = 1;
    EXPECT_EQ(f.Judge(s), SampleVerdict::Skip);  // d = 128: older
    s.seq = 127;
    EXPECT_EQ(f.Judge(s), SampleVerdict::AcceptGap);  // d = 127: ahead
    s.seq = 128;
    s.timestamp = 2;
    EXPECT_EQ(f.Judge(s), SampleVerdict::Accept);  // follows 127, so the skip left no trace
    s.seq = 100;
    EXPECT_EQ(f.Judge(s), SampleVerdict::Skip);
}

TEST(SeqFilter, ResetTakesTheNextSampleWithoutGapTest) {
    SeqFilter f;
    ImuSample s;
    s.seq = 200;
    s.timestamp = 7;
    f.Judge(s);
    f.Reset();
    EXPECT_EQ(f.Judge(s), SampleVerdict::Accept);  // would be a repeat without the reset
    f.Reset();
    s.seq = 3;
    EXPECT_EQ(f.Judge(s), SampleVerdict::Accept);  // would be a gap
    f.Reset();
    s.seq = 150;
    EXPECT_EQ(f.Judge(s), SampleVerdict::Accept);  // would be older
}

}  // namespace
}  // namespace brisk
