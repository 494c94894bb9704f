#include "app/driver.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "run/command_line.h"
#include "app/frame_painter.h"
#include "app/metrics_feed.h"
#include "run/status_line.h"
#include "app/status_monitor.h"
#include "capture/capture_recorder.h"
#include "capture/recording_host.h"
#include "imu/tundra_imu.h"
#include "log/log_writer.h"
#include "platform/console.h"
#include "platform/output.h"
#include "present/nvapi_d3d12_presenter.h"
#if defined(BRISK_SYSTEM_GPU_DRIVER)
#include "present/desktop_presenter.h"
#endif
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
    PrintEvent(
        LineEvent::kImuResult, stdout,
        "IMU RESULT: %llu samples (%llu reports), %llu seq gaps, %llu stalls\n",
        static_cast<unsigned long long>(is.samples), static_cast<unsigned long long>(is.reports),
        static_cast<unsigned long long>(is.seqGaps), static_cast<unsigned long long>(is.stalls));
}

// What the IMU's totals and health say once the readers have stopped; the
// health line and its flags only with --imu-health.
struct ImuEnd {
    ImuStats stats;
    ImuHealthFigures health;
    bool judgeHealth = false;
};

ImuEnd EndImu(const TundraImu& imu, const RunSettings& settings) {
    ImuEnd end{imu.Stats(), imu.Health(), settings.imuHealth};
    PrintImuResult(end.stats);
    if (end.judgeHealth) {
        PrintText(stdout, FormatHealthLine(end.health));
    }
    return end;
}

// The run log's view of the run; all of it idle without --log.
struct RunLogSide {
    LogWriter* log = nullptr;
    RunFacts facts;

    // The run row, once the IMU has chosen its Watchman.
    void Run(const TundraImu& imu) {
        if (log != nullptr) {
            facts.imuSerial = imu.ChosenSerial();
            log->Run(facts);
        }
    }

    // A run that ended before its verdict: IMU FAILED or INIT FAILED. The
    // run row goes first if the IMU never got to it.
    int EndEarly(const char* verdict, int code, const TundraImu* imu) {
        if (log != nullptr) {
            log->Run(facts);
            RunSummary s;
            if (imu != nullptr) {
                AddImu(s, *imu);
            }
            s.verdict = verdict;
            s.exitCode = code;
            log->Summary(s);
        }
        return code;
    }

    static void AddImu(RunSummary& s, const ImuStats& is) {
        s.imuRan = true;
        s.imuSamples = is.samples;
        s.imuReports = is.reports;
        s.imuSeqGaps = is.seqGaps;
        s.imuStalls = is.stalls;
    }

    static void AddImu(RunSummary& s, const TundraImu& imu) {
        AddImu(s, imu.Stats());
        s.haveHealth = true;
        s.health = imu.Health();
    }
};

// The verdict on the totals, printed and logged; `ps` is null in a
// sensors-only run. Returns the exit code.
int Verdict(const ImuEnd& imu, const PresentStats* ps, RunLogSide& logSide) {
    const ImuStats& is = imu.stats;
    RunTotals t;
    t.displayTested = ps != nullptr;
    if (ps != nullptr) {
        t.displayLost = ps->displayLost;
        t.frames = ps->frames;
        t.presentErrors = ps->presentErrors;
    }
    t.imuSamples = is.samples;
    if (imu.judgeHealth) {
        t.imuHealthFlags = HealthFlagText(imu.health);
    }
    const std::string line = FormatVerdictLine(t);
    PrintText(stdout, line, LineEvent::kVerdict);
    PublishTotals(is, ps, VerdictName(t).rfind("PASS", 0) == 0);
    const int code = ps != nullptr && ps->displayLost ? kExitDisplayLost : kExitVerdict;
    if (logSide.log != nullptr) {
        RunSummary s;
        RunLogSide::AddImu(s, is);
        s.haveHealth = true;
        s.health = imu.health;
        if (ps != nullptr) {
            s.presentRan = true;
            s.frames = ps->frames;
            s.presentErrors = ps->presentErrors;
            s.waitTimeouts = ps->waitTimeouts;
            s.freeRunEvents = ps->freeRunEvents;
            s.intervals = SummariseFrameIntervals(ps->frameIntervals, ps->refreshHz);
        }
        s.verdict = VerdictName(t);
        s.exitCode = code;
        s.failReasons = FailReasons(t);
        s.verdictLine = line;
        logSide.log->Summary(s);
    }
    return code;
}

// The IMU stream and the proximity sensor, started in their order: the IMU
// first (without it there is no run), its start-up rate reported, then the
// proximity sensor (optional).
struct Sensors {
    Sensors(HidHost& host, double countsPerG) : imu(host, countsPerG), prox(host) {}
    TundraImu imu;
    McuProx prox;
    bool haveProx = false;
};

bool StartSensors(Sensors& sensors, const RunSettings& settings, RunLogSide& logSide) {
    if (!sensors.imu.Start(settings.imuSerial)) {
        return false;
    }
    logSide.Run(sensors.imu);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ReportImuStartup(sensors.imu);
    sensors.haveProx = sensors.prox.Start(50);
    return true;
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
int RunSensorsOnly(const RunSettings& settings, HidHost& host, RunLogSide& logSide) {
    Sensors sensors(host, settings.countsPerG);
    if (!StartSensors(sensors, settings, logSide)) {
        return logSide.EndEarly("IMU FAILED", kExitImuFailed, nullptr);
    }

    std::thread status(StatusMonitor, std::cref(sensors.haveProx), std::ref(sensors.prox),
                       std::ref(sensors.imu), static_cast<PresentBackend*>(nullptr), logSide.log);
    WaitForStopOrTime(settings.runSeconds);
    stopRequested.store(true);
    status.join();
    sensors.prox.Stop();
    sensors.imu.Stop();

    return Verdict(EndImu(sensors.imu, settings), nullptr, logSide);
}

// DirectMode, or the desktop output where this flavour has one.
std::unique_ptr<PresentBackend> MakePresenter(const RunSettings& settings,
                                              const PresenterConfig& cfg) {
#if defined(BRISK_SYSTEM_GPU_DRIVER)
    if (settings.display == DisplayKind::kExtended) {
        return std::make_unique<DesktopD3d12Presenter>(cfg, settings.extendedOutput);
    }
#else
    (void)settings;
#endif
    return std::make_unique<NvapiD3d12Presenter>(cfg);
}

// The kind as the command line spells it.
std::string DisplayKindText(const RunSettings& settings) {
    switch (settings.display) {
        case DisplayKind::kDirectMode:
            return "directmode";
        case DisplayKind::kExtended:
            return settings.extendedOutput < 0
                       ? "extended"
                       : "extended:" + std::to_string(settings.extendedOutput);
        case DisplayKind::kNone:
            break;
    }
    return "none";
}

// From the IMU stream's start to the verdict. The device objects are locals
// so that every early return destroys them in reverse order.
int RunDevices(const RunSettings& settings, HidHost& host, RunLogSide& logSide) {
    if (settings.display == DisplayKind::kNone) {
        return RunSensorsOnly(settings, host, logSide);
    }
#if !defined(BRISK_SYSTEM_GPU_DRIVER)
    // A desktop output is driven by the system's Direct3D 12 only; brisk-sim
    // on Windows hands such a run to that flavour of the driver.
    if (settings.display == DisplayKind::kExtended) {
        Print(stderr,
              "brisk: --display extended: this build has no desktop output path — use "
              "--display directmode or none\n");
        return logSide.EndEarly("INIT FAILED", kExitInitFailed, nullptr);
    }
#endif
    Sensors sensors(host, settings.countsPerG);
    if (!StartSensors(sensors, settings, logSide)) {
        return logSide.EndEarly("IMU FAILED", kExitImuFailed, nullptr);
    }
    TundraImu& imu = sensors.imu;
    McuProx& prox = sensors.prox;
    const bool& haveProx = sensors.haveProx;

    PresenterConfig cfg;
    cfg.width = settings.mode.width;
    cfg.height = settings.mode.height;
    cfg.refreshHz = settings.mode.refreshHz;
    cfg.anyRefresh = settings.mode.anyRefresh;
    std::unique_ptr<PresentBackend> presenter = MakePresenter(settings, cfg);
    if (!presenter->Init()) {
        // The readers end first, so that nothing they print follows the
        // log's summary.
        prox.Stop();
        imu.Stop();
        return logSide.EndEarly("INIT FAILED", kExitInitFailed, &imu);
    }
    PresentBackend& backend = *presenter;

    std::thread status(StatusMonitor, std::cref(haveProx), std::ref(prox), std::ref(imu), &backend,
                       logSide.log);
    {
        DrawCallback draw = [&](const FrameContext& ctx) {
            DrawFrame(ctx, imu);
            // The only road by which a console stop reaches the present loop:
            // the frame is painted in full first.
            if (stopRequested.load()) {
                backend.RequestStop();
            }
        };
        backend.Run(settings.runSeconds, draw);
    }

    stopRequested.store(true);
    status.join();
    prox.Stop();
    imu.Stop();

    PresentStats ps = backend.Stats();
    const ImuEnd imuEnd = EndImu(imu, settings);
    return Verdict(imuEnd, &ps, logSide);
}

}  // namespace

int RunBrisk(int argc, const char* const* argv, HidHost& host, const char* sensorsOnlyOn) {
    const auto started = std::chrono::steady_clock::now();
    MakeConsoleUnbuffered();
    const CommandLine cl = ParseCommandLine(
        argc, argv, sensorsOnlyOn != nullptr ? DisplayKind::kNone : DisplayKind::kDirectMode);
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
    if (sensorsOnlyOn != nullptr && cl.settings.display != DisplayKind::kNone) {
        Print(stderr, "brisk: --display %s: only --display none on %s\n",
              DisplayKindText(cl.settings).c_str(), sensorsOnlyOn);
        return kExitUsage;
    }
    // /metrics listens before any device is touched: an address it cannot
    // have is a mistake on the command line, like a log it cannot write.
    MetricsExporter metrics;
    if (!metrics.Start(cl.settings, argc, argv)) {
        return kExitUsage;
    }
    // The log file and the recording are created before any device is
    // touched: a path that cannot be written is a mistake on the command line.
    std::unique_ptr<LogWriter> log;
    RunLogSide logSide;
    if (!cl.settings.logPath.empty()) {
        std::string error;
        log = LogWriter::Create(cl.settings.logPath, started, error);
        if (log == nullptr) {
            Print(stderr, "brisk: --log: cannot create %s: %s\n", cl.settings.logPath.c_str(),
                  error.c_str());
            return kExitUsage;
        }
        logSide.log = log.get();
        logSide.facts = MakeRunFacts(cl.settings, argc, argv);
        logSide.facts.version = ToolVersion();
        logSide.facts.station = StationName(cl.settings);
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
    int code = RunDevices(cl.settings, record ? static_cast<HidHost&>(recording) : host, logSide);
    // The recorder's writer is the last thread that may print: it ends
    // before the log stops listening (lines after the summary are not logged).
    recorder.Stop();
    log.reset();
    // Everything is stopped, printed and released: a closing console window
    // may now let the process end.
    ConsoleShutdownDone();
    metrics.Finish(code);  // the last scrape sees the verdict
    return code;
}

}  // namespace BRISK_GPU_NAMESPACE

#if defined(BRISK_SYSTEM_GPU_DRIVER)
int RunBriskOnSystemGpu(int argc, const char* const* argv, HidHost& host) {
    return RunBrisk(argc, argv, host);
}
#endif

}  // namespace brisk
