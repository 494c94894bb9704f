#include "present/nvapi_d3d12_presenter.h"

#include "base/output.h"
#include "present/present_loop.h"
#include "present/nvapi_d3d12_presenter_impl.h"
#include "present/presenter_print.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {

NvapiD3d12Presenter::NvapiD3d12Presenter(PresenterConfig cfg)
    : impl(std::make_unique<Impl>()), cfg(cfg), stop(false) {}

NvapiD3d12Presenter::~NvapiD3d12Presenter() = default;

NvapiD3d12Presenter::Impl::~Impl() {
    // The display goes back to the desktop before the device that drew on it
    // (PresentGpu's part goes after this). Its panels keep their power, and
    // its surfaces and waitable are the display's own.
    if (acquired) {
        ReleaseDirectModeDisplay(kVendorId, &display);
        acquired = false;
    }
}

uint32_t NvapiD3d12Presenter::Impl::Present(int index) {
    const NvStatus status = Present12(&display, surf[index], 1, queue.Get(), list.Get());
    return status == kNvOk ? 0 : StatusHex(status);
}

void NvapiD3d12Presenter::Impl::PrintPresentError(uint32_t status, uint64_t frameIndex) const {
    Print(stderr, "Present12 = 0x%x at frame %llu\n", status,
          static_cast<unsigned long long>(frameIndex));
}

void NvapiD3d12Presenter::Run(double seconds, const DrawCallback& draw) {
    RunPresentLoop(*impl, *impl, stop, seconds, draw);
    if (cfg.powerOffOnExit) {
        DisplayControl(&impl->display, kDisplayPowerOff);
    }
}

void NvapiD3d12Presenter::RequestStop() {
    stop.store(true);
}

PresentStats NvapiD3d12Presenter::Stats() {
    return impl->TakeStats();
}

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
