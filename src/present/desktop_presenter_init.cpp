// Bring-up of a desktop output: list every adapter's outputs with the wanted
// mode, pick one, switch its mode if it runs another, then a Direct3D 12
// device on its adapter, a window over it and a flip-model swap chain with
// render-target views of its two buffers.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "base/output.h"
#include "base/utf8.h"
#include "present/desktop_presenter.h"
#include "present/desktop_presenter_impl.h"
#include "present/presenter_print.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {
namespace {

// Mode lists come from the driver; a corrupt count must not become an
// allocation of gigabytes. Real lists are far shorter.
constexpr UINT kMaxModes = 4096;
// The format the modes are listed for and the swap chain is made in.
constexpr DXGI_FORMAT kFormat = DXGI_FORMAT_R8G8B8A8_UNORM;

// A main step also says when it went well.
bool HrStep(HRESULT hr, const char* call, const char* name, int line) {
    if (!HrOk(hr, call, line)) {
        return false;
    }
    Print(stdout, "%s = 0x%lx\n", name, HresultHex(hr));
    return true;
}

// Handles that report failure as null, checked like the calls around them.
HRESULT HandleResult(HANDLE handle) {
    return handle != nullptr ? S_OK : E_FAIL;
}

double RateHz(const DXGI_RATIONAL& r) {
    return r.Denominator != 0 ? static_cast<double>(r.Numerator) / r.Denominator : 0.0;
}

// GDI's whole hertz for a rate: 59.94 is 59, as Windows lists it.
uint32_t WholeHz(double hz) {
    return static_cast<uint32_t>(std::floor(hz + 0.01));
}

std::string ModeText(const PresenterConfig& cfg) {
    char text[64];
    if (cfg.anyRefresh) {
        std::snprintf(text, sizeof text, "%ux%u (any refresh rate)", cfg.width, cfg.height);
    } else {
        std::snprintf(text, sizeof text, "%ux%u @ %.3f Hz", cfg.width, cfg.height, cfg.refreshHz);
    }
    return text;
}

// A mode as GDI has it; 0 or 1 Hz stands for the hardware's default rate.
std::string GdiModeText(const DisplaySettings& m) {
    char text[64];
    if (m.hz > 1) {
        std::snprintf(text, sizeof text, "%ux%u @ %u Hz", m.width, m.height, m.hz);
    } else {
        std::snprintf(text, sizeof text, "%ux%u at its default rate", m.width, m.height);
    }
    return text;
}

// The wanted mode in an output's list: at the wanted rate (within 0.5 Hz),
// or when any rate will do, at the listed rate nearest the one the output
// runs now, so that an output already at that size is left as it is.
bool FindMode(const std::vector<DXGI_MODE_DESC>& modes, const PresenterConfig& cfg,
              double currentHz, double* hz) {
    bool found = false;
    for (const DXGI_MODE_DESC& m : modes) {
        const double rate = RateHz(m.RefreshRate);
        if (m.Width != cfg.width || m.Height != cfg.height) {
            continue;
        }
        if (!cfg.anyRefresh && std::fabs(rate - cfg.refreshHz) <= 0.5) {
            *hz = rate;
            return true;
        }
        if (cfg.anyRefresh &&
            (!found || std::fabs(rate - currentHz) < std::fabs(*hz - currentHz))) {
            *hz = rate;
            found = true;
        }
    }
    return found;
}

// GetDisplayModeList's result, or the list.
HRESULT ListModes(IDXGIOutput* output, std::vector<DXGI_MODE_DESC>* modes) {
    UINT count = 0;
    HRESULT hr = output->GetDisplayModeList(kFormat, 0, &count, nullptr);
    if (hr < 0) {
        return hr;
    }
    modes->resize(std::min(count, kMaxModes));
    count = static_cast<UINT>(modes->size());
    hr = output->GetDisplayModeList(kFormat, 0, &count, modes->data());
    modes->resize(std::min<size_t>(count, modes->size()));
    return hr;
}

std::string AdapterName(IDXGIAdapter1* adapter) {
    DXGI_ADAPTER_DESC1 desc = {};
    return adapter->GetDesc1(&desc) >= 0 ? Utf8FromWide(desc.Description) : std::string("?");
}

// One output of the listing, with its line.
ListedOutput DescribeOutput(const ComPtr<IDXGIAdapter1>& adapter, IDXGIOutput* output,
                            const DXGI_OUTPUT_DESC& desc, const PresenterConfig& cfg,
                            size_t index) {
    ListedOutput out;
    out.adapter = adapter;
    out.device = desc.DeviceName;
    out.area = desc.DesktopCoordinates;
    DisplaySettings now;
    const bool knowNow = CurrentDisplaySettings(desc.DeviceName, &now);
    std::vector<DXGI_MODE_DESC> modes;
    const HRESULT listed = ListModes(output, &modes);
    out.hasMode = listed >= 0 && FindMode(modes, cfg, knowNow ? now.hz : 0.0, &out.modeHz);
    out.mode = {cfg.width, cfg.height, WholeHz(out.modeHz)};

    char verdict[96];
    if (listed < 0) {
        std::snprintf(verdict, sizeof verdict, "mode list unavailable (GetDisplayModeList = 0x%lx)",
                      HresultHex(listed));
    } else if (out.hasMode && out.modeHz > 0.0) {
        std::snprintf(verdict, sizeof verdict, "mode %ux%u @ %.3f Hz available", cfg.width,
                      cfg.height, out.modeHz);
    } else if (out.hasMode) {
        std::snprintf(verdict, sizeof verdict, "mode %ux%u available, rate not listed", cfg.width,
                      cfg.height);
    } else {
        std::snprintf(verdict, sizeof verdict, "no %s mode", ModeText(cfg).c_str());
    }
    const RECT& r = out.area;
    Print(stdout, "output[%zu]: %s %ldx%ld at (%ld,%ld) on %s — %s\n", index,
          Utf8FromWide(out.device).c_str(), r.right - r.left, r.bottom - r.top, r.left, r.top,
          AdapterName(adapter.Get()).c_str(), verdict);
    return out;
}

}  // namespace

// A main step's check also says when it went well.
#define HR_STEP(call, name)                         \
    if (!HrStep((call), #call, (name), __LINE__)) { \
        return false;                               \
    }

bool DesktopD3d12Presenter::Init() {
    return ListOutputs() && PickOutput() && SetMode() && CreateDevice() && OpenWindow() &&
           CreateSwapChain() && CreateViews();
}

bool DesktopD3d12Presenter::ListOutputs() {
    Impl& im = *impl;
    HR_CHECK(CreateDXGIFactory2(0, IID_PPV_ARGS(&im.factory)));
    ForEachOutput(im.factory.Get(), [&](const ComPtr<IDXGIAdapter1>& adapter,
                                        const ComPtr<IDXGIOutput>& output,
                                        const DXGI_OUTPUT_DESC& desc) {
        im.outputs.push_back(DescribeOutput(adapter, output.Get(), desc, cfg, im.outputs.size()));
        return true;
    });
    if (im.outputs.empty()) {
        Print(stderr, "Presenter: no desktop output on any adapter (no monitor attached?)\n");
        return false;
    }
    return true;
}

bool DesktopD3d12Presenter::PickOutput() {
    Impl& im = *impl;
    const int listed = static_cast<int>(im.outputs.size());
    int pick = outputIndex;
    if (pick < 0) {
        for (pick = 0; pick < listed && !im.outputs[pick].hasMode; ++pick) {
        }
        if (pick == listed) {
            Print(stderr,
                  "Presenter: no output has a %s mode — refusing to guess (outputs above)\n",
                  ModeText(cfg).c_str());
            return false;
        }
    } else if (pick >= listed) {
        Print(stderr, "Presenter: there is no output[%d] — %d output(s) listed above\n", pick,
              listed);
        return false;
    } else if (!im.outputs[pick].hasMode) {
        Print(stderr, "Presenter: output[%d] has no %s mode — refusing to guess (outputs above)\n",
              pick, ModeText(cfg).c_str());
        return false;
    }
    const ListedOutput chosen = im.outputs[pick];
    im.outputs.clear();  // the others' adapters are not needed any more
    im.index = pick;
    im.adapter = chosen.adapter;
    im.device = chosen.device;
    im.area = chosen.area;
    im.mode = chosen.mode;
    const std::string name = Utf8FromWide(im.device);
    if (chosen.modeHz > 0.0) {
        im.refreshHz = chosen.modeHz;
        Print(stdout, "using output[%d] %s: %ux%u @ %.3f Hz\n", pick, name.c_str(), im.mode.width,
              im.mode.height, im.refreshHz);
        return true;
    }
    // A driver that lists no rate leaves the loop the one GDI says the
    // output runs, or else the one asked for, to pace itself by.
    DisplaySettings now;
    const bool gdiKnows = CurrentDisplaySettings(im.device.c_str(), &now) && now.hz > 1;
    im.refreshHz = gdiKnows ? now.hz : cfg.refreshHz;
    Print(stdout, "using output[%d] %s: %ux%u, rate not listed — pacing for %.3f Hz\n", pick,
          name.c_str(), im.mode.width, im.mode.height, im.refreshHz);
    return true;
}

// GDI rather than the swap chain's full screen: a full-screen swap chain
// leaves full screen whenever its window loses the focus, and the focus stays
// with the console (Ctrl+C), so a soak run would keep falling out of the
// mode. A CDS_FULLSCREEN switch holds until we put the mode back.
bool DesktopD3d12Presenter::SetMode() {
    Impl& im = *impl;
    DisplaySettings now;
    if (CurrentDisplaySettings(im.device.c_str(), &now) && now.width == im.mode.width &&
        now.height == im.mode.height && (cfg.anyRefresh || now.hz == im.mode.hz)) {
        Print(stdout, "output[%d] already at %s\n", im.index, GdiModeText(now).c_str());
    } else {
        const long result = im.modeSwitch.Switch(im.device.c_str(), im.mode);
        Print(stdout, "ChangeDisplaySettingsExW(%s, %s) = %ld\n", Utf8FromWide(im.device).c_str(),
              GdiModeText(im.mode).c_str(), result);
        if (result != 0) {
            return false;
        }
    }
    im.area.right = im.area.left + static_cast<LONG>(im.mode.width);
    im.area.bottom = im.area.top + static_cast<LONG>(im.mode.height);
    return true;
}

bool DesktopD3d12Presenter::CreateDevice() {
    Impl& im = *impl;
    // On the adapter that drives the output, not on the default one.
    // clang-format off
    HR_STEP(D3D12CreateDevice(im.adapter.Get(), D3D_FEATURE_LEVEL_11_0, IID_PPV_ARGS(&im.dev)),
            "D3D12CreateDevice");
    // clang-format on

    return CreateLoopObjects(im);
}

bool DesktopD3d12Presenter::OpenWindow() {
    Impl& im = *impl;
    HR_CHECK(im.window.Create(im.area));
    const RECT& r = im.area;
    Print(stdout, "window: %ldx%ld at (%ld,%ld), borderless, topmost\n", r.right - r.left,
          r.bottom - r.top, r.left, r.top);
    return true;
}

bool DesktopD3d12Presenter::CreateSwapChain() {
    Impl& im = *impl;
    DXGI_SWAP_CHAIN_DESC1 sd = {};
    sd.Width = im.mode.width;
    sd.Height = im.mode.height;
    sd.Format = kFormat;
    sd.SampleDesc.Count = 1;
    sd.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
    sd.BufferCount = 2;
    sd.Scaling = DXGI_SCALING_NONE;
    sd.SwapEffect = DXGI_SWAP_EFFECT_FLIP_DISCARD;
    sd.AlphaMode = DXGI_ALPHA_MODE_IGNORE;
    sd.Flags = DXGI_SWAP_CHAIN_FLAG_FRAME_LATENCY_WAITABLE_OBJECT;
    ComPtr<IDXGISwapChain1> chain;
    // clang-format off
    HR_STEP(im.factory->CreateSwapChainForHwnd(im.queue.Get(), im.window.Handle(), &sd, nullptr,
                                               nullptr, &chain),
            "CreateSwapChainForHwnd");
    // clang-format on
    HR_CHECK(chain.As(&im.swapChain));
    // Alt+Enter would take the output into DXGI's full screen behind our back.
    HR_CHECK(im.factory->MakeWindowAssociation(im.window.Handle(), DXGI_MWA_NO_ALT_ENTER));
    HR_STEP(im.swapChain->SetMaximumFrameLatency(1), "SetMaximumFrameLatency(1)");
    im.latencyWaitable = im.swapChain->GetFrameLatencyWaitableObject();
    HR_STEP(HandleResult(im.latencyWaitable), "GetFrameLatencyWaitableObject");
    return true;
}

bool DesktopD3d12Presenter::CreateViews() {
    Impl& im = *impl;
    for (UINT i = 0; i < 2; ++i) {
        HR_CHECK(im.swapChain->GetBuffer(i, IID_PPV_ARGS(&im.res[i])));
    }
    im.width = im.mode.width;
    im.height = im.mode.height;
    im.rtvFormat = kFormat;
    Print(stdout, "swap chain: %ux%u format=%d, 2 buffers, flip-discard\n", im.width, im.height,
          static_cast<int>(im.rtvFormat));

    if (!CreateRtvHeap(im)) {
        return false;
    }
    for (int i = 0; i < 2; ++i) {
        im.dev->CreateRenderTargetView(im.res[i].Get(), nullptr, im.rtv[i]);
    }
    return true;
}

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
