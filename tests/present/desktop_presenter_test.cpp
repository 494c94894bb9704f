// The desktop-output presenter on the system's Direct3D 12. Under Wine the
// one output is the X screen (Xvfb), drawn through vkd3d on Mesa's software
// Vulkan; Xvfb has no vblank, so the loop really free-runs.
#include <gtest/gtest.h>

#include <cwchar>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "platform/gpu.h"
#include "platform/win32/desktop_window.h"
#include "present/desktop_presenter.h"
#include "support/output_capture.h"
#include "support/present_result.h"

namespace brisk {
namespace {

// The size the first output runs at now: a mode it surely lists.
PresenterConfig FirstOutputsOwnSize() {
    PresenterConfig cfg;
    cfg.anyRefresh = true;
    ComPtr<IDXGIFactory2> factory;
    ComPtr<IDXGIAdapter1> adapter;
    ComPtr<IDXGIOutput> output;
    DXGI_OUTPUT_DESC desc = {};
    if (CreateDXGIFactory2(0, IID_PPV_ARGS(&factory)) >= 0 &&
        factory->EnumAdapters1(0, &adapter) >= 0 && adapter->EnumOutputs(0, &output) >= 0 &&
        output->GetDesc(&desc) >= 0) {
        const RECT& r = desc.DesktopCoordinates;
        cfg.width = static_cast<uint32_t>(r.right - r.left);
        cfg.height = static_cast<uint32_t>(r.bottom - r.top);
    }
    return cfg;
}

// Whether this process still has a window of the presenter's class. Other
// processes in the same Wine prefix (brisk.exe in another test) may have one.
bool OwnDesktopWindowLeft() {
    bool found = false;
    EnumWindows(
        [](HWND hwnd, LPARAM out) -> BOOL {
            DWORD pid = 0;
            GetWindowThreadProcessId(hwnd, &pid);
            wchar_t cls[64] = {};
            if (pid == GetCurrentProcessId() && GetClassNameW(hwnd, cls, 64) > 0 &&
                wcscmp(cls, kDesktopWindowClass) == 0) {
                *reinterpret_cast<bool*>(out) = true;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

bool Matches(const std::string& line, const std::string& pattern) {
    return std::regex_match(line, std::regex(pattern));
}

// The left half one colour, the right half another: a screenshot taken
// during the run shows whether the frames land where they are drawn.
void DrawHalves(const FrameContext& fc) {
    static constexpr float kLeft[4] = {0.9f, 0.1f, 0.1f, 1.0f};
    static constexpr float kRight[4] = {0.1f, 0.1f, 0.9f, 1.0f};
    const D3D12_RECT left = {0, 0, fc.width / 2, fc.height};
    const D3D12_RECT right = {fc.width / 2, 0, fc.width, fc.height};
    fc.list->ClearRenderTargetView(*fc.rtv, kLeft, 1, &left);
    fc.list->ClearRenderTargetView(*fc.rtv, kRight, 1, &right);
}

struct RunOutcome {
    test::Printed init;
    test::Printed run;
    PresentStats stats;
};

std::optional<RunOutcome> InitAndRun(const PresenterConfig& cfg, double seconds) {
    RunOutcome o;
    DesktopD3d12Presenter p(cfg, -1);
    bool ok = false;
    o.init = test::CaptureOutput([&] { ok = p.Init(); });
    if (!ok) {
        return std::nullopt;
    }
    o.run = test::CaptureOutput([&] { p.Run(seconds, DrawHalves); });
    o.stats = p.Stats();
    return o;
}

TEST(DesktopPresenter, RunsOnAnOutputAtItsOwnSizeAndTakesItsWindowAway) {
    const PresenterConfig cfg = FirstOutputsOwnSize();
    ASSERT_GT(cfg.width, 0u) << "no desktop output to present to";
    const std::string size = std::to_string(cfg.width) + "x" + std::to_string(cfg.height);

    const std::optional<RunOutcome> first = InitAndRun(cfg, 2.0);
    ASSERT_TRUE(first.has_value());
    const std::vector<std::string>& out = first->init.out;
    EXPECT_TRUE(first->init.err.empty());
    ASSERT_EQ(out.size(), 9u);
    EXPECT_TRUE(Matches(out[0], R"(output\[0\]: \\\\\.\\DISPLAY\d+ )" + size +
                                    R"( at \(0,0\) on .+ — mode )" + size +
                                    R"(( @ \d+\.\d{3} Hz available| available, rate not listed))"))
        << out[0];
    EXPECT_TRUE(Matches(out[1], R"(using output\[0\] \\\\\.\\DISPLAY\d+: )" + size +
                                    R"(( @ |, rate not listed — pacing for )\d+\.\d{3} Hz)"))
        << out[1];
    EXPECT_TRUE(Matches(
        out[2], R"(output\[0\] already at )" + size + R"(( @ \d+ Hz| at its default rate))"))
        << out[2];
    EXPECT_EQ(out[3], "D3D12CreateDevice = 0x0");
    EXPECT_EQ(out[4], "window: " + size + " at (0,0), borderless, topmost");
    EXPECT_EQ(out[5], "CreateSwapChainForHwnd = 0x0");
    EXPECT_EQ(out[6], "SetMaximumFrameLatency(1) = 0x0");
    EXPECT_EQ(out[7], "GetFrameLatencyWaitableObject = 0x0");
    EXPECT_EQ(out[8], "swap chain: " + size + " format=28, 2 buffers, flip-discard");

    // The loop's own lines: its totals, and at most the free-run warnings
    // that a screen without vblank earns.
    ASSERT_EQ(first->run.out.size(), 1u);
    const std::optional<test::PresentResult> result = test::ParsePresentResult(first->run.out[0]);
    ASSERT_TRUE(result.has_value()) << first->run.out[0];
    EXPECT_GT(result->frames, 0);
    EXPECT_EQ(result->presentErrors, 0);
    EXPECT_EQ(result->waitTimeouts, 0);
    for (const std::string& line : first->run.err) {
        EXPECT_TRUE(Matches(line, "WARNING: present loop free-running.*|free-run over.*")) << line;
    }
    EXPECT_EQ(static_cast<long long>(first->stats.frames), result->frames);
    EXPECT_FALSE(first->stats.displayLost);
    EXPECT_FALSE(OwnDesktopWindowLeft());

    // The first one gave its window class back: a second one registers it
    // again, and runs.
    const std::optional<RunOutcome> second = InitAndRun(cfg, 0.3);
    ASSERT_TRUE(second.has_value());
    EXPECT_GT(second->stats.frames, 0u);
    EXPECT_FALSE(OwnDesktopWindowLeft());
}

// Init fails on its picking step, after the listing and before any device or
// window, and says why.
TEST(DesktopPresenter, NoSuchOutputOrModeFailsInitWithItsLine) {
    struct Case {
        uint32_t width;
        uint32_t height;
        bool anyRefresh;
        int outputIndex;
        std::string listed;  // what the output's line says of the mode
        std::string failure;
    };
    const PresenterConfig own = FirstOutputsOwnSize();
    const std::string size = std::to_string(own.width) + "x" + std::to_string(own.height);
    const std::vector<Case> cases = {
        {own.width, own.height, true, 99, "mode " + size + R"(( @ \d+\.\d{3} Hz)? available.*)",
         R"(Presenter: there is no output\[99\] — \d+ output\(s\) listed above)"},
        {7, 5, false, -1, R"(no 7x5 @ 75\.000 Hz mode)",
         R"(Presenter: no output has a 7x5 @ 75\.000 Hz mode — refusing to guess \(outputs above\))"},
        {7, 5, true, 0, R"(no 7x5 \(any refresh rate\) mode)",
         R"(Presenter: output\[0\] has no 7x5 \(any refresh rate\) mode — refusing to guess \(outputs above\))"},
    };
    for (const Case& c : cases) {
        PresenterConfig cfg;
        cfg.width = c.width;
        cfg.height = c.height;
        cfg.anyRefresh = c.anyRefresh;
        DesktopD3d12Presenter p(cfg, c.outputIndex);
        bool ok = true;
        const test::Printed printed = test::CaptureOutput([&] { ok = p.Init(); });
        EXPECT_FALSE(ok);
        ASSERT_FALSE(printed.out.empty());
        for (const std::string& line : printed.out) {
            EXPECT_TRUE(Matches(line, R"(output\[\d+\]: .+ — )" + c.listed)) << line;
        }
        ASSERT_EQ(printed.err.size(), 1u);
        EXPECT_TRUE(Matches(printed.err[0], c.failure)) << printed.err[0];
        EXPECT_FALSE(OwnDesktopWindowLeft());
        EXPECT_EQ(p.Stats().frames, 0u);
    }
}

}  // namespace
}  // namespace brisk
