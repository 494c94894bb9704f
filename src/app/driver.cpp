#include "app/driver.h"

#include <chrono>
#include <memory>
#include <thread>

#include "app/command_line.h"
#include "app/frame_painter.h"
#include "app/status_monitor.h"
#include "imu/tundra_imu.h"
#include "platform/console.h"
#include "platform/output.h"
#include "present/nvapi_d3d12_presenter.h"
#include "prox/mcu_prox.h"

namespace brisk {

std::atomic<bool> stopRequested{false};

bool OnConsoleControl(unsigned long eventType) {
    if (eventType == kCtrlCEvent || eventType == kCtrlBreakEvent || eventType == kCtrlCloseEvent) {
        stopRequested.store(true);
        return true;
    }
    return false;
}

namespace {

// The rate over the start-up wait, or the warning that the IMU says nothing.
void ReportImuStartup(TundraImu& imu) {
    ImuStats is = imu.Stats();
    if (is.samples > 0) {
        ImuSample s;
        imu.Latest(s);
        Print(stdout, "IMU stream up: %.0f Hz, accel=(%d,%d,%d) gyro=(%d,%d,%d)\n",
              static_cast<double>(is.samples) / 1.5, s.accel[0], s.accel[1], s.accel[2], s.gyro[0],
              s.gyro[1], s.gyro[2]);
    } else {
        Print(
            stderr,
            "WARNING: Veduri enumerated but 0 samples in 1.5 s (%llu read timeouts) — asleep after a SteamVR exit? Continuing; needle will stay dead.\n",
            static_cast<unsigned long long>(is.stalls));
    }
}

int Verdict(const ImuStats& is, const PresentStats& ps) {
    if (ps.displayLost) {
        Print(stdout,
              "VERDICT: DISPLAY LOST (cable pulled?) — exited cleanly; restart after reconnect\n");
        return kExitDisplayLost;
    }
    bool pass = ps.frames > 0 && ps.presentErrors == 0 && is.samples > 0;
    Print(stdout, "VERDICT: %s\n", pass ? "PASS (eyeball check still required)" : "FAIL");
    return kExitVerdict;
}

// From the IMU stream's start to the verdict. The device objects are locals
// so that every early return destroys them in reverse order.
int RunDevices(const RunSettings& settings, HidHost& host) {
    TundraImu imu(host);
    if (!imu.Start(settings.imuSerial)) {
        return kExitImuFailed;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ReportImuStartup(imu);

    McuProx prox(host);
    bool haveProx = prox.Start(50);

    PresenterConfig cfg;
    NvapiD3d12Presenter presenter(cfg);
    if (!presenter.Init()) {
        return kExitInitFailed;
    }
    PresentBackend& backend = presenter;

    std::thread status(StatusMonitor, std::cref(haveProx), std::ref(prox), std::ref(imu),
                       std::ref(backend));
    {
        DrawCallback draw = [&](const FrameContext& ctx) {
            DrawFrame(ctx, imu);
            // The only road by which a console stop reaches the present loop:
            // the frame is painted in full first.
            if (stopRequested.load()) {
                backend.RequestStop();
            }
        };
        presenter.Run(settings.runSeconds, draw);
    }

    stopRequested.store(true);
    status.join();
    prox.Stop();
    imu.Stop();

    ImuStats is = imu.Stats();
    PresentStats ps = presenter.Stats();
    Print(stdout, "IMU RESULT: %llu samples (%llu reports), %llu seq gaps, %llu stalls\n",
          static_cast<unsigned long long>(is.samples), static_cast<unsigned long long>(is.reports),
          static_cast<unsigned long long>(is.seqGaps), static_cast<unsigned long long>(is.stalls));
    return Verdict(is, ps);
}

}  // namespace

int RunBrisk(int argc, const char* const* argv, HidHost& host) {
    MakeConsoleUnbuffered();
    RunSettings settings = ParseCommandLine(argc, argv);
    InstallConsoleHandler(OnConsoleControl);
    int code = RunDevices(settings, host);
    // Everything is stopped, printed and released: a closing console window
    // may now let the process end.
    ConsoleShutdownDone();
    return code;
}

}  // namespace brisk
