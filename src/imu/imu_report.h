// The Watchman's IMU input report and the rule that decides which of its
// samples are new. Pure code: the reader thread calls it under its lock, the
// tests and the benchmark call it directly.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brisk {

// One IMU sample as the device sends it: raw counts, no scaling.
struct ImuSample {
    int16_t accel[3] = {};
    int16_t gyro[3] = {};
    uint32_t timestamp = 0;
    uint8_t seq = 0;
};

// The stream's counters. Only ever incremented.
struct ImuStats {
    uint64_t reports = 0;
    uint64_t samples = 0;
    uint64_t seqGaps = 0;
    uint64_t stalls = 0;
    uint64_t badReports = 0;
};

constexpr uint8_t kImuReportId = 0x20;
constexpr size_t kImuReportMinBytes = 52;  // report ID + three 17-byte samples
constexpr size_t kImuSampleBytes = 17;
constexpr size_t kImuSamplesPerReport = 3;

// True when `length` bytes at `report` are an IMU report: at least 52 bytes,
// report ID 0x20. Anything after byte 52 is ignored.
bool IsImuReport(const uint8_t* report, size_t length);

// Decodes the three samples of an IMU report (little-endian). False, leaving
// `out` untouched, when the bytes are not an IMU report.
bool DecodeImuReport(const uint8_t* report, size_t length, ImuSample (&out)[kImuSamplesPerReport]);

enum class SampleVerdict {
    Accept,     // follows the last accepted sample by exactly one (or is the first)
    AcceptGap,  // accepted, but the sequence broke: one gap
    Skip,       // a repeat or an older sample
};

// Sequence memory of one stream: the last accepted sample's seq and time stamp.
// Reset at every reconnect, so the first sample after it is taken as it comes.
class SeqFilter {
  public:
    SampleVerdict Judge(const ImuSample& sample);
    void Reset() { havePrev = false; }
    bool HasPrevious() const { return havePrev; }
    uint8_t PreviousSeq() const { return prevSeq; }

  private:
    bool havePrev = false;
    uint32_t prevTs = 0;
    uint8_t prevSeq = 0;
};

// A slot of all zero bytes: the device has not filled it since it started.
bool IsEmptySlot(const ImuSample& sample);

// The report's non-empty slots in the order of their sequence numbers, oldest
// first, into `order`; returns how many. The Watchman's three slots are a
// ring: each new sample goes into the slot after the previous one's, so the
// newest may sit in any slot and slot order says nothing. Numbers are read
// relative to the last accepted one (behind it first, then ahead of it,
// nearest first); before any was accepted, relative to the report's oldest.
size_t SlotsInSequenceOrder(const SeqFilter& filter,
                            const ImuSample (&parsed)[kImuSamplesPerReport],
                            size_t (&order)[kImuSamplesPerReport]);

// Runs one report's samples through `filter` in sequence order and books
// them: `reports` + 1, and per accepted sample `samples` + 1 (and `seqGaps` + 1
// when it broke the sequence), `latest` = that sample. Empty slots are passed
// over. Returns the number accepted, so the caller knows whether to refresh
// the sample's arrival time; with `acceptedOut` (room for three), the
// accepted samples are copied there in the order they were accepted.
size_t AcceptReport(SeqFilter& filter, const ImuSample (&parsed)[kImuSamplesPerReport],
                    ImuStats& counters, ImuSample& latest, ImuSample* acceptedOut = nullptr);

}  // namespace brisk
