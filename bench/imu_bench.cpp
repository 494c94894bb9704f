// What the IMU reader does per report under its lock: decode the three slots
// and run them through the acceptance rule. It runs about 1000 times a second
// on the reader thread and must never allocate.
#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "bench_targets.h"
#include "imu/imu_health.h"
#include "imu/imu_report.h"

namespace {

// Every allocation in the process is counted, so the benchmark can show that
// the measured path makes none.
std::atomic<uint64_t> gAllocations{0};

}  // namespace

void* operator new(size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

// GCC pairs the malloc inside operator new with these frees and warns; the
// pairing is ours and correct.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
    std::free(p);
}

void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop

namespace brisk {
namespace {

// A run of reports as the device sends them: one a sample, holding it and the
// two before it in ring slots (each sample in the slot after the previous
// one's, the first reports with empty slots), sequence numbers through the
// wrap, a skipped number now and then, an occasional repeated report.
std::vector<std::vector<uint8_t>> MakeReports(size_t count) {
    std::vector<std::vector<uint8_t>> reports;
    std::vector<uint8_t> bytes(64, 0);
    bytes[0] = kImuReportId;
    uint8_t seq = 0;
    uint32_t ts = 48000;  // 48 MHz ticks, one sample a millisecond
    for (size_t r = 0; r < count; ++r) {
        uint8_t* s = bytes.data() + 1 + 17 * (r % 3);
        for (int b = 0; b < 12; ++b) {
            s[b] = static_cast<uint8_t>(r * 7 + b);
        }
        for (int b = 0; b < 4; ++b) {
            s[12 + b] = static_cast<uint8_t>(ts >> (8 * b));
        }
        s[16] = seq;
        seq = static_cast<uint8_t>(seq + (r % 50 == 49 ? 2 : 1));
        ts += 48000;
        reports.push_back(bytes);
        if (r % 64 == 63) {
            reports.push_back(bytes);
        }
    }
    return reports;
}

void BM_DecodeAndAcceptReport(benchmark::State& state) {
    const uint64_t setupBefore = gAllocations.load();
    const std::vector<std::vector<uint8_t>> reports = MakeReports(1024);
    if (gAllocations.load() == setupBefore) {
        state.SkipWithError(
            "the allocation counter is not hooked in");  // the proof below would be empty
        return;
    }
    bench::SetTarget(state, 50.0);
    SeqFilter filter;
    ImuStats stats;
    ImuSample latest;
    size_t next = 0;
    const uint64_t allocationsBefore = gAllocations.load();
    for (auto _ : state) {
        const std::vector<uint8_t>& report = reports[next];
        next = next + 1 == reports.size() ? 0 : next + 1;
        ImuSample parsed[kImuSamplesPerReport];
        if (DecodeImuReport(report.data(), report.size(), parsed)) {
            benchmark::DoNotOptimize(AcceptReport(filter, parsed, stats, latest));
        }
        benchmark::ClobberMemory();
    }
    const uint64_t allocations = gAllocations.load() - allocationsBefore;
    state.counters["allocs"] = static_cast<double>(allocations);
    state.counters["samples"] = static_cast<double>(stats.samples);
    if (allocations != 0) {
        state.SkipWithError("the report path allocated");
    }
}
BENCHMARK(BM_DecodeAndAcceptReport);

// What the health figures add per accepted sample: the same reports, each
// report's accepted samples handed to the accumulator as the reader does.
// Per iteration one report, which carries one new sample almost always, so
// the figure is the cost per sample (the samples counter shows the ratio).
void BM_HealthPerAcceptedSample(benchmark::State& state) {
    const std::vector<std::vector<uint8_t>> reports = MakeReports(4096);
    bench::SetTarget(state, 30.0);
    auto health = std::make_unique<ImuHealth>();
    SeqFilter filter;
    ImuStats stats;
    ImuSample latest;
    // The accepted samples of every report, worked out before the clock runs.
    std::vector<std::array<ImuSample, 3>> accepted(reports.size());
    std::vector<size_t> counts(reports.size());
    for (size_t i = 0; i < reports.size(); ++i) {
        ImuSample parsed[kImuSamplesPerReport];
        DecodeImuReport(reports[i].data(), reports[i].size(), parsed);
        counts[i] = AcceptReport(filter, parsed, stats, latest, accepted[i].data());
    }
    size_t next = 0;
    int64_t hostNs = 0;
    uint64_t samples = 0;
    const uint64_t allocationsBefore = gAllocations.load();
    for (auto _ : state) {
        hostNs += 1'000'000;
        health->AddReport(hostNs, accepted[next].data(), counts[next]);
        samples += counts[next];
        next = next + 1 == reports.size() ? 0 : next + 1;
        benchmark::ClobberMemory();
    }
    const uint64_t allocations = gAllocations.load() - allocationsBefore;
    state.counters["allocs"] = static_cast<double>(allocations);
    state.counters["samples_per_report"] =
        static_cast<double>(samples) / static_cast<double>(state.iterations());
    state.counters["state_bytes"] = static_cast<double>(sizeof(ImuHealth));
    if (allocations != 0) {
        state.SkipWithError("the health path allocated");
    }
}
BENCHMARK(BM_HealthPerAcceptedSample);

// A snapshot of the figures: at the end of a run and for the metrics, not per sample.
void BM_HealthFigures(benchmark::State& state) {
    auto health = std::make_unique<ImuHealth>();
    ImuSample s;
    for (uint32_t i = 0; i < 3'600'000; ++i) {  // an hour at 1 kHz
        s.timestamp = i * 48000u;
        s.seq = static_cast<uint8_t>(i);
        s.gyro[0] = static_cast<int16_t>(i % 7);
        health->AddReport(int64_t{i} * 1'000'000, &s, 1);
    }
    bench::SetInfo(state, "one snapshot after an hour of samples");
    for (auto _ : state) {
        benchmark::DoNotOptimize(health->Figures());
    }
}
BENCHMARK(BM_HealthFigures);

}  // namespace
}  // namespace brisk

int main(int argc, char** argv) {
    return brisk::bench::RunWithTargets(argc, argv);
}
