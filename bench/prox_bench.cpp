// What the proximity reader does per input report from the MCU: find the
// message, take the distance out of a telemetry message, feed the moving mean
// and run the worn/away decision. Telemetry arrives every 50 ms; the figure
// matters because the reader holds no lock but shares a core with the
// present loop.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench_targets.h"
#include "prox/mcu_protocol.h"
#include "prox/prox_tracker.h"

namespace brisk {
namespace {

McuReport Telemetry(uint8_t seq, uint16_t distance) {
    McuReport r{};
    r[0] = 0;  // report ID 0, the message follows
    r[1] = kMcuTelemetryTag;
    r[2] = seq;
    r[1 + kTelemetryDistanceOffset] = static_cast<uint8_t>(distance >> 8);
    r[1 + kTelemetryDistanceOffset + 1] = static_cast<uint8_t>(distance);
    return r;
}

// The headset put on and taken off again and again: distances ramp through
// the hysteresis band both ways, with an acknowledgement and a foreign report
// now and then, so every branch of the decision is taken.
std::vector<McuReport> MakeReports(size_t count) {
    std::vector<McuReport> reports;
    for (size_t i = 0; i < count; ++i) {
        if (i % 97 == 96) {
            McuReport ack{};
            ack[1] = kMcuAckTag;
            reports.push_back(ack);
            continue;
        }
        if (i % 131 == 130) {
            McuReport other{};
            other[1] = 'X';
            reports.push_back(other);
            continue;
        }
        const size_t phase = i % 64;
        const uint16_t distance = static_cast<uint16_t>(
            phase < 32 ? 200 + phase * 90 : 200 + (63 - phase) * 90);  // 200 .. 2990 and back
        reports.push_back(Telemetry(static_cast<uint8_t>(i), distance));
    }
    return reports;
}

void BM_TelemetryDecodeAndDecide(benchmark::State& state) {
    bench::SetTarget(state, 50.0);
    const std::vector<McuReport> reports = MakeReports(1024);
    TelemetryTracker tracker(kProxThreshold, kProxHysteresis);
    bool worn = false;
    uint64_t changes = 0;
    size_t next = 0;
    for (auto _ : state) {
        const McuReport& report = reports[next];
        next = next + 1 == reports.size() ? 0 : next + 1;
        const TelemetryUpdate u = tracker.OnReport(report.data(), report.size(), worn);
        if (u.decided && u.worn != worn) {
            worn = u.worn;
            ++changes;
        }
        benchmark::DoNotOptimize(u);
    }
    // Proof that the decision really went both ways during the run.
    state.counters["don_doff"] = static_cast<double>(changes);
}
BENCHMARK(BM_TelemetryDecodeAndDecide);

}  // namespace
}  // namespace brisk

int main(int argc, char** argv) {
    return brisk::bench::RunWithTargets(argc, argv);
}
