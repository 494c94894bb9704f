// The driver's view of the headset display: bring it up, run the present loop
// on the calling thread with a per-frame draw callback, stop it from anywhere,
// read its counters at any time.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/gpu.h"
#include "platform/gpu_flavour.h"
#include "present/frame_histogram.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {

// What the draw callback gets each frame; valid only during the call. The
// list is open and the surface already in the render-target state; the
// callback records into it and must not close, reset or execute it.
struct FrameContext {
    ID3D12GraphicsCommandList* list;
    const D3D12_CPU_DESCRIPTOR_HANDLE* rtv;
    int32_t width;  // whole panel surface, both eyes side by side
    int32_t height;
    DXGI_FORMAT rtvFormat;
    double seconds;       // since Run began, at the top of this frame
    uint64_t frameIndex;  // frames completed before this one; surface = frameIndex % 2
};

// Snapshot of the present loop's counters; all zero before Run.
struct PresentStats {
    uint64_t frames = 0;
    uint64_t presentErrors = 0;
    uint64_t waitTimeouts = 0;
    double fps = 0.0;
    bool freeRunning = false;
    uint64_t freeRunEvents = 0;
    bool displayLost = false;
    double maxFrameGapMs = 0.0;  // worst frame-start interval since the previous Stats()
    // Every frame-start interval of the run and the refresh rate it ran at;
    // filled when Run returns.
    FrameHistogram frameIntervals;
    double refreshHz = 0.0;
};

using DrawCallback = std::function<void(const FrameContext&)>;

class PresentBackend {
  public:
    virtual ~PresentBackend() {}

    // Takes the display and creates everything the loop needs; false on any
    // failure (already explained on the console).
    virtual bool Init() = 0;

    // The present loop, until stopped, `seconds` have passed (when > 0) or the
    // display is lost. Calls `draw` once per frame on this thread.
    virtual void Run(double seconds, const DrawCallback& draw) = 0;

    // Safe from any thread, `draw` included: the frame in progress is still
    // presented, then Run returns.
    virtual void RequestStop() = 0;

    // Counters so far; also restarts the worst-interval measurement.
    virtual PresentStats Stats() = 0;
};

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
