// Dispatch of the DirectMode operations to the installed implementation.
#include "platform/directmode.h"

#include "base/output.h"

#include <atomic>
#include <cstdio>

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {
namespace {

std::atomic<DirectModeApi*> gInstalled{nullptr};

DirectModeApi& Api() {
    DirectModeApi* api = gInstalled.load();
    return api ? *api : PlatformDirectMode();
}

}  // namespace

void InstallDirectMode(DirectModeApi* api) {
    gInstalled.store(api);
}

NvStatus UnavailableDirectMode::Initialize() {
    Print(stderr, "%s\n", reason_);
    return kNvNoImplementation;
}

NvStatus UnavailableDirectMode::EnumerateDisplays(uint32_t, uint32_t* count, DirectModeDisplay*,
                                                  uint32_t) {
    if (count) {
        *count = 0;
    }
    return kNvNoImplementation;
}

NvStatus UnavailableDirectMode::GetDisplayModes(const DirectModeDisplay*, uint32_t* count,
                                                DirectModeMode*, uint32_t) {
    if (count) {
        *count = 0;
    }
    return kNvNoImplementation;
}

NvStatus UnavailableDirectMode::GetPhysicalGpu(uint32_t, PhysicalGpu* gpu) {
    if (gpu) {
        *gpu = nullptr;
    }
    return kNvNoImplementation;
}

NvStatus UnavailableDirectMode::GetAdapter(PhysicalGpu, IDXGIAdapter** adapter) {
    if (adapter) {
        *adapter = nullptr;
    }
    return kNvNoImplementation;
}

NvStatus UnavailableDirectMode::CreateSurface(const DirectModeDisplay*, const DirectModeMode*,
                                              DirectModeSurface* surface, HANDLE* shared) {
    if (surface) {
        *surface = 0;
    }
    if (shared) {
        *shared = nullptr;
    }
    return kNvNoImplementation;
}

NvStatus UnavailableDirectMode::GetWaitable(const DirectModeDisplay*, HANDLE* waitable) {
    if (waitable) {
        *waitable = nullptr;
    }
    return kNvNoImplementation;
}

NvStatus NvAPI_Initialize() {
    return Api().Initialize();
}

NvStatus EnableDirectMode(uint32_t vendorId, uint32_t flags) {
    return Api().Enable(vendorId, flags);
}

NvStatus NvAPI_DISP_EnumerateDirectModeDisplays(uint32_t vendorId, uint32_t* count,
                                                DirectModeDisplay* displays, uint32_t flags) {
    return Api().EnumerateDisplays(vendorId, count, displays, flags);
}

NvStatus NvAPI_D3D_DirectModeGetDisplayModes(const DirectModeDisplay* display, uint32_t* count,
                                             DirectModeMode* modes, uint32_t flags) {
    return Api().GetDisplayModes(display, count, modes, flags);
}

NvStatus NvAPI_SYS_GetPhysicalGpuFromDisplayId(uint32_t displayId, PhysicalGpu* gpu) {
    return Api().GetPhysicalGpu(displayId, gpu);
}

NvStatus NvAPI_D3D_GetIDXGIAdapter(PhysicalGpu gpu, IDXGIAdapter** adapter) {
    return Api().GetAdapter(gpu, adapter);
}

NvStatus AcquireDirectModeDisplay(uint32_t vendorId, ID3D12Device* device,
                                  const DirectModeDisplay* display) {
    return Api().Acquire(vendorId, device, display);
}

NvStatus ReleaseDirectModeDisplay(uint32_t vendorId, const DirectModeDisplay* display) {
    return Api().Release(vendorId, display);
}

NvStatus NvAPI_D3D_DirectModeCreateSurface(const DirectModeDisplay* display,
                                           const DirectModeMode* mode, DirectModeSurface* surface,
                                           HANDLE* shared) {
    return Api().CreateSurface(display, mode, surface, shared);
}

NvStatus SetDisplayMode(const DirectModeDisplay* display, const DirectModeMode* mode) {
    return Api().SetMode(display, mode);
}

NvStatus DisplayControl(const DirectModeDisplay* display, uint32_t control) {
    return Api().Control(display, control);
}

NvStatus GetPresentWaitableObject(const DirectModeDisplay* display, HANDLE* waitable) {
    return Api().GetWaitable(display, waitable);
}

NvStatus Present12(const DirectModeDisplay* display, DirectModeSurface surface, uint32_t flags,
                   ID3D12CommandQueue* queue, ID3D12GraphicsCommandList* list) {
    return Api().Present(display, surface, flags, queue, list);
}

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
