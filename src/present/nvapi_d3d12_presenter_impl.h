// The presenter's device state, shared by its set-up, its loop and its
// destructor. Private to src/present.
#pragma once

#include "platform/directmode.h"
#include "platform/gpu.h"
#include "present/nvapi_d3d12_presenter.h"
#include "present/present_loop.h"
#include "platform/gpu_flavour.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {

// The loop's Direct3D 12 objects and the DirectMode display they draw for;
// the loop reaches the panels through Present12 of the two scan-out surfaces
// in turn, paced by the display's present waitable.
struct NvapiD3d12Presenter::Impl final : PresentGpu, PresentTarget {
    Impl() = default;
    ~Impl();

    void PrintPresentError(uint32_t status, uint64_t frameIndex) const override;
    int BackBufferIndex(uint64_t frameIndex) override { return static_cast<int>(frameIndex % 2); }
    uint32_t Present(int index) override;
    HANDLE ScanOutWaitable() override { return hasWaitable ? waitable : nullptr; }

    DirectModeDisplay display{};
    DirectModeMode mode{};
    DirectModeSurface surf[2] = {0, 0};
    HANDLE waitable = nullptr;
    bool hasWaitable = false;
    bool acquired = false;
};

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
