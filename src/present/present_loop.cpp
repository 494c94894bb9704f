// The present loop: paint, submit, wait for the GPU, present, wait for
// scan-out; and around it the watch for a removed device, failing presents, a
// dead scan-out signal and lost vsync pacing.
#include "present/present_loop.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "base/output.h"
#include "present/free_run.h"
#include "present/presenter_print.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {
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

// Everything the loop counts, from its start to its totals line.
struct LoopCounters {
    explicit LoopCounters(double period) : pacing(period) {}

    uint64_t frames = 0;
    uint64_t presentErrors = 0;
    uint64_t waitTimeouts = 0;
    uint64_t deadSeconds = 0;  // scan-out waits timed out in a row
    uint64_t freeRunFrames = 0;
    Clock::time_point prevFrameStart{};
    bool havePrev = false;
    bool displayLost = false;
    FreeRunDetector pacing;
    FrameHistogram intervals;  // the loop's own; published once, at the end
};

// One run of the loop; each step is one member.
class FrameLoop {
  public:
    FrameLoop(PresentGpu& gpu, PresentTarget& target)
        : gpu_(gpu), target_(target), period_(1.0 / gpu.refreshHz), count_(period_) {}

    void Run(const std::atomic<bool>& stop, double seconds, const DrawCallback& draw);

  private:
    // One trip round the loop; false ends the run.
    bool Frame(double elapsed, const DrawCallback& draw);
    void NoteFrameStart(Clock::time_point frameStart);
    bool DeviceRemoved();
    void RecordAndSubmit(int idx, double elapsed, const DrawCallback& draw);
    void WaitForGpu();
    bool Present(int idx);
    bool WaitForScanOut();
    void TrackPacing(double dt, double elapsed);
    void SelfPace(double dt);
    void PublishCounters(double elapsed);
    void Finish(Clock::time_point t0);

    PresentGpu& gpu_;
    PresentTarget& target_;
    const double period_;
    LoopCounters count_;
};

void FrameLoop::Run(const std::atomic<bool>& stop, double seconds, const DrawCallback& draw) {
    const Clock::time_point t0 = Clock::now();
    while (!stop.load()) {
        const double elapsed = Seconds(Clock::now() - t0);
        if (seconds > 0 && elapsed >= seconds) {
            break;
        }
        if (!Frame(elapsed, draw)) {
            break;
        }
    }
    Finish(t0);
}

bool FrameLoop::Frame(double elapsed, const DrawCallback& draw) {
    const Clock::time_point frameStart = Clock::now();
    NoteFrameStart(frameStart);
    const int idx = target_.BackBufferIndex(count_.frames);
    if (DeviceRemoved()) {
        return false;
    }
    if (target_.DisplayGone()) {
        count_.displayLost = true;
        return false;
    }
    RecordAndSubmit(idx, elapsed, draw);
    WaitForGpu();
    if (!Present(idx) || !WaitForScanOut()) {
        return false;
    }
    const double dt = Seconds(Clock::now() - frameStart);
    TrackPacing(dt, elapsed);
    SelfPace(dt);
    ++count_.frames;
    PublishCounters(elapsed);
    return true;
}

void FrameLoop::NoteFrameStart(Clock::time_point frameStart) {
    if (count_.havePrev) {
        const double gapMs = Milliseconds(frameStart - count_.prevFrameStart);
        count_.intervals.Add(gapMs);
        std::lock_guard<std::mutex> lock(gpu_.statsMutex);
        gpu_.stats.maxFrameGapMs = std::max(gpu_.stats.maxFrameGapMs, gapMs);
    }
    count_.prevFrameStart = frameStart;
    count_.havePrev = true;
}

bool FrameLoop::DeviceRemoved() {
    const HRESULT removed = gpu_.dev->GetDeviceRemovedReason();
    if (removed == 0) {
        return false;
    }
    PrintEvent(LineEvent::kDisplayLost, stderr,
               "Presenter: D3D12 device removed (0x%lx) — display lost (cable pulled?), "
               "exiting present loop\n",
               HresultHex(removed));
    count_.displayLost = true;
    return true;
}

void FrameLoop::RecordAndSubmit(int idx, double elapsed, const DrawCallback& draw) {
    // One frame in flight: the GPU finished the previous one before it was
    // presented, so the one allocator and list are free again.
    gpu_.alloc->Reset();
    gpu_.list->Reset(gpu_.alloc.Get(), nullptr);

    D3D12_RESOURCE_BARRIER b = {};
    b.Type = D3D12_RESOURCE_BARRIER_TYPE_TRANSITION;
    b.Flags = D3D12_RESOURCE_BARRIER_FLAG_NONE;
    b.Transition.pResource = gpu_.res[idx].Get();
    b.Transition.Subresource = D3D12_RESOURCE_BARRIER_ALL_SUBRESOURCES;
    b.Transition.StateBefore = D3D12_RESOURCE_STATE_PRESENT;
    b.Transition.StateAfter = D3D12_RESOURCE_STATE_RENDER_TARGET;
    gpu_.list->ResourceBarrier(1, &b);

    FrameContext fc = {};
    fc.list = gpu_.list.Get();
    fc.rtv = &gpu_.rtv[idx];
    fc.width = static_cast<int32_t>(gpu_.width);
    fc.height = static_cast<int32_t>(gpu_.height);
    fc.rtvFormat = gpu_.rtvFormat;
    fc.seconds = elapsed;
    fc.frameIndex = count_.frames;
    if (draw) {
        draw(fc);
    }

    D3D12_RESOURCE_BARRIER b2 = b;
    b2.Transition.StateBefore = D3D12_RESOURCE_STATE_RENDER_TARGET;
    b2.Transition.StateAfter = D3D12_RESOURCE_STATE_PRESENT;
    gpu_.list->ResourceBarrier(1, &b2);
    gpu_.list->Close();

    ID3D12CommandList* lists[1] = {gpu_.list.Get()};
    gpu_.queue->ExecuteCommandLists(1, lists);
}

void FrameLoop::WaitForGpu() {
    ++gpu_.fenceValue;
    gpu_.queue->Signal(gpu_.fence.Get(), gpu_.fenceValue);
    if (gpu_.fence->GetCompletedValue() < gpu_.fenceValue) {
        gpu_.fence->SetEventOnCompletion(gpu_.fenceValue, gpu_.fenceEvent);
        WaitForSingleObject(gpu_.fenceEvent, kFenceWaitMs);
    }
}

// A failed present is counted and the run goes on, up to a point.
bool FrameLoop::Present(int idx) {
    const uint32_t status = target_.Present(idx);
    if (status == 0) {
        return true;
    }
    ++count_.presentErrors;
    target_.PrintPresentError(status, count_.frames);
    return count_.presentErrors <= kPresentErrorsTolerated;
}

// One time-out per second of silence; five in a row and the display is gone.
bool FrameLoop::WaitForScanOut() {
    const HANDLE waitable = target_.ScanOutWaitable();
    if (waitable == nullptr || WaitForSingleObject(waitable, kScanOutWaitMs) != WAIT_TIMEOUT) {
        count_.deadSeconds = 0;
        return true;
    }
    ++count_.waitTimeouts;
    ++count_.deadSeconds;
    if (count_.deadSeconds < kDeadSecondsLost) {
        return true;
    }
    PrintEvent(LineEvent::kDisplayLost, stderr,
               "Presenter: present waitable dead for %llus — display lost, exiting present "
               "loop\n",
               Ull(count_.deadSeconds));
    count_.displayLost = true;
    return false;
}

void FrameLoop::TrackPacing(double dt, double elapsed) {
    switch (count_.pacing.OnFrame(dt, elapsed)) {
        case FreeRunChange::Entered:
            PrintEvent(LineEvent::kFreeRunBegin, stderr,
                       "WARNING: present loop free-running (vsync lost — headset doffed?), "
                       "self-pacing at %.0f Hz\n",
                       gpu_.refreshHz);
            break;
        case FreeRunChange::Left:
            PrintEvent(LineEvent::kFreeRunEnd, stderr, "free-run over: vsync pacing restored\n");
            break;
        default:
            break;
    }
    count_.freeRunFrames = count_.pacing.FreeRunning() ? count_.freeRunFrames + 1 : 0;
}

// Self-pacing to the period also locks the loop to the phase of a scan-out
// signal that comes back: its wait would keep ending at the same early point
// of the period, and the free-run would never be seen to end. So now and then
// the rest of the period is not slept away; a returned signal then holds the
// next frames for a whole period each, which the detector counts as slow. A
// lost signal costs one short frame.
void FrameLoop::SelfPace(double dt) {
    const bool probe = count_.freeRunFrames % kFreeRunProbeFrames == 0;
    if (count_.pacing.FreeRunning() && period_ > dt && !probe) {
        // Never more than a second, whatever rate a mode claims.
        const double restMs = std::min((period_ - dt) * 1000.0, 1000.0);
        Sleep(static_cast<DWORD>(restMs));
    }
}

void FrameLoop::PublishCounters(double elapsed) {
    std::lock_guard<std::mutex> lock(gpu_.statsMutex);
    gpu_.stats.frames = count_.frames;
    gpu_.stats.presentErrors = count_.presentErrors;
    gpu_.stats.waitTimeouts = count_.waitTimeouts;
    gpu_.stats.fps = elapsed > 0 ? static_cast<double>(count_.frames) / elapsed : 0.0;
    gpu_.stats.freeRunning = count_.pacing.FreeRunning();
    gpu_.stats.freeRunEvents = count_.pacing.Events();
}

void FrameLoop::Finish(Clock::time_point t0) {
    const double total = Seconds(Clock::now() - t0);
    const double average = total > 0 ? static_cast<double>(count_.frames) / total : 0.0;
    {
        std::lock_guard<std::mutex> lock(gpu_.statsMutex);
        gpu_.stats.displayLost = count_.displayLost;
        gpu_.stats.frameIntervals = count_.intervals;
        gpu_.stats.refreshHz = gpu_.refreshHz;
        gpu_.stats.fps = average;  // the run's average, as PRESENT RESULT prints it
    }
    PrintEvent(
        LineEvent::kPresentResult, stdout,
        "PRESENT RESULT: %llu frames in %.1fs = %.2f fps avg, presentErrors %llu, waitTimeouts "
        "%llu, freeRunEvents %llu\n",
        Ull(count_.frames), total, average, Ull(count_.presentErrors), Ull(count_.waitTimeouts),
        Ull(count_.pacing.Events()));
}

}  // namespace

// The objects then go in reverse order of declaration: views before
// surfaces, device last.
PresentGpu::~PresentGpu() {
    if (fenceEvent) {
        CloseHandle(fenceEvent);
    }
}

PresentStats PresentGpu::TakeStats() {
    std::lock_guard<std::mutex> lock(statsMutex);
    PresentStats copy = stats;
    stats.maxFrameGapMs = 0.0;
    return copy;
}

void RunPresentLoop(PresentGpu& gpu, PresentTarget& target, const std::atomic<bool>& stop,
                    double seconds, const DrawCallback& draw) {
    FrameLoop(gpu, target).Run(stop, seconds, draw);
}

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
