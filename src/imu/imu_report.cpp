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

bool IsEmptySlot(const ImuSample& sample) {
    for (int axis = 0; axis < 3; ++axis) {
        if (sample.accel[axis] != 0 || sample.gyro[axis] != 0) {
            return false;
        }
    }
    return sample.timestamp == 0 && sample.seq == 0;
}

size_t SlotsInSequenceOrder(const SeqFilter& filter,
                            const ImuSample (&parsed)[kImuSamplesPerReport],
                            size_t (&order)[kImuSamplesPerReport]) {
    size_t n = 0;
    for (size_t slot = 0; slot < kImuSamplesPerReport; ++slot) {
        if (!IsEmptySlot(parsed[slot])) {
            order[n++] = slot;
        }
    }
    if (n == 0) {
        return 0;
    }
    uint8_t reference = parsed[order[0]].seq;
    if (filter.HasPrevious()) {
        reference = filter.PreviousSeq();
    } else {
        // The oldest is the one every other follows within half the circle.
        for (size_t i = 0; i < n; ++i) {
            bool oldest = true;
            for (size_t j = 0; j < n; ++j) {
                oldest = oldest &&
                         static_cast<uint8_t>(parsed[order[j]].seq - parsed[order[i]].seq) < 128;
            }
            if (oldest) {
                reference = parsed[order[i]].seq;
                break;
            }
        }
    }
    // Signed distance from the reference: behind it (negative) first, then
    // ahead of it, nearest first. Insertion sort keeps equal numbers in slot order.
    auto key = [&](size_t slot) {
        return static_cast<int8_t>(static_cast<uint8_t>(parsed[slot].seq - reference));
    };
    for (size_t i = 1; i < n; ++i) {
        const size_t slot = order[i];
        size_t j = i;
        for (; j > 0 && key(order[j - 1]) > key(slot); --j) {
            order[j] = order[j - 1];
        }
        order[j] = slot;
    }
    return n;
}

size_t AcceptReport(SeqFilter& filter, const ImuSample (&parsed)[kImuSamplesPerReport],
                    ImuStats& counters, ImuSample& latest, ImuSample* acceptedOut) {
    ++counters.reports;
    size_t order[kImuSamplesPerReport];
    const size_t filled = SlotsInSequenceOrder(filter, parsed, order);
    size_t accepted = 0;
    for (size_t k = 0; k < filled; ++k) {
        const ImuSample& sample = parsed[order[k]];
        const SampleVerdict verdict = filter.Judge(sample);
        if (verdict == SampleVerdict::Skip) {
            continue;
        }
        if (verdict == SampleVerdict::AcceptGap) {
            ++counters.seqGaps;
        }
        latest = sample;
        ++counters.samples;
        if (acceptedOut != nullptr) {
            acceptedOut[accepted] = sample;
        }
        ++accepted;
    }
    return accepted;
}

}  // namespace brisk
