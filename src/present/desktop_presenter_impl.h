// The desktop presenter's state, shared by its set-up, its loop and its
// destructor. Private to src/present.
#pragma once

#include <string>
#include <vector>

#include "platform/gpu.h"
#include "platform/win32/desktop_window.h"
#include "platform/win32/display_mode.h"
#include "present/desktop_presenter.h"
#include "present/present_loop.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {

// One line of Init's output listing.
struct ListedOutput {
    ComPtr<IDXGIAdapter1> adapter;
    std::wstring device;  // \\.\DISPLAYn
    RECT area = {};       // desktop coordinates
    bool hasMode = false;
    DisplaySettings mode;  // the wanted mode as this output lists it
    double modeHz = 0.0;   // its exact rate
};

// Calls `f(adapter, output, desc)` for every output of every adapter, in
// DXGI's order, until `f` returns false.
template <class F>
void ForEachOutput(IDXGIFactory2* factory, F&& f) {
    ComPtr<IDXGIAdapter1> adapter;
    for (UINT a = 0; factory->EnumAdapters1(a, &adapter) == S_OK; ++a) {
        ComPtr<IDXGIOutput> output;
        for (UINT o = 0; adapter->EnumOutputs(o, &output) == S_OK; ++o) {
            DXGI_OUTPUT_DESC desc = {};
            if (output->GetDesc(&desc) == S_OK && !f(adapter, output, desc)) {
                return;
            }
        }
    }
}

// The loop's Direct3D 12 objects and the swap chain they present through,
// into a window over the chosen output. The loop draws into the buffer the
// swap chain names, presents with vsync and then waits on the frame-latency
// waitable.
struct DesktopD3d12Presenter::Impl final : PresentGpu, PresentTarget {
    Impl() = default;
    ~Impl();

    void PrintPresentError(uint32_t status, uint64_t frameIndex) const override;
    int BackBufferIndex(uint64_t frameIndex) override;
    uint32_t Present(int index) override;
    // Made to be waited on before a frame is rendered; the loop waits right
    // after presenting instead, which in steady state is the same wait one
    // step round the cycle, and keeps one frame queued at most. While the
    // output is occluded nothing reaches it to signal the wait, so the loop
    // paces itself meanwhile.
    HANDLE ScanOutWaitable() override { return occluded ? nullptr : latencyWaitable; }
    bool DisplayGone() override;

    // Destroyed in reverse: the swap chain and its buffers go first (the
    // destructor), then the window, then the output's mode comes back.
    std::vector<ListedOutput> outputs;  // Init's listing, until one is picked
    DisplayModeSwitch modeSwitch;
    DesktopWindow window;
    ComPtr<IDXGIFactory2> factory;
    ComPtr<IDXGIAdapter1> adapter;
    ComPtr<IDXGISwapChain3> swapChain;
    HANDLE latencyWaitable = nullptr;

    int index = -1;       // output[index] of the listing
    std::wstring device;  // its display device name
    RECT area = {};
    DisplaySettings mode;
    bool occluded = false;
    bool displayChanged = false;  // the window saw WM_DISPLAYCHANGE
    bool deviceGone = false;      // Present said the device was removed or reset
};

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
