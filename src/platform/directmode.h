// DirectMode: taking the headset's display away from the desktop and feeding
// it surfaces directly.
//
// The presenter calls the free functions below; their names are the ones its
// set-up check lines print, so a failed call reads in the log exactly as it
// reads in the source. Each call goes to the DirectMode implementation
// installed for the process: the virtual display in brisk-sim and the tests,
// otherwise the platform's own. The real Windows build has no adapter to the
// vendor's DirectMode entry points (their SDK is not part of this tree), so
// its platform implementation reports DirectMode as unavailable.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/gpu.h"
#include "platform/gpu_flavour.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {

// Status of a DirectMode call: 0 is success, negative values are failures.
using NvStatus = int32_t;

constexpr NvStatus kNvOk = 0;
constexpr NvStatus kNvError = -1;
constexpr NvStatus kNvLibraryNotFound = -2;
constexpr NvStatus kNvNoImplementation = -3;
constexpr NvStatus kNvInvalidArgument = -5;
constexpr NvStatus kNvDeviceNotFound = -6;
constexpr NvStatus kNvIncompatibleStructVersion = -9;
// The display runs without HDCP. Acquire and mode set still succeeded.
constexpr NvStatus kNvHdcpDisabled = -208;

// Vendor identifier handed to every call that takes one.
constexpr uint32_t kVendorId = 0x2709;

// Flags of the enumeration and the mode list, named as the calls print them.
constexpr uint32_t NV_ENUM_DIRECTMODE_DISPLAY_ENABLED = 1;
constexpr uint32_t NV_DIRECTMODE_GETMODES_FLAG_SUPPORTED = 0;

// DisplayControl arguments.
constexpr uint32_t kDisplayPowerOn = 0;
constexpr uint32_t kDisplayPowerOff = 1;

// One DirectMode display as the enumeration fills it in. Only displayId is
// ours to read; the rest goes back to the calls unchanged.
struct DirectModeDisplay {
    uint32_t displayId;
    uint32_t opaque[3];
};
static_assert(sizeof(DirectModeDisplay) == 16);

// Version word of a mode record: record size 48, structure version 2.
constexpr uint32_t kModeRecordVersion = 0x20030;

// One display mode. Fields beyond the ones named are the vendor's.
struct DirectModeMode {
    uint32_t version;
    uint32_t width;
    uint32_t height;
    uint32_t refreshNumerator;
    uint32_t refreshDenominator;  // 0: the rate counts as 0 Hz
    int32_t format;
    uint32_t opaque[2];
    uint32_t dscEnable;
    uint32_t dscVersion;  // 0x11: DSC 1.1
    uint32_t dscSliceCount;
    uint32_t dscBitsPerPixelX16;  // 128: 8 bits per pixel
};
static_assert(sizeof(DirectModeMode) == 48);
static_assert(offsetof(DirectModeMode, width) == 4);
static_assert(offsetof(DirectModeMode, height) == 8);
static_assert(offsetof(DirectModeMode, refreshNumerator) == 12);
static_assert(offsetof(DirectModeMode, refreshDenominator) == 16);
static_assert(offsetof(DirectModeMode, format) == 20);
static_assert(offsetof(DirectModeMode, dscEnable) == 32);
static_assert(offsetof(DirectModeMode, dscVersion) == 36);
static_assert(offsetof(DirectModeMode, dscSliceCount) == 40);
static_assert(offsetof(DirectModeMode, dscBitsPerPixelX16) == 44);

// A current-version mode record with the fields mode matching looks at; the
// rest zero.
inline DirectModeMode MakeDirectModeMode(uint32_t width, uint32_t height, uint32_t numerator,
                                         uint32_t denominator, int32_t format) {
    DirectModeMode m{};
    m.version = kModeRecordVersion;
    m.width = width;
    m.height = height;
    m.refreshNumerator = numerator;
    m.refreshDenominator = denominator;
    m.format = format;
    return m;
}

// A scan-out surface created through DirectMode.
using DirectModeSurface = uint32_t;

// The vendor's handle of a physical GPU.
struct PhysicalGpuTag;
using PhysicalGpu = PhysicalGpuTag*;

// What a DirectMode implementation offers. Counts are in/out: on entry with
// a non-null array, the number of records it holds; on return, the number
// available. Implementations must never write beyond the capacity given.
class DirectModeApi {
  public:
    virtual ~DirectModeApi() = default;

    virtual NvStatus Initialize() = 0;
    virtual NvStatus Enable(uint32_t vendorId, uint32_t flags) = 0;
    virtual NvStatus EnumerateDisplays(uint32_t vendorId, uint32_t* count,
                                       DirectModeDisplay* displays, uint32_t flags) = 0;
    virtual NvStatus GetDisplayModes(const DirectModeDisplay* display, uint32_t* count,
                                     DirectModeMode* modes, uint32_t flags) = 0;
    virtual NvStatus GetPhysicalGpu(uint32_t displayId, PhysicalGpu* gpu) = 0;
    virtual NvStatus GetAdapter(PhysicalGpu gpu, IDXGIAdapter** adapter) = 0;
    virtual NvStatus Acquire(uint32_t vendorId, ID3D12Device* device,
                             const DirectModeDisplay* display) = 0;
    virtual NvStatus Release(uint32_t vendorId, const DirectModeDisplay* display) = 0;
    virtual NvStatus CreateSurface(const DirectModeDisplay* display, const DirectModeMode* mode,
                                   DirectModeSurface* surface, HANDLE* shared) = 0;
    virtual NvStatus SetMode(const DirectModeDisplay* display, const DirectModeMode* mode) = 0;
    virtual NvStatus Control(const DirectModeDisplay* display, uint32_t control) = 0;
    virtual NvStatus GetWaitable(const DirectModeDisplay* display, HANDLE* waitable) = 0;
    virtual NvStatus Present(const DirectModeDisplay* display, DirectModeSurface surface,
                             uint32_t flags, ID3D12CommandQueue* queue,
                             ID3D12GraphicsCommandList* list) = 0;
};

// Makes `api` the process's DirectMode (null: back to the platform's own).
// The caller keeps `api` alive until it is uninstalled, and installs before
// any presenter is created.
void InstallDirectMode(DirectModeApi* api);

// The platform's own DirectMode, used while nothing is installed.
DirectModeApi& PlatformDirectMode();

// An implementation in which every call fails: what a build without DirectMode
// support offers. Initialize prints `reason` (one line, standard error) once
// per call, so the failed set-up explains itself.
class UnavailableDirectMode final : public DirectModeApi {
  public:
    explicit UnavailableDirectMode(const char* reason) : reason_(reason) {}

    NvStatus Initialize() override;
    NvStatus Enable(uint32_t, uint32_t) override { return kNvNoImplementation; }
    NvStatus EnumerateDisplays(uint32_t, uint32_t* count, DirectModeDisplay*, uint32_t) override;
    NvStatus GetDisplayModes(const DirectModeDisplay*, uint32_t* count, DirectModeMode*,
                             uint32_t) override;
    NvStatus GetPhysicalGpu(uint32_t, PhysicalGpu* gpu) override;
    NvStatus GetAdapter(PhysicalGpu, IDXGIAdapter** adapter) override;
    NvStatus Acquire(uint32_t, ID3D12Device*, const DirectModeDisplay*) override {
        return kNvNoImplementation;
    }
    NvStatus Release(uint32_t, const DirectModeDisplay*) override { return kNvNoImplementation; }
    NvStatus CreateSurface(const DirectModeDisplay*, const DirectModeMode*,
                           DirectModeSurface* surface, HANDLE* shared) override;
    NvStatus SetMode(const DirectModeDisplay*, const DirectModeMode*) override {
        return kNvNoImplementation;
    }
    NvStatus Control(const DirectModeDisplay*, uint32_t) override { return kNvNoImplementation; }
    NvStatus GetWaitable(const DirectModeDisplay*, HANDLE* waitable) override;
    NvStatus Present(const DirectModeDisplay*, DirectModeSurface, uint32_t, ID3D12CommandQueue*,
                     ID3D12GraphicsCommandList*) override {
        return kNvNoImplementation;
    }

  private:
    const char* reason_;
};

// The DirectMode operations, dispatched to the installed implementation.
NvStatus NvAPI_Initialize();
NvStatus EnableDirectMode(uint32_t vendorId, uint32_t flags);
NvStatus NvAPI_DISP_EnumerateDirectModeDisplays(uint32_t vendorId, uint32_t* count,
                                                DirectModeDisplay* displays, uint32_t flags);
NvStatus NvAPI_D3D_DirectModeGetDisplayModes(const DirectModeDisplay* display, uint32_t* count,
                                             DirectModeMode* modes, uint32_t flags);
NvStatus NvAPI_SYS_GetPhysicalGpuFromDisplayId(uint32_t displayId, PhysicalGpu* gpu);
NvStatus NvAPI_D3D_GetIDXGIAdapter(PhysicalGpu gpu, IDXGIAdapter** adapter);
NvStatus AcquireDirectModeDisplay(uint32_t vendorId, ID3D12Device* device,
                                  const DirectModeDisplay* display);
NvStatus ReleaseDirectModeDisplay(uint32_t vendorId, const DirectModeDisplay* display);
NvStatus NvAPI_D3D_DirectModeCreateSurface(const DirectModeDisplay* display,
                                           const DirectModeMode* mode, DirectModeSurface* surface,
                                           HANDLE* shared);
NvStatus SetDisplayMode(const DirectModeDisplay* display, const DirectModeMode* mode);
NvStatus DisplayControl(const DirectModeDisplay* display, uint32_t control);
NvStatus GetPresentWaitableObject(const DirectModeDisplay* display, HANDLE* waitable);
NvStatus Present12(const DirectModeDisplay* display, DirectModeSurface surface, uint32_t flags,
                   ID3D12CommandQueue* queue, ID3D12GraphicsCommandList* list);

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
