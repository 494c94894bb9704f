#include "present/nvapi_d3d12_presenter.h"

#include "present/presenter_impl.h"

namespace brisk {

NvapiD3d12Presenter::NvapiD3d12Presenter(PresenterConfig cfg)
    : impl(std::make_unique<Impl>()), cfg(cfg), stop(false) {}

NvapiD3d12Presenter::~NvapiD3d12Presenter() = default;

NvapiD3d12Presenter::Impl::~Impl() {
    // The display goes back to the desktop before the device that drew on it.
    // Its panels keep their power, and its surfaces and waitable are the
    // display's own.
    if (acquired) {
        ReleaseDirectModeDisplay(kVendorId, &display);
        acquired = false;
    }
    if (fenceEvent) {
        CloseHandle(fenceEvent);
        fenceEvent = nullptr;
    }
    rtvHeap.Reset();
    res[1].Reset();
    res[0].Reset();
    fence.Reset();
    list.Reset();
    alloc.Reset();
    queue.Reset();
    dev.Reset();
}

void NvapiD3d12Presenter::RequestStop() {
    stop.store(true);
}

PresentStats NvapiD3d12Presenter::Stats() {
    Impl& im = *impl;
    std::lock_guard<std::mutex> lock(im.statsMutex);
    PresentStats copy = im.stats;
    im.stats.maxFrameGapMs = 0.0;
    return copy;
}

}  // namespace brisk
