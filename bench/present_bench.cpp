// The present loop's own cost per frame: NvapiD3d12Presenter on the virtual
// display and the software GPU at the headset's 5088x2544, with a draw
// callback that records one clear.
//
// Method: the loop runs on the benchmark's thread and each of its frames is
// one benchmark iteration. The draw callback advances the benchmark's
// iteration count (State::KeepRunning) and asks the loop to stop once the
// count is reached, so one iteration spans exactly one trip round the loop:
// barriers, recording, submission, the fence, Present12, the scan-out wait,
// free-run pacing, the counters. Google Benchmark's CPU time is the calling
// thread's CPU time (CLOCK_THREAD_CPUTIME_ID): time blocked in a wait or
// asleep is not in it. The display's scan-out thread and the status monitor
// are other threads and are not counted.
//
// "no_wait" carries the target: scan-out runs free on a mode of 10 kHz, so
// the scan-out wait finds its signal set and the free-run pacing has less
// than a millisecond to sleep, which it skips: nothing ever blocks, and the
// CPU time per iteration is the loop's own work and nothing else.
//
// "paced" and "free_sleeping" run at the headset's 75 Hz, waiting for every
// scan-out and sleeping the rest of each period after a free-run. Their CPU
// figures also hold what the kernel charges the thread for blocking and
// waking, which on a virtual machine can be tens of microseconds; they are
// shown for information.
#include <benchmark/benchmark.h>

#include <string>

#include "bench_quiet.h"
#include "bench_targets.h"
#include "platform/directmode.h"
#include "present/frame_histogram.h"
#include "present/nvapi_d3d12_presenter.h"
#include "sim/virtual_display.h"

namespace brisk {
namespace {

constexpr int kPacedFrames = 225;  // three seconds at 75 Hz
constexpr uint32_t kNoWaitHz = 10000;

struct LoopSetup {
    sim::Vsync vsync;
    uint32_t refreshHz;
};

void BM_PresentLoopFrame(benchmark::State& state, LoopSetup setup) {
    if (setup.refreshHz == kNoWaitHz) {
        bench::SetTarget(state, 20000.0);
    } else {
        bench::SetInfo(state, "waits' kernel entry and exit included");
    }
    sim::DisplayDesc shape;
    shape.modes.push_back(MakeDirectModeMode(5088, 2544, kNoWaitHz, 1, 22));
    sim::VirtualDisplay display(std::move(shape));
    InstallDirectMode(&display);
    PresenterConfig cfg;
    cfg.refreshHz = setup.refreshHz;
    bool inited = false;
    bool stopped = false;
    std::string printed;
    {
        NvapiD3d12Presenter presenter(cfg);
        bench::QuietOutput quiet;
        inited = presenter.Init();
        if (inited) {
            display.SetVsync(setup.vsync);
            presenter.Run(0, [&](const FrameContext& fc) {
                static const FLOAT kGrey[4] = {0.2f, 0.2f, 0.2f, 1.0f};
                const D3D12_RECT all = {0, 0, fc.width, fc.height};
                fc.list->ClearRenderTargetView(*fc.rtv, kGrey, 1, &all);
                if (!stopped && !state.KeepRunning()) {
                    stopped = true;
                    presenter.RequestStop();
                }
            });
        }
        printed = quiet.Restore();
    }
    InstallDirectMode(nullptr);
    if (!inited) {
        state.SkipWithError(("the presenter did not start: " + printed).c_str());
    } else if (!stopped) {
        state.SkipWithError(("the present loop ended by itself: " + printed).c_str());
    }
}
BENCHMARK_CAPTURE(BM_PresentLoopFrame, no_wait, LoopSetup{sim::Vsync::Free, kNoWaitHz})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_PresentLoopFrame, paced, LoopSetup{sim::Vsync::Paced, 75})
    ->Iterations(kPacedFrames)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_PresentLoopFrame, free_sleeping, LoopSetup{sim::Vsync::Free, 75})
    ->Iterations(kPacedFrames)
    ->Unit(benchmark::kMicrosecond);

// One frame-start interval into the run's histogram, as the loop does every
// frame: intervals around a 75 Hz period with jitter and now and then a
// stall past the bins, from a table so that no two iterations are alike.
void BM_FrameHistogramAdd(benchmark::State& state) {
    bench::SetTarget(state, 20.0);
    double intervals[256];
    for (int i = 0; i < 256; ++i) {
        intervals[i] = i % 97 == 0 ? 250.0 : 13.333 + 0.01 * (i % 23) - 0.1;
    }
    FrameHistogram h;
    unsigned i = 0;
    for (auto _ : state) {
        h.Add(intervals[i++ & 255]);
        benchmark::DoNotOptimize(h);
    }
}
BENCHMARK(BM_FrameHistogramAdd);

}  // namespace
}  // namespace brisk

int main(int argc, char** argv) {
    return brisk::bench::RunWithTargets(argc, argv);
}
