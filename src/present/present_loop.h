// The present loop, written once for every display backend: check for a
// removed device, record and submit, wait for the GPU, present, wait for
// scan-out, pace itself while free-running, publish the counters. A backend
// brings up the objects below and supplies the present call and the scan-out
// signal (PresentTarget); the loop does the rest.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/gpu.h"
#include "present/present_backend.h"
#include "platform/gpu_flavour.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {

// The Direct3D 12 objects the loop draws with, whatever puts its frames on
// the panels: one queue, one allocator and list (one frame in flight), a fence
// with its event, two render targets with their views. Closes the event and
// releases the objects, device last: keep them declared in creation order.
struct PresentGpu {
    PresentGpu() = default;
    ~PresentGpu();
    PresentGpu(const PresentGpu&) = delete;
    PresentGpu& operator=(const PresentGpu&) = delete;

    // The counters so far; restarts the worst-interval measurement.
    PresentStats TakeStats();

    double refreshHz = 75.0;
    ComPtr<ID3D12Device> dev;
    ComPtr<ID3D12CommandQueue> queue;
    ComPtr<ID3D12CommandAllocator> alloc;
    ComPtr<ID3D12GraphicsCommandList> list;
    ComPtr<ID3D12Fence> fence;
    HANDLE fenceEvent = nullptr;
    uint64_t fenceValue = 0;
    ComPtr<ID3D12Resource> res[2];
    ComPtr<ID3D12DescriptorHeap> rtvHeap;
    D3D12_CPU_DESCRIPTOR_HANDLE rtv[2] = {};
    DXGI_FORMAT rtvFormat = DXGI_FORMAT_UNKNOWN;
    uint32_t width = 0;
    uint32_t height = 0;
    std::mutex statsMutex;
    PresentStats stats;
};

// The loop's queue, allocator, list (left closed), fence and fence event, on
// the device the backend created on its adapter. False at the first failure,
// with its check line printed.
bool CreateLoopObjects(PresentGpu& im);

// The descriptor heap of the two render-target views, and where in it each
// view goes (im.rtv); the backend creates the views for its own surfaces.
bool CreateRtvHeap(PresentGpu& im);

// What a backend adds to the loop. Called on the loop's thread only.
class PresentTarget {
  public:
    // The line that tells of a failed present, in the backend's own words.
    virtual void PrintPresentError(uint32_t status, uint64_t frameIndex) const = 0;
    // The render target (0 or 1) that frame `frameIndex` draws into.
    virtual int BackBufferIndex(uint64_t frameIndex) = 0;
    // Puts render target `index` on the panels: 0, or the failed call's
    // status as printed (32 bits, hexadecimal).
    virtual uint32_t Present(int index) = 0;
    // Set once per scan-out; null when there is none and the loop paces
    // itself.
    virtual HANDLE ScanOutWaitable() = 0;
    // True once the display went away in a way only the backend sees (it has
    // said so); the run then ends as for a lost display.
    virtual bool DisplayGone() { return false; }

  protected:
    ~PresentTarget() = default;
};

// Runs the loop on the calling thread until `stop`, `seconds` (when > 0), too
// many failed presents or a lost display; then prints the totals.
void RunPresentLoop(PresentGpu& gpu, PresentTarget& target, const std::atomic<bool>& stop,
                    double seconds, const DrawCallback& draw);

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
