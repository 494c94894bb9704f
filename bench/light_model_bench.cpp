// The virtual Watchman's light: one second of it made as the bus's readers
// take it (a look every 10 ms), for each generation's room, and decoded by
// the optical core as the tool will. brisk-sim's whole healthy run must stay
// under 3 % of one core, so the light's share is held to a tenth of that.
#include <benchmark/benchmark.h>

#include <chrono>

#include "bench_targets.h"
#include "optical/optical_run.h"
#include "sim/light_model.h"
#include "sim/watchman_identity.h"

namespace brisk {
namespace {

void BM_LightSecond(benchmark::State& state) {
    bench::SetTarget(state, 3e6);  // 0.3 % of a core
    const sim::Clock::time_point start{};
    sim::LightModel model(sim::VirtualPhotodiodes("LHR-5A1B2C3D"), start);
    const uint8_t format[5] = {sim::kLightFormatReport, uint8_t(state.range(0) == 2 ? 1 : 0)};
    model.OnFeature(format, sizeof format, start);
    model.SetGeneration(static_cast<int>(state.range(0)));
    auto run = std::make_unique<optical::OpticalRun>();
    std::vector<sim::InputReport> out;
    out.reserve(64);
    int64_t ms = 0;
    uint64_t reports = 0;
    for (auto _ : state) {
        for (int look = 0; look < 100; ++look) {
            ms += 10;
            out.clear();
            model.Produce(start + std::chrono::milliseconds(ms), out);
            for (const sim::InputReport& r : out) {
                run->Feed(r.bytes, r.length);
            }
            reports += out.size();
        }
    }
    state.counters["reports_per_s"] =
        benchmark::Counter(static_cast<double>(reports) / static_cast<double>(state.iterations()));
    benchmark::DoNotOptimize(run->Tally().pulseReports);
}
BENCHMARK(BM_LightSecond)->Arg(1)->Arg(2);

}  // namespace
}  // namespace brisk

int main(int argc, char** argv) {
    return brisk::bench::RunWithTargets(argc, argv);
}
