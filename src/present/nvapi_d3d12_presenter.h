// The headset presenter: takes the panels with DirectMode, renders with
// Direct3D 12 into two shared scan-out surfaces and presents them at the
// display's scan-out rate, watching for device removal, a dead scan-out
// signal, present failures and lost vsync pacing (free-run).
#pragma once

#include <atomic>
#include <memory>

#include "present/present_backend.h"
#include "present/presenter_config.h"
#include "platform/gpu_flavour.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {

class NvapiD3d12Presenter final : public PresentBackend {
  public:
    // Keeps a copy of `cfg`; touches no device.
    explicit NvapiD3d12Presenter(PresenterConfig cfg);
    // Releases the display if it was acquired; the panels stay powered.
    ~NvapiD3d12Presenter() override;

    NvapiD3d12Presenter(const NvapiD3d12Presenter&) = delete;
    NvapiD3d12Presenter& operator=(const NvapiD3d12Presenter&) = delete;

    bool Init() override;
    void Run(double seconds, const DrawCallback& draw) override;
    void RequestStop() override;
    PresentStats Stats() override;

  private:
    struct Impl;

    // Init, in its order; each prints its own failure.
    bool OpenDisplay();
    bool SelectMode();
    bool CreateDevice();
    bool AcquireDisplay();
    bool CreateSurfaces();
    bool StartScanOut();

    std::unique_ptr<Impl> impl;
    PresenterConfig cfg;
    std::atomic<bool> stop;
};

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
