// The software GPU's own controls, beyond what <d3d12.h> offers: shared
// scan-out surfaces for the virtual DirectMode display, device removal on
// demand, frame capture, and counters that tests use to check for misuse
// and leaks. Everything is process-wide and thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/softgpu/d3d12_api.h"
#include "sim/softgpu/raster.h"

namespace brisk::softgpu {

// ---- adapters and shared surfaces ----

// The adapter a DirectMode layer hands out for its GPU; D3D12CreateDevice
// accepts it (or null).
ComPtr<IDXGIAdapter> CreateSoftwareAdapter();

// A scan-out surface shared between the display and Direct3D 12, as the
// DirectMode layer creates them: a 2D texture of the given size and format
// (usually typeless), initially in the COMMON (= PRESENT) state. Returns a
// handle that ID3D12Device::OpenSharedHandle opens as an ID3D12Resource, or
// null for a zero size, a size over 16384 or DXGI_FORMAT_UNKNOWN.
//
// Lifetime: the handle and every resource opened from it each keep the
// surface alive. Whoever created the handle closes it with CloseHandle when
// it no longer hands the surface out (the virtual display does so when it is
// torn down); the surface goes when that handle and the last resource are gone.
HANDLE CreateSharedSurface(UINT width, UINT height, DXGI_FORMAT format);

// ---- device removal ----

// Removes every device alive now, as a pulled cable would: from then on its
// GetDeviceRemovedReason() returns `reason` (non-zero), its fences complete
// with UINT64_MAX (waking every waiter), its queue executes nothing, its
// Create* methods fail with DXGI_ERROR_DEVICE_REMOVED. Devices created
// later are not affected. A removed device stays removed.
void RemoveAllDevices(HRESULT reason = DXGI_ERROR_DEVICE_REMOVED);
void RemoveDevice(ID3D12Device* device, HRESULT reason = DXGI_ERROR_DEVICE_REMOVED);

// ---- frame capture ----

struct CapturedFrame {
    UINT width = 0;
    UINT height = 0;
    DXGI_FORMAT format = DXGI_FORMAT_UNKNOWN;  // the view format of the clears
    UINT64 execution = 0;                      // the list's number among executed lists
    std::vector<std::uint8_t> rgba;            // width * height * 4, see RasterizeClears
};
using CaptureCallback = std::function<void(const CapturedFrame&)>;

// Arms one capture. Command lists that clear a render target are counted as
// they are executed; the first `skip` of them pass, and the next one is
// captured: its clears of the surface it clears first (or of `surface` only,
// when that shared-surface handle is given) are rasterised as they execute,
// in order, onto a zeroed surface and handed to `onCapture` on the executing
// thread, inside ExecuteCommandLists. Then the capture is disarmed. Arming
// again replaces a pending capture. Formats without alpha (B8G8R8X8) capture
// alpha as 255. Only an armed capture costs time in proportion to the surface.
void ArmCapture(UINT64 skip, CaptureCallback onCapture, HANDLE surface = nullptr);
void DisarmCapture();
bool CaptureArmed();

// ---- checks for tests ----

// Misuse a debug layer would report (a barrier whose StateBefore is not the
// resource's state, a clear of a resource not in RENDER_TARGET state,
// executing an open list, resetting a recording list, a bad descriptor, ...)
// is counted here; the call then behaves as the subset documents it.
UINT64 ValidationErrorCount();
std::string LastValidationError();

// Software-GPU objects alive (devices, queues, lists, resources, ...) and
// handles open (events, shared surfaces). Both are zero when nothing leaks.
long LiveObjectCount();
long OpenHandleCount();

}  // namespace brisk::softgpu
