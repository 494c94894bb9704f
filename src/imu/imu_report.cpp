#include "imu/imu_report.h"

namespace brisk {
namespace {

int16_t ReadI16(const uint8_t* p) {
    return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}

uint32_t ReadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void DecodeSample(const uint8_t* p, ImuSample& s) {
    for (int axis = 0; axis < 3; ++axis) {
        s.accel[axis] = ReadI16(p + 2 * axis);
        s.gyro[axis] = ReadI16(p + 6 + 2 * axis);
    }
    s.timestamp = ReadU32(p + 12);
    s.seq = p[16];
}

}  // namespace

bool IsImuReport(const uint8_t* report, size_t length) {
    return report != nullptr && length >= kImuReportMinBytes && report[0] == kImuReportId;
}

bool DecodeImuReport(const uint8_t* report, size_t length, ImuSample (&out)[kImuSamplesPerReport]) {
    if (!IsImuReport(report, length)) {
        return false;
    }
    for (size_t i = 0; i < kImuSamplesPerReport; ++i) {
        DecodeSample(report + 1 + i * kImuSampleBytes, out[i]);
    }
    return true;
}

SampleVerdict SeqFilter::Judge(const ImuSample& sample) {
    SampleVerdict verdict = SampleVerdict::Accept;
    if (havePrev) {
        // Distance forward from the last accepted number, modulo 256: the
        // upper half of the circle counts as "behind us".
        const uint8_t d = static_cast<uint8_t>(sample.seq - prevSeq);
        if (d == 0 && sample.timestamp == prevTs) {
            return SampleVerdict::Skip;
        }
        if (d >= 128) {
            return SampleVerdict::Skip;
        }
        if (d != 1) {
            verdict = SampleVerdict::AcceptGap;
        }
    }
    havePrev = true;
    prevTs = sample.timestamp;
    prevSeq = sample.seq;
    return verdict;
}

size_t AcceptReport(SeqFilter& filter, const ImuSample (&parsed)[kImuSamplesPerReport],
                    ImuStats& counters, ImuSample& latest) {
    ++counters.reports;
    size_t accepted = 0;
    for (const ImuSample& sample : parsed) {
        const SampleVerdict verdict = filter.Judge(sample);
        if (verdict == SampleVerdict::Skip) {
            continue;
        }
        if (verdict == SampleVerdict::AcceptGap) {
            ++counters.seqGaps;
        }
        latest = sample;
        ++counters.samples;
        ++accepted;
    }
    return accepted;
}

}  // namespace brisk
