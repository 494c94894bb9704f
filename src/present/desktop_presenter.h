// The presenter for a headset whose panels show up as an ordinary desktop
// monitor: picks that output through DXGI, switches it to the wanted mode if
// need be, covers it with a borderless topmost window and presents into a
// flip-model swap chain with Direct3D 12, through the same present loop as
// DirectMode. Windows only.
#pragma once

#include <atomic>
#include <memory>

#include "present/present_backend.h"
#include "present/presenter_config.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {

class DesktopD3d12Presenter final : public PresentBackend {
  public:
    // Keeps a copy of `cfg` (width, height, refreshHz, anyRefresh are the
    // wanted mode); touches no device. `outputIndex` -1 takes the first
    // listed output that has the mode, N takes output[N] of the listing.
    DesktopD3d12Presenter(PresenterConfig cfg, int outputIndex);
    // Closes the window and puts the output's own mode back.
    ~DesktopD3d12Presenter() override;

    DesktopD3d12Presenter(const DesktopD3d12Presenter&) = delete;
    DesktopD3d12Presenter& operator=(const DesktopD3d12Presenter&) = delete;

    bool Init() override;
    void Run(double seconds, const DrawCallback& draw) override;
    void RequestStop() override;
    PresentStats Stats() override;

  private:
    struct Impl;

    // Init, in its order; each prints its own failure.
    bool ListOutputs();
    bool PickOutput();
    bool SetMode();
    bool CreateDevice();
    bool OpenWindow();
    bool CreateSwapChain();
    bool CreateViews();

    std::unique_ptr<Impl> impl;
    PresenterConfig cfg;
    int outputIndex;
    std::atomic<bool> stop;
};

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
