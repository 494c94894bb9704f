// IMU input reports as a Watchman (or anything claiming to be one) sends them,
// through decoding and the acceptance rule, the way the reader thread runs them.
//
// Input: records of one length byte and that many report bytes; the length
// 0xFF instead stands for a reconnect (the sequence memory is reset).
#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "imu/imu_report.h"

namespace {

using brisk::ImuSample;
using brisk::kImuReportId;
using brisk::kImuReportMinBytes;
using brisk::kImuSampleBytes;
using brisk::kImuSamplesPerReport;
using brisk::fuzz::ExactBuffer;
using brisk::fuzz::Reader;

constexpr uint8_t kReconnect = 0xFF;

// The wire bytes of one sample, written independently of the decoder.
void Encode(const ImuSample& s, uint8_t* out) {
    for (int axis = 0; axis < 3; ++axis) {
        const auto a = static_cast<uint16_t>(s.accel[axis]);
        const auto g = static_cast<uint16_t>(s.gyro[axis]);
        out[2 * axis] = static_cast<uint8_t>(a);
        out[2 * axis + 1] = static_cast<uint8_t>(a >> 8);
        out[6 + 2 * axis] = static_cast<uint8_t>(g);
        out[6 + 2 * axis + 1] = static_cast<uint8_t>(g >> 8);
    }
    for (int i = 0; i < 4; ++i) {
        out[12 + i] = static_cast<uint8_t>(s.timestamp >> (8 * i));
    }
    out[16] = s.seq;
}

bool SameSample(const ImuSample& a, const ImuSample& b) {
    uint8_t ea[kImuSampleBytes], eb[kImuSampleBytes];
    Encode(a, ea);
    Encode(b, eb);
    return std::memcmp(ea, eb, sizeof(ea)) == 0;
}

// The acceptance rule as the stream promises it: newer by 1..127 (mod 256)
// is taken, a step other than 1 is a gap; a repeat or an older number is
// skipped. The same number with a new time stamp is a wrapped-around stream
// and taken as a gap.
struct Expected {
    bool have = false;
    uint8_t seq = 0;
    uint32_t ts = 0;
};

bool AllZero(const ImuSample& s) {
    uint8_t wire[kImuSampleBytes];
    Encode(s, wire);
    return std::all_of(wire, wire + kImuSampleBytes, [](uint8_t b) { return b == 0; });
}

// The filled slots, ordered by signed distance from the last accepted number
// or, before any, from the report's oldest (the one all others follow within
// half the circle; the first filled slot when none does).
std::vector<ImuSample> InSequenceOrder(const ImuSample (&parsed)[kImuSamplesPerReport],
                                       const Expected& model) {
    std::vector<ImuSample> filled;
    for (const ImuSample& s : parsed) {
        if (!AllZero(s)) {
            filled.push_back(s);
        }
    }
    if (filled.empty()) {
        return filled;
    }
    uint8_t reference = filled.front().seq;
    if (model.have) {
        reference = model.seq;
    } else {
        auto oldest = std::find_if(filled.begin(), filled.end(), [&](const ImuSample& a) {
            return std::all_of(filled.begin(), filled.end(), [&](const ImuSample& b) {
                return static_cast<uint8_t>(b.seq - a.seq) < 128;
            });
        });
        if (oldest != filled.end()) {
            reference = oldest->seq;
        }
    }
    std::stable_sort(filled.begin(), filled.end(), [&](const ImuSample& a, const ImuSample& b) {
        return static_cast<int8_t>(a.seq - reference) < static_cast<int8_t>(b.seq - reference);
    });
    return filled;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    brisk::SeqFilter filter;
    brisk::ImuStats stats;
    ImuSample latest;
    Expected model;
    FUZZ_CHECK(!brisk::IsImuReport(nullptr, size));
    while (!in.Empty()) {
        const uint8_t length = in.Byte();
        if (length == kReconnect) {
            filter.Reset();
            model.have = false;
            continue;
        }
        const std::vector<uint8_t> bytes = in.Take(length);
        const ExactBuffer report(bytes.data(), bytes.size());

        const bool isReport = report.size() >= kImuReportMinBytes && bytes[0] == kImuReportId;
        FUZZ_CHECK(brisk::IsImuReport(report.data(), report.size()) == isReport);

        ImuSample parsed[kImuSamplesPerReport];
        for (ImuSample& s : parsed) {
            s.seq = 0xA5;
            s.timestamp = 0xDEADBEEF;
        }
        const ImuSample untouched = parsed[0];
        const bool decoded = brisk::DecodeImuReport(report.data(), report.size(), parsed);
        FUZZ_CHECK(decoded == isReport);
        if (!decoded) {
            for (const ImuSample& s : parsed) {
                FUZZ_CHECK(SameSample(s, untouched));
            }
            continue;
        }
        // Decoding loses nothing: each sample encodes back to its wire bytes.
        for (size_t i = 0; i < kImuSamplesPerReport; ++i) {
            uint8_t wire[kImuSampleBytes];
            Encode(parsed[i], wire);
            FUZZ_CHECK(std::memcmp(wire, report.data() + 1 + i * kImuSampleBytes, sizeof(wire)) ==
                       0);
        }

        size_t wantAccepted = 0, wantGaps = 0;
        ImuSample wantLatest = latest;
        for (const ImuSample& s : InSequenceOrder(parsed, model)) {
            const auto d = static_cast<uint8_t>(s.seq - model.seq);
            if (model.have && (d >= 128 || (d == 0 && s.timestamp == model.ts))) {
                continue;
            }
            if (model.have && d != 1) {
                ++wantGaps;
            }
            ++wantAccepted;
            wantLatest = s;
            model = {true, s.seq, s.timestamp};
        }

        const brisk::ImuStats before = stats;
        const size_t accepted = brisk::AcceptReport(filter, parsed, stats, latest);
        FUZZ_CHECK(accepted == wantAccepted);
        FUZZ_CHECK(stats.reports == before.reports + 1);
        FUZZ_CHECK(stats.samples == before.samples + accepted);
        FUZZ_CHECK(stats.seqGaps == before.seqGaps + wantGaps);
        FUZZ_CHECK(stats.stalls == before.stalls && stats.badReports == before.badReports);
        FUZZ_CHECK(SameSample(latest, wantLatest));
        // The counters add up whatever the device sends.
        FUZZ_CHECK(stats.samples <= kImuSamplesPerReport * stats.reports);
        FUZZ_CHECK(stats.seqGaps <= stats.samples);
    }
    return 0;
}
