// Not a unit test: a 20 s run of the present loop on the software GPU at the
// virtual display's 75 Hz, reporting CPU use, frame rate and the worst
// frame-start interval. Run it with --gtest_also_run_disabled_tests.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <optional>
#include <thread>

#include "present_test_support.h"

namespace brisk::test {
namespace {

// Eight solid rectangles per frame, as the diagnostic picture has.
void PaintLikeTheDriver(const FrameContext& fc) {
    const FLOAT colors[4][4] = {
        {0.02f, 0.02f, 0.05f, 1}, {0.2f, 0.6f, 0.9f, 1}, {0.1f, 0.1f, 0.1f, 1}, {1, 1, 1, 1}};
    const LONG eye = fc.width / 2;
    const LONG sweep = static_cast<LONG>(fc.seconds * 100) % eye;
    for (LONG left : {LONG{0}, eye}) {
        const D3D12_RECT rects[4] = {
            {left, 0, left + eye, fc.height},
            {left + sweep, 0, left + sweep + 16, fc.height},
            {left + 100, fc.height - 120, left + eye - 100, fc.height - 80},
            {left + eye / 2, fc.height - 130, left + eye / 2 + 8, fc.height - 70}};
        for (int i = 0; i < 4; ++i) {
            fc.list->ClearRenderTargetView(*fc.rtv, colors[i], 1, &rects[i]);
        }
    }
}

TEST_F(PresenterTest, DISABLED_Soak20Seconds) {
    NvapiD3d12Presenter p(PresenterConfig{});
    bool ok = false;
    InitCaptured(p, ok);
    ASSERT_TRUE(ok);

    std::atomic<bool> done{false};
    double worstGapMs = 0;
    std::thread monitor([&] {
        // Once a second, like the status monitor.
        while (!done) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            worstGapMs = std::max(worstGapMs, p.Stats().maxFrameGapMs);
        }
    });
    const std::clock_t cpu0 = std::clock();
    const auto wall0 = std::chrono::steady_clock::now();
    const Printed printed = CaptureOutput([&] { p.Run(20.0, PaintLikeTheDriver); });
    const double cpu = static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    done = true;
    monitor.join();
    worstGapMs = std::max(worstGapMs, p.Stats().maxFrameGapMs);

    ASSERT_FALSE(printed.out.empty());
    const std::optional<PresentResult> r = ParsePresentResult(printed.out.back());
    ASSERT_TRUE(r) << printed.out.back();
    std::printf("%s\n", printed.out.back().c_str());
    std::printf("process CPU %.3f s over %.2f s wall = %.2f %% of one core\n", cpu, wall,
                100.0 * cpu / wall);
    std::printf("average %.2f fps, worst frame-start interval %.2f ms\n", r->fps, worstGapMs);
}

}  // namespace
}  // namespace brisk::test
