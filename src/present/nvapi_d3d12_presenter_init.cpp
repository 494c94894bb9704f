// Bring-up of the headset display: DirectMode display and mode, Direct3D 12
// device on the display's own GPU, two shared scan-out surfaces with their
// render-target views, mode set, power on, scan-out waitable.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "base/output.h"
#include "present/mode_select.h"
#include "present/nvapi_d3d12_presenter.h"
#include "present/nvapi_d3d12_presenter_impl.h"
#include "present/presenter_print.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {
namespace {

// The counts come from the driver; a corrupt one must not turn into an
// allocation of gigabytes. Real lists are far shorter.
constexpr uint32_t kMaxDisplays = 64;
constexpr uint32_t kMaxModes = 4096;
constexpr int kAcquireAttempts = 10;

bool NvOk(NvStatus status, const char* call, int line) {
    if (status == kNvOk) {
        return true;
    }
    Print(stderr, "Presenter: %s = 0x%x (line %d)\n", call, StatusHex(status), line);
    return false;
}

}  // namespace

// A failed check prints the call as written at the check, with its line, and
// ends Init. Keep each call's text as it should read in the log: a line break
// right after the opening parenthesis prints as "( ".
#define NV_CHECK(call)                    \
    if (!NvOk((call), #call, __LINE__)) { \
        return false;                     \
    }

bool NvapiD3d12Presenter::Init() {
    return OpenDisplay() && SelectMode() && CreateDevice() && AcquireDisplay() &&
           CreateSurfaces() && StartScanOut();
}

bool NvapiD3d12Presenter::OpenDisplay() {
    Impl& im = *impl;
    NV_CHECK(NvAPI_Initialize());

    NvStatus status = EnableDirectMode(kVendorId, 0);
    Print(stdout, "EnableDirectMode(0x%x) = 0x%x\n", kVendorId, StatusHex(status));

    uint32_t numDisplays = 0;
    NvAPI_DISP_EnumerateDirectModeDisplays(kVendorId, &numDisplays, nullptr,
                                           NV_ENUM_DIRECTMODE_DISPLAY_ENABLED);
    if (numDisplays == 0) {
        Print(stderr, "Presenter: no DirectMode display (Davovo not attached?)\n");
        return false;
    }
    numDisplays = std::min(numDisplays, kMaxDisplays);
    std::vector<DirectModeDisplay> displays(numDisplays);
    // clang-format off
    NV_CHECK(NvAPI_DISP_EnumerateDirectModeDisplays(
        kVendorId, &numDisplays, displays.data(), NV_ENUM_DIRECTMODE_DISPLAY_ENABLED));
    // clang-format on

    // The headset is the first DirectMode display; there is no choosing.
    im.display = displays[0];
    Print(stdout, "using displayId 0x%x\n", im.display.displayId);
    return true;
}

bool NvapiD3d12Presenter::SelectMode() {
    Impl& im = *impl;
    uint32_t modeCount = 0;
    // clang-format off
    NV_CHECK(NvAPI_D3D_DirectModeGetDisplayModes(
        &im.display, &modeCount, nullptr, NV_DIRECTMODE_GETMODES_FLAG_SUPPORTED));
    // clang-format on
    modeCount = std::min(modeCount, kMaxModes);
    DirectModeMode blank{};
    blank.version = kModeRecordVersion;
    std::vector<DirectModeMode> modes(modeCount, blank);
    // clang-format off
    NV_CHECK(NvAPI_D3D_DirectModeGetDisplayModes(
        &im.display, &modeCount, modes.data(), NV_DIRECTMODE_GETMODES_FLAG_SUPPORTED));
    // clang-format on

    // The list may have grown since it was counted: read only what we hold.
    const size_t listed = std::min<size_t>(modeCount, modes.size());
    for (size_t i = 0; i < listed; ++i) {
        const DirectModeMode& m = modes[i];
        Print(stdout, "mode[%u]: %ux%u @ %.3f Hz format=%d\n", static_cast<unsigned>(i), m.width,
              m.height, ModeRefreshHz(m), m.format);
    }
    const ModeChoice choice = ChooseMode(modes.data(), listed, cfg);
    if (choice.index < 0) {
        Print(stderr,
              "Presenter: no mode matches %ux%u@%.0f format %d — refusing to guess (mode "
              "list above)\n",
              cfg.width, cfg.height, cfg.refreshHz, cfg.format);
        return false;
    }
    im.refreshHz = choice.refreshHz;
    im.mode = modes[choice.index];
    Print(stdout, "using mode %ux%u @ %.3f Hz format=%d\n", im.mode.width, im.mode.height,
          im.refreshHz, im.mode.format);
    if (cfg.forceDsc) {
        ForceDsc(im.mode);
        Print(stdout, "forcing DSC 1.1, 4 slices, 8 bpp\n");
    }
    return true;
}

bool NvapiD3d12Presenter::CreateDevice() {
    Impl& im = *impl;
    PhysicalGpu gpu = nullptr;
    NV_CHECK(NvAPI_SYS_GetPhysicalGpuFromDisplayId(im.display.displayId, &gpu));
    ComPtr<IDXGIAdapter> adapter;
    NV_CHECK(NvAPI_D3D_GetIDXGIAdapter(gpu, adapter.GetAddressOf()));
    // On the GPU that drives the headset, not on the default adapter.
    HR_CHECK(D3D12CreateDevice(adapter.Get(), D3D_FEATURE_LEVEL_11_0, IID_PPV_ARGS(&im.dev)));

    return CreateLoopObjects(im);
}

bool NvapiD3d12Presenter::AcquireDisplay() {
    Impl& im = *impl;
    // Another process (a VR compositor) may still hold the display for a
    // moment after it exits, so the acquire is retried for about 10 s.
    NvStatus status = kNvError;
    for (int attempt = 0; attempt < kAcquireAttempts; ++attempt) {
        status = AcquireDirectModeDisplay(kVendorId, im.dev.Get(), &im.display);
        const bool hdcpOff = status == kNvHdcpDisabled;
        Print(stdout, "AcquireDirectModeDisplay = 0x%x%s\n", StatusHex(status),
              hdcpOff ? " (HDCP disabled, continuing)" : "");
        if (status == kNvOk || hdcpOff) {
            break;
        }
        Sleep(1000);
    }
    if (status != kNvOk && status != kNvHdcpDisabled) {
        return false;
    }
    im.acquired = true;
    return true;
}

bool NvapiD3d12Presenter::CreateSurfaces() {
    Impl& im = *impl;
    HANDLE shared[2] = {nullptr, nullptr};
    for (int i = 0; i < 2; ++i) {
        // clang-format off
        NV_CHECK(NvAPI_D3D_DirectModeCreateSurface(&im.display, &im.mode, &im.surf[i],
                                                   &shared[i]));
        // clang-format on
        HR_CHECK(im.dev->OpenSharedHandle(shared[i], IID_PPV_ARGS(&im.res[i])));
    }

    // Both surfaces come from the same mode; the first one speaks for both.
    const D3D12_RESOURCE_DESC rdesc = im.res[0]->GetDesc();
    im.width = static_cast<uint32_t>(rdesc.Width);
    im.height = rdesc.Height;
    const int surfaceFormat = static_cast<int>(rdesc.Format);
    Print(stdout, "surface: %ux%u format=%d\n", im.width, im.height, surfaceFormat);
    const int32_t viewFormat = TypedRtvFormat(surfaceFormat);
    if (viewFormat == 0) {
        Print(stderr,
              "Presenter: surface format %d has no typed RTV mapping — refusing (would "
              "scan out uninitialized VRAM)\n",
              surfaceFormat);
        return false;
    }
    Print(stdout, "rtv format: %d\n", static_cast<int>(viewFormat));
    im.rtvFormat = static_cast<DXGI_FORMAT>(viewFormat);

    if (!CreateRtvHeap(im)) {
        return false;
    }
    for (int i = 0; i < 2; ++i) {
        D3D12_RENDER_TARGET_VIEW_DESC rd = {};
        rd.Format = im.rtvFormat;
        rd.ViewDimension = D3D12_RTV_DIMENSION_TEXTURE2D;
        rd.Texture2D.MipSlice = 0;
        rd.Texture2D.PlaneSlice = 0;
        im.dev->CreateRenderTargetView(im.res[i].Get(), &rd, im.rtv[i]);
    }
    return true;
}

bool NvapiD3d12Presenter::StartScanOut() {
    Impl& im = *impl;
    NvStatus status = SetDisplayMode(&im.display, &im.mode);
    if (status == kNvHdcpDisabled) {
        status = kNvOk;
    }
    Print(stdout, "SetDisplayMode = 0x%x\n", StatusHex(status));
    if (status != kNvOk) {
        return false;
    }
    status = DisplayControl(&im.display, kDisplayPowerOn);
    Print(stdout, "DisplayControl(POWER_ON) = 0x%x\n", StatusHex(status));
    // Without a waitable the loop still runs, paced by the free-run detector.
    status = GetPresentWaitableObject(&im.display, &im.waitable);
    im.hasWaitable = status == kNvOk;
    Print(stdout, "GetPresentWaitableObject = 0x%x\n", StatusHex(status));
    return true;
}

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
