// The present loop: paint, submit, wait for the GPU, present, wait for
// scan-out; and around it the watch for a removed device, failing presents, a
// dead scan-out signal and lost vsync pacing.
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "present/free_run.h"
#include "present/nvapi_d3d12_presenter.h"
#include "present/presenter_impl.h"
#include "present/presenter_print.h"

namespace brisk {
namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kFenceWaitMs = 1000;
constexpr DWORD kScanOutWaitMs = 1000;
constexpr uint64_t kDeadSecondsLost = 5;
constexpr uint64_t kPresentErrorsTolerated = 10;
// Free-running frames between two probes for a returned scan-out signal.
constexpr uint64_t kFreeRunProbeFrames = 64;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

unsigned long long Ull(uint64_t v) {
    return v;
}

}  // namespace

void NvapiD3d12Presenter::RecordAndSubmit(int idx, double elapsed, uint64_t frameIndex,
                                          const DrawCallback& draw) {
    Impl& im = *impl;
    // One frame in flight: the GPU finished the previous one before it was
    // presented, so the one allocator and list are free again.
    im.alloc->Reset();
    im.list->Reset(im.alloc.Get(), nullptr);

    D3D12_RESOURCE_BARRIER b = {};
    b.Type = D3D12_RESOURCE_BARRIER_TYPE_TRANSITION;
    b.Flags = D3D12_RESOURCE_BARRIER_FLAG_NONE;
    b.Transition.pResource = im.res[idx].Get();
    b.Transition.Subresource = D3D12_RESOURCE_BARRIER_ALL_SUBRESOURCES;
    b.Transition.StateBefore = D3D12_RESOURCE_STATE_PRESENT;
    b.Transition.StateAfter = D3D12_RESOURCE_STATE_RENDER_TARGET;
    im.list->ResourceBarrier(1, &b);

    FrameContext fc = {};
    fc.list = im.list.Get();
    fc.rtv = &im.rtv[idx];
    fc.width = static_cast<int32_t>(im.width);
    fc.height = static_cast<int32_t>(im.height);
    fc.rtvFormat = im.rtvFormat;
    fc.seconds = elapsed;
    fc.frameIndex = frameIndex;
    if (draw) {
        draw(fc);
    }

    D3D12_RESOURCE_BARRIER b2 = b;
    b2.Transition.StateBefore = D3D12_RESOURCE_STATE_RENDER_TARGET;
    b2.Transition.StateAfter = D3D12_RESOURCE_STATE_PRESENT;
    im.list->ResourceBarrier(1, &b2);
    im.list->Close();

    ID3D12CommandList* lists[1] = {im.list.Get()};
    im.queue->ExecuteCommandLists(1, lists);
}

void NvapiD3d12Presenter::WaitForGpu() {
    Impl& im = *impl;
    ++im.fenceValue;
    im.queue->Signal(im.fence.Get(), im.fenceValue);
    if (im.fence->GetCompletedValue() < im.fenceValue) {
        im.fence->SetEventOnCompletion(im.fenceValue, im.fenceEvent);
        WaitForSingleObject(im.fenceEvent, kFenceWaitMs);
    }
}

void NvapiD3d12Presenter::Run(double seconds, const DrawCallback& draw) {
    Impl& im = *impl;
    const double period = 1.0 / im.refreshHz;
    FreeRunDetector pacing(period);
    const Clock::time_point t0 = Clock::now();
    uint64_t frames = 0;
    uint64_t presentErrors = 0;
    uint64_t waitTimeouts = 0;
    uint64_t deadSeconds = 0;
    uint64_t freeRunFrames = 0;
    Clock::time_point prevFrameStart{};
    bool havePrev = false;
    bool displayLost = false;

    for (;;) {
        if (stop.load()) {
            break;
        }
        const double elapsed = Seconds(Clock::now() - t0);
        if (seconds > 0 && elapsed >= seconds) {
            break;
        }
        const Clock::time_point frameStart = Clock::now();
        if (havePrev) {
            const double gapMs = Milliseconds(frameStart - prevFrameStart);
            std::lock_guard<std::mutex> lock(im.statsMutex);
            im.stats.maxFrameGapMs = std::max(im.stats.maxFrameGapMs, gapMs);
        }
        prevFrameStart = frameStart;
        havePrev = true;
        const int idx = static_cast<int>(frames % 2);

        const HRESULT removed = im.dev->GetDeviceRemovedReason();
        if (removed != 0) {
            std::fprintf(stderr,
                         "Presenter: D3D12 device removed (0x%lx) — display lost (cable pulled?), "
                         "exiting present loop\n",
                         HresultHex(removed));
            displayLost = true;
            break;
        }

        RecordAndSubmit(idx, elapsed, frames, draw);
        WaitForGpu();

        const NvStatus status =
            Present12(&im.display, im.surf[idx], 1, im.queue.Get(), im.list.Get());
        if (status != kNvOk) {
            ++presentErrors;
            std::fprintf(stderr, "Present12 = 0x%x at frame %llu\n", StatusHex(status),
                         Ull(frames));
            if (presentErrors > kPresentErrorsTolerated) {
                break;
            }
        }

        // Scan-out wait: one time-out per second of silence; five in a row
        // and the display is gone.
        if (im.hasWaitable && WaitForSingleObject(im.waitable, kScanOutWaitMs) == WAIT_TIMEOUT) {
            ++waitTimeouts;
            ++deadSeconds;
            if (deadSeconds >= kDeadSecondsLost) {
                std::fprintf(stderr,
                             "Presenter: present waitable dead for %llus — display lost, exiting "
                             "present loop\n",
                             Ull(deadSeconds));
                displayLost = true;
                break;
            }
        } else {
            deadSeconds = 0;
        }

        const double dt = Seconds(Clock::now() - frameStart);
        switch (pacing.OnFrame(dt, elapsed)) {
            case FreeRunChange::Entered:
                std::fprintf(stderr,
                             "WARNING: present loop free-running (vsync lost — headset doffed?), "
                             "self-pacing at %.0f Hz\n",
                             im.refreshHz);
                break;
            case FreeRunChange::Left:
                std::fprintf(stderr, "free-run over: vsync pacing restored\n");
                break;
            default:
                break;
        }
        if (pacing.FreeRunning()) {
            ++freeRunFrames;
        } else {
            freeRunFrames = 0;
        }
        // Self-pacing to the period also locks the loop to the phase of a
        // scan-out signal that comes back: its wait would keep ending at the
        // same early point of the period, and the free-run would never be seen
        // to end. So now and then the rest of the period is not slept away; a
        // returned signal then holds the next frames for a whole period each,
        // which the detector counts as slow. A lost signal costs one short frame.
        const bool probe = freeRunFrames % kFreeRunProbeFrames == 0;
        if (pacing.FreeRunning() && period > dt && !probe) {
            // Never more than a second, whatever rate a mode claims.
            const double restMs = std::min((period - dt) * 1000.0, 1000.0);
            Sleep(static_cast<DWORD>(restMs));
        }

        ++frames;
        std::lock_guard<std::mutex> lock(im.statsMutex);
        im.stats.frames = frames;
        im.stats.presentErrors = presentErrors;
        im.stats.waitTimeouts = waitTimeouts;
        im.stats.fps = elapsed > 0 ? static_cast<double>(frames) / elapsed : 0.0;
        im.stats.freeRunning = pacing.FreeRunning();
        im.stats.freeRunEvents = pacing.Events();
    }

    {
        std::lock_guard<std::mutex> lock(im.statsMutex);
        im.stats.displayLost = displayLost;
    }
    const double total = Seconds(Clock::now() - t0);
    const double average = total > 0 ? static_cast<double>(frames) / total : 0.0;
    std::printf(
        "PRESENT RESULT: %llu frames in %.1fs = %.2f fps avg, presentErrors %llu, waitTimeouts "
        "%llu, freeRunEvents %llu\n",
        Ull(frames), total, average, Ull(presentErrors), Ull(waitTimeouts), Ull(pacing.Events()));
    if (cfg.powerOffOnExit) {
        DisplayControl(&im.display, kDisplayPowerOff);
    }
}

}  // namespace brisk
