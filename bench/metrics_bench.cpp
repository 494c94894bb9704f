// What --metrics costs: rendering one scrape's page (target under 1 ms), and
// the process's whole CPU time for a second of being scraped once, the
// endpoint's idle time included (target under 1 ms, 0.1 % of one core). The
// second counts the scraping client too, which runs in this process: an
// upper bound for brisk's own share.
#include <benchmark/benchmark.h>

#include <httplib.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "bench_targets.h"
#include "metrics/metrics_server.h"
#include "metrics/prometheus_text.h"

namespace brisk::metrics {
namespace {

MetricsSnapshot BusyRun() {
    MetricsSnapshot s;
    s.station = "soak-lab-station-07";
    s.version = "0.1.0";
    s.display = "directmode";
    s.mode = "5088x2544@75";
    s.imuSerial = "LHR-5A1B2C3D";
    s.haveProx = true;
    s.haveStatus = true;
    s.imuSamples = 86400ULL * 1000;
    s.imuReports = 86400ULL * 333;
    s.imuSeqGaps = 12;
    s.imuStalls = 3;
    s.frames = 86400ULL * 75;
    s.framesLastSecond = 75;
    s.imuSamplesLastSecond = 1000;
    s.sampleAgeSeconds = 0.0012345;
    s.proxDistance = 1612;
    s.worn = true;
    return s;
}

void BM_RenderScrape(benchmark::State& state) {
    const MetricsSnapshot s = BusyRun();
    size_t bytes = 0;
    for (auto _ : state) {
        std::string page = RenderPrometheus(s);
        bytes = page.size();
        benchmark::DoNotOptimize(page);
    }
    state.counters["bytes"] = static_cast<double>(bytes);
    bench::SetTarget(state, 1e6);
}
BENCHMARK(BM_RenderScrape);

// One iteration: a second of the endpoint's life with one scrape in it.
void BM_ScrapedOncePerSecond(benchmark::State& state) {
    MetricsBoard board(BusyRun());
    std::unique_ptr<MetricsServer> server;
    uint16_t port = 19300;
    for (; port < 19400 && server == nullptr; ++port) {
        std::string error;
        server = MetricsServer::Listen("127.0.0.1", port, board, error);
    }
    if (server == nullptr) {
        state.SkipWithError("no free port in 19300-19399");
        return;
    }
    httplib::Client client("127.0.0.1", port - 1);
    for (auto _ : state) {
        auto res = client.Get("/metrics");
        if (!res || res->status != 200) {
            state.SkipWithError("the scrape failed");
            break;
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    bench::SetTarget(state, 1e6);
}
BENCHMARK(BM_ScrapedOncePerSecond)
    ->MeasureProcessCPUTime()
    ->Iterations(3)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace brisk::metrics

int main(int argc, char** argv) {
    return brisk::bench::RunWithTargets(argc, argv);
}
