#include "present/desktop_presenter.h"

#include <string>

#include "base/output.h"
#include "base/utf8.h"
#include "present/desktop_presenter_impl.h"
#include "present/present_loop.h"
#include "present/presenter_print.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {
namespace {

constexpr DWORD kFlushWaitMs = 1000;

bool OutputListed(const std::wstring& device) {
    ComPtr<IDXGIFactory2> factory;
    if (CreateDXGIFactory2(0, IID_PPV_ARGS(&factory)) < 0) {
        return true;  // cannot tell; the device-removed check still stands
    }
    bool found = false;
    ForEachOutput(factory.Get(), [&](const ComPtr<IDXGIAdapter1>&, const ComPtr<IDXGIOutput>&,
                                     const DXGI_OUTPUT_DESC& desc) {
        found = desc.AttachedToDesktop && device == desc.DeviceName;
        return !found;
    });
    return found;
}

}  // namespace

DesktopD3d12Presenter::DesktopD3d12Presenter(PresenterConfig cfg, int outputIndex)
    : impl(std::make_unique<Impl>()), cfg(cfg), outputIndex(outputIndex), stop(false) {}

DesktopD3d12Presenter::~DesktopD3d12Presenter() = default;

DesktopD3d12Presenter::Impl::~Impl() {
    // As the hello samples end: the GPU done with everything queued, the
    // last present included, before the buffers go.
    if (queue && fence && fenceEvent) {
        ++fenceValue;
        queue->Signal(fence.Get(), fenceValue);
        if (fence->GetCompletedValue() < fenceValue) {
            fence->SetEventOnCompletion(fenceValue, fenceEvent);
            WaitForSingleObject(fenceEvent, kFlushWaitMs);
        }
    }
    if (latencyWaitable) {
        CloseHandle(latencyWaitable);
    }
    // The buffers are PresentGpu's, but they belong to the swap chain, and
    // both must be gone before the window is.
    res[0].Reset();
    res[1].Reset();
    swapChain.Reset();
}

int DesktopD3d12Presenter::Impl::BackBufferIndex(uint64_t) {
    return static_cast<int>(swapChain->GetCurrentBackBufferIndex());
}

// Flip model presents the buffer it named at the top of the frame; `index`
// is that one.
uint32_t DesktopD3d12Presenter::Impl::Present(int) {
    // Between the GPU wait and the present: the window's messages never wait
    // longer than a frame, and a display change is seen before the next one.
    if (window.Pump()) {
        displayChanged = true;
    }
    const HRESULT hr = swapChain->Present(1, 0);
    if (hr == DXGI_STATUS_OCCLUDED) {
        if (!occluded) {
            Print(stderr, "Presenter: output[%d] occluded — frames are not shown\n", index);
            occluded = true;
        }
        return 0;
    }
    if (hr >= 0 && occluded) {
        Print(stderr, "Presenter: output[%d] visible again\n", index);
        occluded = false;
    }
    if (hr == DXGI_ERROR_DEVICE_REMOVED || hr == DXGI_ERROR_DEVICE_RESET) {
        deviceGone = true;
    }
    return hr >= 0 ? 0 : static_cast<uint32_t>(hr);
}

void DesktopD3d12Presenter::Impl::PrintPresentError(uint32_t status, uint64_t frameIndex) const {
    Print(stderr, "Present = 0x%x at frame %llu\n", status,
          static_cast<unsigned long long>(frameIndex));
}

bool DesktopD3d12Presenter::Impl::DisplayGone() {
    if (deviceGone) {
        PrintEvent(LineEvent::kDisplayLost, stderr,
                   "Presenter: swap chain lost its device — display lost, exiting present loop\n");
        return true;
    }
    if (!displayChanged) {
        return false;
    }
    displayChanged = false;
    const std::string name = Utf8FromWide(device);
    if (OutputListed(device)) {
        Print(stderr, "Presenter: display settings changed; output[%d] %s still on the desktop\n",
              index, name.c_str());
        return false;
    }
    PrintEvent(LineEvent::kDisplayLost, stderr,
               "Presenter: output[%d] %s left the desktop — display lost, exiting present loop\n",
               index, name.c_str());
    return true;
}

void DesktopD3d12Presenter::Run(double seconds, const DrawCallback& draw) {
    RunPresentLoop(*impl, *impl, stop, seconds, draw);
}

void DesktopD3d12Presenter::RequestStop() {
    stop.store(true);
}

PresentStats DesktopD3d12Presenter::Stats() {
    return impl->TakeStats();
}

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
