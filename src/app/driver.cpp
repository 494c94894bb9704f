#include "app/driver.h"

#include <chrono>
#include <memory>
#include <thread>

#include "app/command_line.h"
#include "app/frame_painter.h"
#include "app/status_line.h"
#include "app/status_monitor.h"
#include "capture/capture_recorder.h"
#include "capture/recording_host.h"
#include "imu/tundra_imu.h"
#include "platform/console.h"
#include "platform/output.h"
#include "present/nvapi_d3d12_presenter.h"
#include "prox/mcu_prox.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {
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

void PrintImuResult(const ImuStats& is) {
    Print(stdout, "IMU RESULT: %llu samples (%llu reports), %llu seq gaps, %llu stalls\n",
          static_cast<unsigned long long>(is.samples), static_cast<unsigned long long>(is.reports),
          static_cast<unsigned long long>(is.seqGaps), static_cast<unsigned long long>(is.stalls));
}

int Verdict(const ImuStats& is, const PresentStats& ps) {
    RunTotals t;
    t.displayLost = ps.displayLost;
    t.frames = ps.frames;
    t.presentErrors = ps.presentErrors;
    t.imuSamples = is.samples;
    PrintText(stdout, FormatVerdictLine(t));
    return ps.displayLost ? kExitDisplayLost : kExitVerdict;
}

// Until a stop request or, when runSeconds > 0, until that long has passed.
// Polled: the stop request is an atomic raised from a signal handler.
void WaitForStopOrTime(double runSeconds) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(runSeconds));
    while (!stopRequested.load() && (runSeconds <= 0.0 || Clock::now() < end)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// The IMU stream and the proximity sensor without a display: the status
// lines, the IMU totals and a verdict on the sensors alone.
int RunSensorsOnly(const RunSettings& settings, HidHost& host) {
    TundraImu imu(host);
    if (!imu.Start(settings.imuSerial)) {
        return kExitImuFailed;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ReportImuStartup(imu);

    McuProx prox(host);
    bool haveProx = prox.Start(50);

    std::thread status(StatusMonitor, std::cref(haveProx), std::ref(prox), std::ref(imu),
                       static_cast<PresentBackend*>(nullptr));
    WaitForStopOrTime(settings.runSeconds);
    stopRequested.store(true);
    status.join();
    prox.Stop();
    imu.Stop();

    ImuStats is = imu.Stats();
    PrintImuResult(is);
    RunTotals t;
    t.displayTested = false;
    t.imuSamples = is.samples;
    PrintText(stdout, FormatVerdictLine(t));
    return kExitVerdict;
}

// From the IMU stream's start to the verdict. The device objects are locals
// so that every early return destroys them in reverse order.
int RunDevices(const RunSettings& settings, HidHost& host) {
    if (settings.display == DisplayKind::kNone) {
        return RunSensorsOnly(settings, host);
    }
    // The desktop-output backend is not part of this build yet; until it is,
    // "--display extended" ends here, where its presenter will be created,
    // before any device starts.
    if (settings.display == DisplayKind::kExtended) {
        Print(stderr,
              "brisk: --display extended: this build has no desktop output path yet — use "
              "--display directmode or none\n");
        return kExitInitFailed;
    }

    TundraImu imu(host);
    if (!imu.Start(settings.imuSerial)) {
        return kExitImuFailed;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ReportImuStartup(imu);

    McuProx prox(host);
    bool haveProx = prox.Start(50);

    PresenterConfig cfg;
    cfg.width = settings.mode.width;
    cfg.height = settings.mode.height;
    cfg.refreshHz = settings.mode.refreshHz;
    cfg.anyRefresh = settings.mode.anyRefresh;
    NvapiD3d12Presenter presenter(cfg);
    if (!presenter.Init()) {
        return kExitInitFailed;
    }
    PresentBackend& backend = presenter;

    std::thread status(StatusMonitor, std::cref(haveProx), std::ref(prox), std::ref(imu), &backend);
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
    PrintImuResult(is);
    return Verdict(is, ps);
}

}  // namespace

int RunBrisk(int argc, const char* const* argv, HidHost& host) {
    MakeConsoleUnbuffered();
    const CommandLine cl = ParseCommandLine(argc, argv);
    switch (cl.action) {
        case CommandAction::kHelp:
            PrintText(stdout, UsageText());
            return kExitVerdict;
        case CommandAction::kVersion:
            Print(stdout, "brisk %s\n", ToolVersion());
            return kExitVerdict;
        case CommandAction::kUsageError:
            Print(stderr, "brisk: %s\n", cl.error.c_str());
            return kExitUsage;
        case CommandAction::kRun:
            break;
    }
    // The recording wraps the host: the devices' code never knows about it.
    capture::CaptureRecorder recorder;
    capture::RecordingHidHost recording(host, recorder);
    const bool record = !cl.settings.recordFile.empty();
    if (record) {
        std::string error;
        if (!recorder.Create(cl.settings.recordFile, error)) {
            Print(stderr, "brisk: --record: cannot create %s: %s\n", cl.settings.recordFile.c_str(),
                  error.c_str());
            return kExitUsage;
        }
        recorder.Start();
    }
    InstallConsoleHandler(OnConsoleControl);
    int code = RunDevices(cl.settings, record ? static_cast<HidHost&>(recording) : host);
    recorder.Stop();
    // Everything is stopped, printed and released: a closing console window
    // may now let the process end.
    ConsoleShutdownDone();
    return code;
}

}  // namespace BRISK_GPU_NAMESPACE

#if defined(BRISK_SYSTEM_GPU_DRIVER)
int RunBriskOnSystemGpu(int argc, const char* const* argv, HidHost& host) {
    return RunBrisk(argc, argv, host);
}
#endif

}  // namespace brisk
