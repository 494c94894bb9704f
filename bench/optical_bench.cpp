// The optical core over the real light reports: decoding and accumulating
// one report, as the reader loop does for each, and an hour of device time
// (the real reports looped at their real rate) decoded, accumulated and
// judged, as a long soak would. Both generations: the first-generation
// display sends its reports about 700 a second, the second-generation one
// about 225.
#include <benchmark/benchmark.h>

#include "bench_targets.h"
#include "optical/light_capture.h"
#include "optical/photodiode_judge.h"

namespace brisk {
namespace {

const char* const kCaptures[] = {"index-lhv1.pcap.gz", "vive-index-cal.pcap.gz"};

const optical::test::CaptureLight& Capture(int which) {
    static optical::test::CaptureLight loaded[2] = {
        optical::test::LoadCaptureLight(std::string(BRISK_REAL_CAPTURES) + "/" + kCaptures[0]),
        optical::test::LoadCaptureLight(std::string(BRISK_REAL_CAPTURES) + "/" + kCaptures[1])};
    return loaded[which];
}

void BM_DecodeAndAccumulateReport(benchmark::State& state) {
    bench::SetTarget(state, 100);
    const auto& reports = Capture(static_cast<int>(state.range(0))).reports;
    if (reports.empty() || Capture(static_cast<int>(state.range(0))).config == nullptr) {
        state.SkipWithError("no light reports in the capture");
        return;
    }
    auto run = std::make_unique<optical::OpticalRun>();
    run->SetNeighbours(
        optical::NeighboursOnTheWire(*Capture(static_cast<int>(state.range(0))).config));
    size_t next = 0;
    for (auto _ : state) {
        const auto& r = reports[next];
        run->Feed(r.data(), r.size());
        next = next + 1 == reports.size() ? 0 : next + 1;
    }
    benchmark::DoNotOptimize(run->Tally().pulseReports);
}
BENCHMARK(BM_DecodeAndAccumulateReport)->Arg(0)->Arg(1);

void BM_HourOfLight(benchmark::State& state) {
    bench::SetTarget(state, 20e9);
    const auto& light = Capture(static_cast<int>(state.range(0)));
    const double seconds = static_cast<double>(light.lastMicros - light.firstMicros) / 1e6;
    if (light.reports.empty() || seconds <= 0 || light.config == nullptr) {
        state.SkipWithError("no light reports in the capture");
        return;
    }
    const auto perHour =
        static_cast<size_t>(static_cast<double>(light.reports.size()) * 3600 / seconds);
    size_t judged = 0;
    for (auto _ : state) {
        auto run = std::make_unique<optical::OpticalRun>();
        run->SetNeighbours(optical::NeighboursOnTheWire(*light.config));
        for (size_t i = 0, k = 0; i < perHour; ++i) {
            const auto& r = light.reports[k];
            run->Feed(r.data(), r.size());
            k = k + 1 == light.reports.size() ? 0 : k + 1;
        }
        run->Finish();
        judged += optical::JudgeOptical(*run, *light.config).photodiodes.size();
    }
    benchmark::DoNotOptimize(judged);
    state.counters["reports"] = static_cast<double>(perHour);
}
BENCHMARK(BM_HourOfLight)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace brisk

int main(int argc, char** argv) {
    return brisk::bench::RunWithTargets(argc, argv);
}
