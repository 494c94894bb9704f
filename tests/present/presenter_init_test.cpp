// Bring-up of the presenter against the virtual display: the exact lines of
// every step, each refusal and failure, and what the display ends up in.
#include <chrono>
#include <fstream>
#include <regex>

#include "present_test_support.h"

namespace brisk::test {
namespace {

using sim::DisplayCall;
using sim::VirtualDisplay;

std::vector<std::string> Prefix(const std::vector<std::string>& lines, size_t n) {
    return {lines.begin(), lines.begin() + std::min(n, lines.size())};
}

// Line `n` (1-based) of the presenter's set-up source.
std::string SourceLine(int n) {
    std::ifstream in(BRISK_PRESENTER_INIT_SOURCE);
    std::string line;
    for (int i = 1; i <= n && std::getline(in, line); ++i) {
    }
    return line;
}

// "Presenter: CALL = 0xSTATUS (line N)": the call text and status must be as
// expected, and line N must be the check of that call.
void ExpectCheckLine(const std::string& printed, const std::string& call,
                     const std::string& status) {
    const std::string head = "Presenter: " + call + " = " + status + " (line ";
    ASSERT_EQ(printed.substr(0, head.size()), head) << printed;
    const int line = std::atoi(printed.c_str() + head.size());
    EXPECT_EQ(printed, head + std::to_string(line) + ")");
    const std::string name = call.substr(0, call.find('('));
    EXPECT_NE(SourceLine(line).find("CHECK(" + name), std::string::npos)
        << "line " << line << " is: " << SourceLine(line);
}

TEST_F(PresenterTest, HealthyInitPrintsEveryStepAndLeavesTheDisplayRunning) {
    NvapiD3d12Presenter p(PresenterConfig{});
    bool ok = false;
    const Printed printed = InitCaptured(p, ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(printed.out, HealthyInitLines());
    EXPECT_TRUE(printed.err.empty());

    EXPECT_TRUE(display->State().acquired);
    ASSERT_TRUE(display->State().modeSet);
    const DirectModeMode mode = display->State().mode;
    EXPECT_EQ(mode.width, 5088u);
    EXPECT_EQ(mode.height, 2544u);
    EXPECT_EQ(mode.refreshNumerator, 75u);
    EXPECT_EQ(mode.format, 22);
    EXPECT_EQ(mode.dscEnable, 1u);
    EXPECT_EQ(mode.dscVersion, 0x11u);
    EXPECT_EQ(mode.dscSliceCount, 4u);
    EXPECT_EQ(mode.dscBitsPerPixelX16, 128u);
    EXPECT_EQ(display->State().power, std::vector<uint32_t>{kDisplayPowerOn});
    EXPECT_EQ(display->State().acquireAttempts, 1u);
}

TEST_F(PresenterTest, WithoutForcedDscTheModeIsSetAsListed) {
    PresenterConfig cfg;
    cfg.forceDsc = false;
    NvapiD3d12Presenter p(cfg);
    bool ok = false;
    const Printed printed = InitCaptured(p, ok);
    EXPECT_TRUE(ok);
    std::vector<std::string> expected = HealthyInitLines();
    expected.erase(std::find(expected.begin(), expected.end(), "forcing DSC 1.1, 4 slices, 8 bpp"));
    EXPECT_EQ(printed.out, expected);
    EXPECT_EQ(display->State().mode.dscEnable, 0u);
    EXPECT_EQ(display->State().mode.dscBitsPerPixelX16, 0u);
}

TEST_F(PresenterTest, WithoutDirectModeInitFailsAtItsFirstCallAndSaysWhy) {
    InstallDirectMode(nullptr);
    NvapiD3d12Presenter p(PresenterConfig{});
    bool ok = true;
    const Printed printed = InitCaptured(p, ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(printed.out.empty());
    ASSERT_EQ(printed.err.size(), 2u);
    EXPECT_NE(printed.err[0].find("this build has no DirectMode support"), std::string::npos);
    ExpectCheckLine(printed.err[1], "NvAPI_Initialize()", "0xfffffffd");
}

TEST_F(PresenterTest, NoDisplayIsRefusedAfterTheEnableLine) {
    Reshape({.displayCount = 0});
    NvapiD3d12Presenter p(PresenterConfig{});
    bool ok = true;
    const Printed printed = InitCaptured(p, ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(printed.out, std::vector<std::string>{"EnableDirectMode(0x2709) = 0x0"});
    EXPECT_EQ(printed.err,
              std::vector<std::string>{"Presenter: no DirectMode display (Davovo not attached?)"});
}

TEST_F(PresenterTest, OfTwoDisplaysTheFirstIsTaken) {
    Reshape({.displayCount = 2});
    NvapiD3d12Presenter p(PresenterConfig{});
    bool ok = false;
    const Printed printed = InitCaptured(p, ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(printed.out, HealthyInitLines());
    EXPECT_TRUE(display->State().acquired);
}

TEST_F(PresenterTest, OfTwoMatchingModesTheLaterOneIsSetWithItsOwnRate) {
    Reshape({.modes = {MakeDirectModeMode(5088, 2544, 749, 10, 22),
                       MakeDirectModeMode(5088, 2544, 753, 10, 22)}});
    NvapiD3d12Presenter p(PresenterConfig{});
    bool ok = false;
    const Printed printed = InitCaptured(p, ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(
        Prefix(printed.out, 5),
        (std::vector<std::string>{"EnableDirectMode(0x2709) = 0x0", "using displayId 0x80061086",
                                  "mode[0]: 5088x2544 @ 74.900 Hz format=22",
                                  "mode[1]: 5088x2544 @ 75.300 Hz format=22",
                                  "using mode 5088x2544 @ 75.300 Hz format=22"}));
    EXPECT_EQ(display->State().mode.refreshNumerator, 753u);
}

TEST_F(PresenterTest, WithoutAnExactFitTheModeListIsShownAndInitRefuses) {
    Reshape({.modes = {MakeDirectModeMode(5088, 2544, 149, 2, 22),
                       MakeDirectModeMode(5088, 2544, 151, 2, 22),
                       MakeDirectModeMode(5088, 2544, 75, 0, 22),
                       MakeDirectModeMode(5088, 2544, 75, 1, 23),
                       MakeDirectModeMode(5080, 2544, 75, 1, 22)}});
    NvapiD3d12Presenter p(PresenterConfig{});
    bool ok = true;
    const Printed printed = InitCaptured(p, ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(printed.out, (std::vector<std::string>{
                               "EnableDirectMode(0x2709) = 0x0",
                               "using displayId 0x80061086",
                               "mode[0]: 5088x2544 @ 74.500 Hz format=22",
                               "mode[1]: 5088x2544 @ 75.500 Hz format=22",
                               "mode[2]: 5088x2544 @ 0.000 Hz format=22",
                               "mode[3]: 5088x2544 @ 75.000 Hz format=23",
                               "mode[4]: 5080x2544 @ 75.000 Hz format=22",
                           }));
    EXPECT_EQ(printed.err, std::vector<std::string>{
                               "Presenter: no mode matches 5088x2544@75 format 22 — refusing to "
                               "guess (mode list above)"});
    EXPECT_FALSE(display->State().acquired);
}

// A driver whose mode list grows between the count and the list query.
class GrowingModeList : public VirtualDisplay {
  public:
    NvStatus GetDisplayModes(const DirectModeDisplay* display, uint32_t* count,
                             DirectModeMode* modes, uint32_t flags) override {
        const NvStatus status = VirtualDisplay::GetDisplayModes(display, count, modes, flags);
        if (modes != nullptr) {
            *count += 1000;
        }
        return status;
    }
};

TEST(PresenterModeList, OnlyTheRecordsHeldAreReadWhenTheListGrows) {
    GrowingModeList grown;
    InstallDirectMode(&grown);
    {
        NvapiD3d12Presenter p(PresenterConfig{});
        bool ok = false;
        const Printed printed = CaptureOutput([&] { ok = p.Init(); });
        EXPECT_TRUE(ok);
        EXPECT_EQ(printed.out, HealthyInitLines());
    }
    InstallDirectMode(nullptr);
}

TEST_F(PresenterTest, AnAlreadyTypedSurfaceFormatIsRefusedAndTheDisplayStillReleased) {
    for (DXGI_FORMAT format : {DXGI_FORMAT_R8G8B8A8_UNORM, DXGI_FORMAT_B8G8R8A8_UNORM}) {
        sim::VirtualDisplay local({.surfaceFormat = format});
        InstallDirectMode(&local);
        {
            NvapiD3d12Presenter p(PresenterConfig{});
            bool ok = true;
            const Printed printed = InitCaptured(p, ok);
            EXPECT_FALSE(ok);
            const std::string code = std::to_string(static_cast<int>(format));
            ASSERT_FALSE(printed.out.empty());
            EXPECT_EQ(printed.out.back(), "surface: 5088x2544 format=" + code);
            EXPECT_EQ(printed.err,
                      std::vector<std::string>{"Presenter: surface format " + code +
                                               " has no typed RTV mapping — refusing (would scan "
                                               "out uninitialized VRAM)"});
            EXPECT_TRUE(local.State().acquired);
        }
        EXPECT_FALSE(local.State().acquired);
        EXPECT_EQ(local.State().releases, 1u);
        InstallDirectMode(display.get());
    }
}

TEST_F(PresenterTest, HdcpDisabledAtTheFirstAcquireIsTakenAsSuccessWithoutRetry) {
    Reshape({.hdcpDisabled = true});
    NvapiD3d12Presenter p(PresenterConfig{});
    bool ok = false;
    const Printed printed = InitCaptured(p, ok);
    EXPECT_TRUE(ok);
    std::vector<std::string> expected = HealthyInitLines();
    *std::find(expected.begin(), expected.end(), "AcquireDirectModeDisplay = 0x0") =
        "AcquireDirectModeDisplay = 0xffffff30 (HDCP disabled, continuing)";
    EXPECT_EQ(printed.out, expected);  // the mode set's -208 prints as 0x0
    EXPECT_EQ(display->State().acquireAttempts, 1u);
    EXPECT_TRUE(display->State().acquired);
}

TEST_F(PresenterTest, AcquireFailingTenTimesGivesUpAfterAboutTenSecondsWithNothingToRelease) {
    Reshape({.acquireFailures = 1000});
    const auto start = std::chrono::steady_clock::now();
    {
        NvapiD3d12Presenter p(PresenterConfig{});
        bool ok = true;
        const Printed printed = InitCaptured(p, ok);
        EXPECT_FALSE(ok);
        std::vector<std::string> expected = Prefix(HealthyInitLines(), 10);
        expected.insert(expected.end(), 10, "AcquireDirectModeDisplay = 0xffffffff");
        EXPECT_EQ(printed.out, expected);
        EXPECT_TRUE(printed.err.empty());
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(9500));
    EXPECT_EQ(display->State().acquireAttempts, 10u);
    EXPECT_EQ(display->State().releases, 0u);
}

TEST_F(PresenterTest, AModeSetFailureEndsInitAfterItsOwnLine) {
    Reshape({.failing = {{DisplayCall::SetMode, kNvError}}});
    NvapiD3d12Presenter p(PresenterConfig{});
    bool ok = true;
    const Printed printed = InitCaptured(p, ok);
    EXPECT_FALSE(ok);
    std::vector<std::string> expected = Prefix(HealthyInitLines(), 13);
    expected.push_back("SetDisplayMode = 0xffffffff");
    EXPECT_EQ(printed.out, expected);
    EXPECT_TRUE(printed.err.empty());
    EXPECT_TRUE(display->State().power.empty());
}

TEST_F(PresenterTest, WithoutAWaitableInitStillSucceeds) {
    Reshape({.failing = {{DisplayCall::Waitable, kNvError}}});
    NvapiD3d12Presenter p(PresenterConfig{});
    bool ok = false;
    const Printed printed = InitCaptured(p, ok);
    EXPECT_TRUE(ok);
    std::vector<std::string> expected = HealthyInitLines();
    expected.back() = "GetPresentWaitableObject = 0xffffffff";
    EXPECT_EQ(printed.out, expected);
}

struct FailedCheck {
    const char* name;
    DisplayCall call;
    const char* text;
    size_t linesBefore;  // of the healthy output
    bool acquired;       // the display is held when the check fails
};

void PrintTo(const FailedCheck& c, std::ostream* os) {
    *os << c.name;
}

class PresenterCheckTest : public PresenterTest, public testing::WithParamInterface<FailedCheck> {};

TEST_P(PresenterCheckTest, AFailedCallPrintsItsTextStatusAndLine) {
    const FailedCheck& c = GetParam();
    Reshape({.failing = {{c.call, kNvInvalidArgument}}});
    {
        NvapiD3d12Presenter p(PresenterConfig{});
        bool ok = true;
        const Printed printed = InitCaptured(p, ok);
        EXPECT_FALSE(ok);
        EXPECT_EQ(printed.out, Prefix(HealthyInitLines(), c.linesBefore));
        ASSERT_EQ(printed.err.size(), 1u);
        ExpectCheckLine(printed.err[0], c.text, "0xfffffffb");
        EXPECT_EQ(display->State().acquired, c.acquired);
    }
    EXPECT_FALSE(display->State().acquired);
    EXPECT_EQ(display->State().releases, c.acquired ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, PresenterCheckTest,
    testing::Values(
        FailedCheck{"Initialize", DisplayCall::Initialize, "NvAPI_Initialize()", 0, false},
        FailedCheck{"EnumerateList", DisplayCall::EnumerateList,
                    "NvAPI_DISP_EnumerateDirectModeDisplays( kVendorId, &numDisplays, "
                    "displays.data(), NV_ENUM_DIRECTMODE_DISPLAY_ENABLED)",
                    1, false},
        FailedCheck{"ModesCount", DisplayCall::ModesCount,
                    "NvAPI_D3D_DirectModeGetDisplayModes( &im.display, &modeCount, nullptr, "
                    "NV_DIRECTMODE_GETMODES_FLAG_SUPPORTED)",
                    2, false},
        FailedCheck{"ModesList", DisplayCall::ModesList,
                    "NvAPI_D3D_DirectModeGetDisplayModes( &im.display, &modeCount, "
                    "modes.data(), NV_DIRECTMODE_GETMODES_FLAG_SUPPORTED)",
                    2, false},
        FailedCheck{"PhysicalGpu", DisplayCall::PhysicalGpu,
                    "NvAPI_SYS_GetPhysicalGpuFromDisplayId(im.display.displayId, &gpu)", 10, false},
        FailedCheck{"Adapter", DisplayCall::Adapter,
                    "NvAPI_D3D_GetIDXGIAdapter(gpu, adapter.GetAddressOf())", 10, false},
        FailedCheck{"CreateSurface", DisplayCall::CreateSurface,
                    "NvAPI_D3D_DirectModeCreateSurface(&im.display, &im.mode, &im.surf[i], "
                    "&shared[i])",
                    11, true}),
    [](const testing::TestParamInfo<FailedCheck>& info) { return std::string(info.param.name); });

// The adapter of a GPU the software device cannot be created on.
class ForeignAdapter final : public IDXGIAdapter {
  public:
    HRESULT QueryInterface(const IID&, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG left = --refs_;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HRESULT GetDesc(DXGI_ADAPTER_DESC*) override { return E_NOTIMPL; }

  private:
    ULONG refs_ = 1;
};

class ForeignGpuDisplay : public VirtualDisplay {
  public:
    NvStatus GetAdapter(PhysicalGpu, IDXGIAdapter** adapter) override {
        *adapter = new ForeignAdapter;
        return kNvOk;
    }
};

// Hands out a shared handle that names no surface.
class BrokenSharingDisplay : public VirtualDisplay {
  public:
    NvStatus CreateSurface(const DirectModeDisplay* display, const DirectModeMode* mode,
                           DirectModeSurface* surface, HANDLE* shared) override {
        const NvStatus status = VirtualDisplay::CreateSurface(display, mode, surface, shared);
        *shared = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(4));
        return status;
    }
};

TEST(PresenterDeviceCheck, AFailedDirect3DCallPrintsItsTextHresultAndLine) {
    {
        ForeignGpuDisplay foreign;
        InstallDirectMode(&foreign);
        NvapiD3d12Presenter p(PresenterConfig{});
        bool ok = true;
        const Printed printed = CaptureOutput([&] { ok = p.Init(); });
        EXPECT_FALSE(ok);
        ASSERT_EQ(printed.err.size(), 1u);
        ExpectCheckLine(printed.err[0],
                        "D3D12CreateDevice(adapter.Get(), D3D_FEATURE_LEVEL_11_0, "
                        "IID_PPV_ARGS(&im.dev))",
                        "0x80070057");
    }
    {
        BrokenSharingDisplay broken;
        InstallDirectMode(&broken);
        {
            NvapiD3d12Presenter p(PresenterConfig{});
            bool ok = true;
            const Printed printed = CaptureOutput([&] { ok = p.Init(); });
            EXPECT_FALSE(ok);
            EXPECT_EQ(printed.out, Prefix(HealthyInitLines(), 11));
            ASSERT_EQ(printed.err.size(), 1u);
            ExpectCheckLine(printed.err[0],
                            "im.dev->OpenSharedHandle(shared[i], IID_PPV_ARGS(&im.res[i]))",
                            "0x80070057");
        }
        EXPECT_EQ(broken.State().releases, 1u);
    }
    InstallDirectMode(nullptr);
}

TEST_F(PresenterTest, DestroyingAPresenterReleasesTheDisplayButLeavesThePanelsOn) {
    {
        NvapiD3d12Presenter p(PresenterConfig{});
        bool ok = false;
        InitCaptured(p, ok);
        ASSERT_TRUE(ok);
        ASSERT_TRUE(display->State().acquired);
    }
    EXPECT_FALSE(display->State().acquired);
    EXPECT_EQ(display->State().releases, 1u);
    EXPECT_EQ(display->State().power, std::vector<uint32_t>{kDisplayPowerOn});
}

TEST_F(PresenterTest, StatsBeforeRunAreAllZero) {
    NvapiD3d12Presenter p(PresenterConfig{});
    const PresentStats s = p.Stats();
    EXPECT_EQ(s.frames, 0u);
    EXPECT_EQ(s.presentErrors, 0u);
    EXPECT_EQ(s.waitTimeouts, 0u);
    EXPECT_EQ(s.fps, 0.0);
    EXPECT_FALSE(s.freeRunning);
    EXPECT_EQ(s.freeRunEvents, 0u);
    EXPECT_FALSE(s.displayLost);
    EXPECT_EQ(s.maxFrameGapMs, 0.0);
}

}  // namespace
}  // namespace brisk::test
