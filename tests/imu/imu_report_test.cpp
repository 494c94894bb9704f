// Report decoding and the sequence acceptance rule, without threads or devices.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
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

// Reports copied verbatim from captures of real Watchman IMUs
// (tests/data/real: the head-mounted display and a hand controller), fed in
// capture order. Their slots are a ring, so the newest sample sits in any slot.
struct RealRun {
    const char* name;
    std::vector<const char*> reports;  // hex, 52 bytes each
    std::vector<size_t> accepted;      // new samples per report
    uint8_t latestSeq;
};

std::vector<uint8_t> FromHex(const char* hex) {
    std::vector<uint8_t> out;
    for (; hex[0] != 0 && hex[1] != 0; hex += 2) {
        out.push_back(static_cast<uint8_t>(std::stoi(std::string(hex, 2), nullptr, 16)));
    }
    return out;
}

std::vector<uint8_t> WithEmptySlots(const char* hex, size_t firstEmpty) {
    std::vector<uint8_t> r = FromHex(hex);
    std::fill(r.begin() + static_cast<std::ptrdiff_t>(1 + 17 * firstEmpty), r.end(), 0);
    return r;
}

// Display frames 306..314: one and two new samples, 255 to 0 across slots.
const char* const kDisplay306 =
    "2018e07eff92020f006c003c004f94239ffb28e078ff8e02090068003f00c54f249ffc1ee068ff940207006600"
    "43003b0b259ffd";
const std::vector<const char*> kDisplayRun = {
    kDisplay306,
    "2008e07cffa402070068004300b1c6259ffe06e086ff9c020500680045002782269fff1ee068ff940207006600"
    "43003b0b259ffd",
    "200ee074ffa402ffff6a003f0013f9279f0106e086ff9c020500680045002782269fff10e074ff9a0200006600"
    "45009d3d279f00",
    "200ee074ffa402ffff6a003f0013f9279f0116e076ffa20208006f003a0089b4289f0210e074ff9a0200006600"
    "45009d3d279f00",
    "200ee074ffa402ffff6a003f0013f9279f0116e076ffa20208006f003a0089b4289f0226e072ff9c0211006d00"
    "3b00ff6f299f03",
};
// Hand controller frames 148..172: one report every 10 ms, two or three new each.
const std::vector<const char*> kControllerRun = {
    "2079fac5f020fe0700fdff0e00ba3a7364c06efad4f027fe0800fdff0d00d32b7664c16efad4f027fe0800fdff"
    "0d00ec1c7964c2",
    "206ffac9f01dfe0700fbff0f00050e7c64c36ffac9f01dfe0700fbff0f001dff7e64c46efad4f027fe0800fdff"
    "0d00ec1c7964c2",
    "2071fad1f024fe0900fdff10004ee18464c66ffacaf02cfe0900fcff0e0067d28764c771fad1f024fe0900fdff"
    "100036f08164c5",
    "2065facff02efe0900fdff0f0098b48d64c96ffacaf02cfe0900fcff0e0067d28764c76ffacaf02cfe0900fcff"
    "0e0080c38a64c8",
    "2074fad1f01ffe0900fcff0e00e2879664cc65facff02efe0900fdff0f00b1a59064ca74fad1f01ffe0900fcff"
    "0e00ca969364cb",
};

TEST_F(Acceptance, RealReportsInRingOrderLoseNothingAndCountNoFalseGaps) {
    const RealRun runs[] = {
        {"display: one or two new, 255 to 0", kDisplayRun, {3, 2, 2, 1, 1}, 3},
        {"controller: two or three new", kControllerRun, {3, 2, 3, 2, 3}, 204},
    };
    for (const RealRun& run : runs) {
        SCOPED_TRACE(run.name);
        filter.Reset();
        stats = ImuStats{};
        for (size_t i = 0; i < run.reports.size(); ++i) {
            const std::vector<uint8_t> r = FromHex(run.reports[i]);
            ImuSample parsed[3];
            ASSERT_TRUE(DecodeImuReport(r.data(), r.size(), parsed));
            EXPECT_EQ(AcceptReport(filter, parsed, stats, latest), run.accepted[i])
                << "report " << i;
        }
        EXPECT_EQ(stats.seqGaps, 0u);
        EXPECT_EQ(latest.seq, run.latestSeq);
    }
}

TEST_F(Acceptance, EmptySlotsAfterStartUpAreNotSamples) {
    // As a device just started sends them: one filled slot, then two, then three.
    const std::vector<uint8_t> reports[] = {WithEmptySlots(kDisplay306, 1),
                                            WithEmptySlots(kDisplay306, 2), FromHex(kDisplay306)};
    for (const std::vector<uint8_t>& r : reports) {
        ImuSample parsed[3];
        ASSERT_TRUE(DecodeImuReport(r.data(), r.size(), parsed));
        EXPECT_EQ(AcceptReport(filter, parsed, stats, latest), 1u);
    }
    EXPECT_EQ(stats.samples, 3u);
    EXPECT_EQ(stats.seqGaps, 0u);
    EXPECT_EQ(latest.seq, 253);
    // A report of nothing but empty slots is a report and no sample.
    const std::vector<uint8_t> empty = WithEmptySlots(kDisplay306, 0);
    ImuSample parsed[3];
    ASSERT_TRUE(DecodeImuReport(empty.data(), empty.size(), parsed));
    EXPECT_EQ(AcceptReport(filter, parsed, stats, latest), 0u);
    EXPECT_EQ(stats.reports, 4u);
}

TEST_F(Acceptance, ABreakInsideARotatedReportCountsOnce) {
    Feed({{10, 100}, {11, 101}, {12, 102}});
    // 13 and 14 lost; 15, 16, 17 arrive rotated.
    EXPECT_EQ(Feed({{16, 106}, {17, 107}, {15, 105}}), 3u);
    EXPECT_EQ(stats.seqGaps, 1u);
    EXPECT_EQ(latest.seq, 17);
    // Before any sample the oldest of the report goes first, across the wrap.
    filter.Reset();
    EXPECT_EQ(Feed({{0, 300}, {254, 298}, {255, 299}}), 3u);
    EXPECT_EQ(stats.seqGaps, 1u);
    EXPECT_EQ(latest.seq, 0);
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
