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
#include "imu/watchman_light.h"
#include "log/optical_text.h"
#include "app/run_record.h"
#include "platform/console.h"
#include "base/output.h"
#include "present/nvapi_d3d12_presenter.h"
#if defined(BRISK_SYSTEM_GPU_DRIVER)
#include "present/desktop_presenter.h"
#endif
#include "prox/mcu_prox.h"
#include "app/station_profile.h"

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

// The IMU's totals (and, with --imu-health, its health line) once the
// readers have stopped.
void EndImu(const TundraImu& imu, const RunSettings& settings, PartsAtEnd& parts) {
    parts.imu = imu.Stats();
    parts.health = imu.Health();
    PrintImuResult(parts.imu);
    if (settings.imuHealth) {
        PrintText(stdout, FormatHealthLine(parts.health));
    }
}

// The Watchman's light (--optical): read beside the IMU once its identity
// (the factory configuration the judging needs) has been read.
struct Light {
    std::unique_ptr<WatchmanLight> reader;
    std::shared_ptr<const identity::WatchmanConfig> config;

    void Start(HidHost& host, const RunSettings& settings, TundraImu& imu) {
        if (settings.optical == OpticalMode::kOff) {
            return;
        }
        config = imu.Identity().identity.config;
        reader = std::make_unique<WatchmanLight>(host, settings.lightGeneration, imu);
        reader->SetConfig(config);
        if (!reader->Start(imu.ChosenSerial())) {
            reader.reset();
        }
    }
    uint32_t Photodiodes() const {
        return config != nullptr ? static_cast<uint32_t>(config->Photodiodes()) : 0;
    }
    void Stop() {
        if (reader != nullptr) {
            reader->Stop();
        }
    }
    // After Stop: the OPTICAL RESULT block, and the findings for the verdict.
    void End(const RunSettings& settings, PartsAtEnd& parts) const {
        if (settings.optical == OpticalMode::kOff) {
            return;
        }
        parts.opticalRead = reader != nullptr;
        if (reader != nullptr && config != nullptr) {
            parts.optical = optical::JudgeOptical(reader->Run(), *config);
            parts.opticalConfig = config;
            parts.optical.missing =
                optical::MissingStations(settings.expectedStations, parts.optical.stations);
            PublishPhotodiodes(parts.optical);
            parts.lightStalls = reader->Figures().stalls;
        } else if (reader != nullptr) {
            parts.lightStalls = reader->Figures().stalls;
        }
        PrintText(stdout, FormatOpticalResult(parts.optical, config != nullptr));
    }
};

// The IMU stream and the proximity sensor, started in their order: the IMU
// first (without it there is no run), its start-up rate reported, then the
// proximity sensor (optional).
struct Sensors {
    Sensors(HidHost& host, const RunSettings& settings, const identity::StationExpectations& expect)
        : host(host),
          imu(host, settings.countsPerG,
              IdentityOptions{settings.identity, expect, !settings.imuSerial.empty(),
                              settings.countsPerGGiven ? settings.countsPerG : 0.0}),
          prox(host) {}
    HidHost& host;
    TundraImu imu;
    McuProx prox;
    Light light;
    bool haveProx = false;

    // What they measured, once both have stopped.
    PartsAtEnd AtEnd() const {
        PartsAtEnd parts;
        parts.imuTried = true;
        parts.imuStarted = true;
        parts.mcuTried = true;
        parts.mcuStarted = haveProx;
        parts.mcuWorn = prox.IsWorn();
        parts.mcuDistance = prox.Distance();
        parts.watchman = imu.Identity();
        parts.identityRead = parts.watchman.reads > 0;
        return parts;
    }
};

bool StartSensors(Sensors& sensors, const RunSettings& settings, RunRecord& record) {
    if (!sensors.imu.Start(settings.imuSerial)) {
        return false;
    }
    record.ImuStarted(sensors.imu.ChosenSerial());
    sensors.light.Start(sensors.host, settings, sensors.imu);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ReportImuStartup(sensors.imu);
    sensors.haveProx = sensors.prox.Start(50);
    if (sensors.haveProx) {
        record.McuStarted();
    }
    return true;
}

// A run whose IMU stream did not start: nothing else was tried.
int EndImuFailed(RunRecord& record) {
    PartsAtEnd parts;
    parts.imuTried = true;
    return record.End(RunEnd::kImuFailed, parts);
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
int RunSensorsOnly(const RunSettings& settings, const identity::StationExpectations& expect,
                   HidHost& host, RunRecord& record) {
    Sensors sensors(host, settings, expect);
    if (!StartSensors(sensors, settings, record)) {
        return EndImuFailed(record);
    }

    std::thread status(StatusMonitor, std::cref(sensors.haveProx), std::ref(sensors.prox),
                       std::ref(sensors.imu), static_cast<PresentBackend*>(nullptr), record.Log(),
                       sensors.light.reader.get(), sensors.light.Photodiodes());
    WaitForStopOrTime(settings.runSeconds);
    stopRequested.store(true);
    status.join();
    sensors.light.Stop();
    sensors.prox.Stop();
    sensors.imu.Stop();

    PartsAtEnd parts = sensors.AtEnd();
    EndImu(sensors.imu, settings, parts);
    sensors.light.End(settings, parts);
    return record.End(RunEnd::kVerdict, parts);
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

// The platform named when a sensors-only build refuses a display.
#if defined(__linux__)
constexpr const char* kSensorsOnlyPlatform = "Linux";
#else
constexpr const char* kSensorsOnlyPlatform = "this platform";
#endif

// From the IMU stream's start to the verdict. The device objects are locals
// so that every early return destroys them in reverse order.
int RunDevices(const RunSettings& settings, const identity::StationExpectations& expect,
               HidHost& host, RunRecord& record) {
    if (settings.display == DisplayKind::kNone) {
        return RunSensorsOnly(settings, expect, host, record);
    }
#if !defined(BRISK_SYSTEM_GPU_DRIVER)
    // The driver is compiled twice: once against the simulator's software
    // GPU (this copy) and once against the system's Direct3D 12. Only the
    // system copy can show a window on a desktop output, so this copy refuses
    // --display extended. (brisk-sim on Windows hands such a run to the
    // system copy, RunBriskOnSystemGpu.)
    if (settings.display == DisplayKind::kExtended) {
        Print(stderr,
              "brisk: --display extended: this build has no desktop output path — use "
              "--display directmode or none\n");
        PartsAtEnd parts;
        parts.displayTried = true;
        return record.End(RunEnd::kInitFailed, parts);
    }
#endif
    Sensors sensors(host, settings, expect);
    if (!StartSensors(sensors, settings, record)) {
        return EndImuFailed(record);
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
        sensors.light.Stop();
        prox.Stop();
        imu.Stop();
        PartsAtEnd parts = sensors.AtEnd();
        parts.imu = imu.Stats();
        parts.health = imu.Health();
        parts.displayTried = true;
        return record.End(RunEnd::kInitFailed, parts);
    }
    PresentBackend& backend = *presenter;

    std::thread status(StatusMonitor, std::cref(haveProx), std::ref(prox), std::ref(imu), &backend,
                       record.Log(), sensors.light.reader.get(), sensors.light.Photodiodes());
    {
        DrawCallback draw = [&](const FrameContext& ctx) {
            DrawFrame(ctx, imu);
            // Ctrl+C (or a time limit) reaches the present loop here and
            // nowhere else: the loop checks for a stop between frames, so the
            // frame being painted is finished and presented before it ends.
            if (stopRequested.load()) {
                backend.RequestStop();
            }
        };
        backend.Run(settings.runSeconds, draw);
    }

    stopRequested.store(true);
    status.join();
    sensors.light.Stop();
    prox.Stop();
    imu.Stop();

    PresentStats ps = backend.Stats();
    PartsAtEnd parts = sensors.AtEnd();
    EndImu(imu, settings, parts);
    sensors.light.End(settings, parts);
    parts.displayTried = true;
    parts.present = &ps;
    return record.End(RunEnd::kVerdict, parts);
}

}  // namespace

int RunBrisk(int argc, const char* const* argv, HidHost& host, DisplayPaths paths) {
    const bool sensorsOnly = paths == DisplayPaths::kSensorsOnly;
    const auto started = std::chrono::steady_clock::now();
    MakeConsoleUnbuffered();
    const CommandLine cl =
        ParseCommandLine(argc, argv, sensorsOnly ? DisplayKind::kNone : DisplayKind::kDirectMode);
    switch (cl.action) {
        case CommandAction::kHelp:
            PrintText(stdout,
                      UsageText(sensorsOnly ? DisplayKind::kNone : DisplayKind::kDirectMode));
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
    if (sensorsOnly && cl.settings.display != DisplayKind::kNone) {
        Print(stderr, "brisk: --display %s: only --display none on %s\n",
              DisplayKindText(cl.settings).c_str(), kSensorsOnlyPlatform);
        return kExitUsage;
    }
    // A station profile that cannot be read is a mistake on the command line.
    identity::StationExpectations expect;
    {
        std::string error;
        if (!LoadStationExpectations(cl.settings, expect, error)) {
            Print(stderr, "brisk: %s\n", error.c_str());
            return kExitUsage;
        }
    }
    // /metrics listens before any device is touched: an address it cannot
    // have is a mistake on the command line, like a log it cannot write.
    MetricsExporter metrics;
    if (!metrics.Start(cl.settings, argc, argv)) {
        return kExitUsage;
    }
    // The log, the summary file and the recording are created before any
    // device is touched: a path that cannot be written is a mistake on the
    // command line.
    RunRecord record(cl.settings, argc, argv, started);
    if (!record.Open()) {
        return kExitUsage;
    }
    metrics.Follow(record);
    // The recording wraps the host: the devices' code never knows about it.
    capture::CaptureRecorder recorder;
    capture::RecordingHidHost recording(host, recorder);
    const bool recordHid = !cl.settings.recordFile.empty();
    if (recordHid) {
        std::string error;
        if (!recorder.Create(cl.settings.recordFile, error)) {
            Print(stderr, "brisk: --record: cannot create %s: %s\n", cl.settings.recordFile.c_str(),
                  error.c_str());
            return kExitUsage;
        }
        recorder.Start();
    }
    InstallConsoleHandler(OnConsoleControl);
    int code = RunDevices(cl.settings, expect, recordHid ? static_cast<HidHost&>(recording) : host,
                          record);
    // The recorder's writer is the last thread that may print: it ends
    // before the log stops listening (lines after the summary are not logged).
    recorder.Stop();
    record.Close();
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
