// The present loop against the virtual display, in real time: pacing, the
// ways a run ends, the counters and the printed lines. Margins are wide: these
// run on a loaded two-core machine.
#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "sim/softgpu/softgpu.h"
#include "present_test_support.h"
#include "support/wait_for.h"

namespace brisk::test {
namespace {

using namespace std::chrono_literals;
using sim::Vsync;

// Clears the frame's surface like the painter does, and counts the calls.
struct Painter {
    std::atomic<int> calls{0};
    std::atomic<uint64_t> lastFrame{0};
    DrawCallback Callback() {
        return [this](const FrameContext& fc) {
            const FLOAT color[4] = {0.1f, 0.2f, 0.3f, 1.0f};
            const D3D12_RECT rect = {0, 0, fc.width / 2, fc.height};
            fc.list->ClearRenderTargetView(*fc.rtv, color, 1, &rect);
            lastFrame = fc.frameIndex;
            ++calls;
        };
    }
};

class PresentLoopTest : public PresenterTest {
  protected:
    // Constructs and initialises the presenter (its lines are not kept).
    void Start(PresenterConfig cfg = {}) {
        presenter = std::make_unique<NvapiD3d12Presenter>(cfg);
        bool ok = false;
        InitCaptured(*presenter, ok);
        ASSERT_TRUE(ok);
    }
    Printed RunCaptured(double seconds) {
        return CaptureOutput([&] { presenter->Run(seconds, painter.Callback()); });
    }
    std::optional<PresentResult> Result(const Printed& printed) {
        EXPECT_FALSE(printed.out.empty());
        return printed.out.empty() ? std::nullopt : ParsePresentResult(printed.out.back());
    }

    Painter painter;
    std::unique_ptr<NvapiD3d12Presenter> presenter;
};

TEST_F(PresentLoopTest, TwoSecondsRunAtTheScanOutRate) {
    Start();
    const UINT64 misuseBefore = softgpu::ValidationErrorCount();
    const Printed printed = RunCaptured(2.0);
    ASSERT_EQ(printed.out.size(), 1u);
    const std::optional<PresentResult> r = ParsePresentResult(printed.out[0]);
    ASSERT_TRUE(r) << printed.out[0];
    EXPECT_GE(r->frames, 100u);
    EXPECT_LE(r->frames, 155u);
    EXPECT_GE(r->seconds, 2.0);
    EXPECT_LE(r->seconds, 2.5);
    EXPECT_GE(r->fps, 50.0);
    EXPECT_LE(r->fps, 77.0);
    EXPECT_EQ(r->presentErrors, 0u);
    EXPECT_EQ(r->waitTimeouts, 0u);
    EXPECT_EQ(r->freeRunEvents, 0u);
    EXPECT_TRUE(printed.err.empty());

    EXPECT_EQ(static_cast<long long>(painter.calls), r->frames);
    EXPECT_EQ(display->State().presents, static_cast<uint64_t>(r->frames));
    EXPECT_EQ(softgpu::ValidationErrorCount(), misuseBefore) << softgpu::LastValidationError();

    const PresentStats s = presenter->Stats();
    EXPECT_EQ(s.frames, static_cast<uint64_t>(r->frames));
    EXPECT_FALSE(s.displayLost);
    EXPECT_FALSE(s.freeRunning);
    EXPECT_GT(s.fps, 40.0);
    EXPECT_GT(s.maxFrameGapMs, 5.0);
    EXPECT_LT(s.maxFrameGapMs, 1000.0);
    // The worst interval restarts with each Stats() call; the counters do not.
    const PresentStats again = presenter->Stats();
    EXPECT_EQ(again.frames, s.frames);
    EXPECT_EQ(again.maxFrameGapMs, 0.0);
}

TEST_F(PresentLoopTest, SurfacesAlternateAndThePanelsStayOnByDefault) {
    Start();
    std::vector<uint64_t> indices;
    std::vector<const D3D12_CPU_DESCRIPTOR_HANDLE*> views;
    CaptureOutput([&] {
        presenter->Run(0, [&](const FrameContext& fc) {
            indices.push_back(fc.frameIndex);
            views.push_back(fc.rtv);
            EXPECT_EQ(fc.width, 5088);
            EXPECT_EQ(fc.height, 2544);
            EXPECT_EQ(fc.rtvFormat, DXGI_FORMAT_R8G8B8A8_UNORM);
            if (fc.frameIndex == 3) {
                presenter->RequestStop();
            }
        });
    });
    EXPECT_EQ(indices, (std::vector<uint64_t>{0, 1, 2, 3}));
    ASSERT_EQ(views.size(), 4u);
    EXPECT_NE(views[0], views[1]);
    EXPECT_EQ(views[0], views[2]);
    EXPECT_EQ(views[1], views[3]);
    EXPECT_EQ(display->State().power, std::vector<uint32_t>{kDisplayPowerOn});
}

TEST_F(PresentLoopTest, AStopRequestedBeforeRunPaintsNothingButStillReports) {
    Start();
    presenter->RequestStop();
    const Printed printed = RunCaptured(0);
    EXPECT_EQ(printed.out,
              std::vector<std::string>{"PRESENT RESULT: 0 frames in 0.0s = 0.00 fps avg, "
                                       "presentErrors 0, waitTimeouts 0, freeRunEvents 0"});
    EXPECT_TRUE(printed.err.empty());
    EXPECT_EQ(painter.calls, 0);
    EXPECT_EQ(display->State().presents, 0u);
}

TEST_F(PresentLoopTest, AStopFromInsideDrawEndsTheRunAfterThatFrameIsPresented) {
    PresenterConfig cfg;
    cfg.powerOffOnExit = true;
    Start(cfg);
    const Printed printed = CaptureOutput([&] {
        presenter->Run(-1, [&](const FrameContext& fc) {
            ++painter.calls;
            if (fc.frameIndex == 5) {
                presenter->RequestStop();
            }
        });
    });
    const std::optional<PresentResult> r = Result(printed);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->frames, 6u);
    EXPECT_EQ(painter.calls, 6);
    EXPECT_EQ(display->State().presents, 6u);
    EXPECT_EQ(presenter->Stats().frames, 6u);
    EXPECT_EQ(display->State().power, (std::vector<uint32_t>{kDisplayPowerOn, kDisplayPowerOff}));
}

TEST_F(PresentLoopTest, TheEleventhPresentErrorEndsTheRunWithoutLosingTheDisplay) {
    Start();
    display->FailNextPresents(1000);
    const Printed printed = RunCaptured(0);
    std::vector<std::string> expected;
    for (int frame = 0; frame <= 10; ++frame) {
        expected.push_back("Present12 = 0xffffffff at frame " + std::to_string(frame));
    }
    EXPECT_EQ(printed.err, expected);
    const std::optional<PresentResult> r = Result(printed);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->frames, 10u);
    EXPECT_EQ(r->presentErrors, 11u);
    const PresentStats s = presenter->Stats();
    EXPECT_FALSE(s.displayLost);
    EXPECT_EQ(s.frames, 10u);
    EXPECT_EQ(s.presentErrors, 10u);  // the frame that ended the loop is not published
}

TEST_F(PresentLoopTest, ARemovedDeviceEndsTheRunAsDisplayLost) {
    Start();
    const Printed printed = CaptureOutput([&] {
        presenter->Run(0, [&](const FrameContext& fc) {
            ++painter.calls;
            if (fc.frameIndex == 3) {
                display->RemoveDevice(DXGI_ERROR_DEVICE_HUNG);
            }
        });
    });
    EXPECT_EQ(printed.err, std::vector<std::string>{
                               "Presenter: D3D12 device removed (0x887a0006) — display lost "
                               "(cable pulled?), exiting present loop"});
    const std::optional<PresentResult> r = Result(printed);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->frames, 4u);
    EXPECT_EQ(painter.calls, 4);
    EXPECT_TRUE(presenter->Stats().displayLost);
}

TEST_F(PresentLoopTest, FourSilentSecondsAreCountedAndTheRunGoesOn) {
    Start();
    display->SetVsync(Vsync::Stopped);
    std::thread scanOut([&] {
        // Scan-out comes back during the fifth one-second wait.
        EXPECT_TRUE(WaitFor([&] { return presenter->Stats().waitTimeouts >= 4; }, 20s));
        display->SetVsync(Vsync::Paced);
        EXPECT_TRUE(WaitFor([&] { return presenter->Stats().frames >= 10; }, 20s));
        presenter->RequestStop();
    });
    const Printed printed = RunCaptured(0);
    scanOut.join();
    EXPECT_TRUE(printed.err.empty());
    const std::optional<PresentResult> r = Result(printed);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->waitTimeouts, 4u);
    EXPECT_GE(r->frames, 10u);
    EXPECT_FALSE(presenter->Stats().displayLost);
}

TEST_F(PresentLoopTest, FiveSilentSecondsMeanTheDisplayIsLost) {
    Start();
    display->SetVsync(Vsync::Stopped);
    const Printed printed = RunCaptured(0);
    EXPECT_EQ(printed.err, std::vector<std::string>{
                               "Presenter: present waitable dead for 5s — display lost, exiting "
                               "present loop"});
    const std::optional<PresentResult> r = Result(printed);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->frames, 4u);
    EXPECT_EQ(r->waitTimeouts, 5u);
    EXPECT_GE(r->seconds, 5.0);
    const PresentStats s = presenter->Stats();
    EXPECT_TRUE(s.displayLost);
    EXPECT_EQ(s.waitTimeouts, 4u);
}

TEST_F(PresentLoopTest, LostPacingIsAnnouncedSelfPacedAndItsReturnNoticed) {
    Start();
    display->SetVsync(Vsync::Free);
    std::atomic<uint64_t> selfPacedFrames{0};
    std::atomic<double> selfPacedSeconds{0};
    PresentStats afterSecond;
    std::thread controller([&] {
        if (!WaitFor([&] { return presenter->Stats().freeRunning; }, 10s)) {
            ADD_FAILURE() << "free-run not detected";
            presenter->RequestStop();
            return;
        }
        const uint64_t from = presenter->Stats().frames;
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(1s);
        selfPacedFrames = presenter->Stats().frames - from;
        selfPacedSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        display->SetVsync(Vsync::Paced);
        EXPECT_TRUE(WaitFor([&] { return !presenter->Stats().freeRunning; }, 10s));
        // Lost again soon after: counted, but not announced a second time.
        display->SetVsync(Vsync::Free);
        EXPECT_TRUE(WaitFor([&] { return presenter->Stats().freeRunning; }, 10s));
        afterSecond = presenter->Stats();
        presenter->RequestStop();
    });
    const Printed printed = RunCaptured(0);
    controller.join();
    EXPECT_EQ(printed.err,
              (std::vector<std::string>{"WARNING: present loop free-running (vsync lost — headset "
                                        "doffed?), self-pacing at 75 Hz",
                                        "free-run over: vsync pacing restored"}));
    const double rate = selfPacedFrames / selfPacedSeconds;
    EXPECT_GT(rate, 50.0);
    EXPECT_LT(rate, 90.0);
    EXPECT_EQ(afterSecond.freeRunEvents, 2u);
    const std::optional<PresentResult> r = Result(printed);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->freeRunEvents, 2u);
}

TEST_F(PresentLoopTest, WithoutAWaitableTheLoopPacesItself) {
    Reshape({.failing = {{sim::DisplayCall::Waitable, kNvError}}});
    Start();
    const Printed printed = RunCaptured(1.5);
    EXPECT_EQ(printed.err,
              std::vector<std::string>{"WARNING: present loop free-running (vsync lost — headset "
                                       "doffed?), self-pacing at 75 Hz"});
    const std::optional<PresentResult> r = Result(printed);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->freeRunEvents, 1u);
    EXPECT_GT(r->fps, 50.0);
    EXPECT_LT(r->fps, 120.0);  // 37 unpaced frames at the start
    EXPECT_TRUE(presenter->Stats().freeRunning);
}

TEST_F(PresentLoopTest, NothingLeaksOnceThePresenterAndTheDisplayAreGone) {
    const long objects = softgpu::LiveObjectCount();
    const long handles = softgpu::OpenHandleCount();
    {
        sim::VirtualDisplay local;
        InstallDirectMode(&local);
        NvapiD3d12Presenter p(PresenterConfig{});
        bool ok = false;
        InitCaptured(p, ok);
        ASSERT_TRUE(ok);
        CaptureOutput([&] { p.Run(0.2, painter.Callback()); });
        EXPECT_GT(painter.calls, 0);
        InstallDirectMode(display.get());
    }
    EXPECT_EQ(softgpu::LiveObjectCount(), objects);
    EXPECT_EQ(softgpu::OpenHandleCount(), handles);
}

}  // namespace
}  // namespace brisk::test
