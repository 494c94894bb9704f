// brisk-sim: the tool itself, run against a virtual headset inside the
// process. Its output is the tool's, line for line; its exit code is the
// tool's, except 64 for a mistake in its own options or scenario. With
// --report-leaks it adds one line of its own on stderr after the run.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "run/command_line.h"
#include "app/driver.h"
#include "log/log_rows.h"
#include "platform/console.h"
#include "platform/directmode.h"
#include "base/output.h"
#include "sim/softgpu/softgpu.h"
#include "base/utf8.h"
#include "sim/leak_report.h"
#include "sim/png_file.h"
#include "sim/replay_source.h"
#include "sim/scenario.h"
#include "sim/sim_command_line.h"
#include "sim/virtual_headset.h"

namespace {

using brisk::kExitUsage;  // brisk-sim's usage errors end as brisk's do
// The run ended but its capture could not be written (sysexits' EX_IOERR).
constexpr int kExitCaptureFailed = 74;

// Scenario files are small; anything past this is not one.
constexpr std::streamsize kMaxScenarioBytes = 1 << 20;

bool ReadScenarioFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
    return text.size() <= static_cast<size_t>(kMaxScenarioBytes);
}

// The captured frame, kept until the run is over: writing a PNG inside the
// present loop would stall the panels for a second.
struct CapturedImage {
    bool taken = false;
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
};

struct Capture {
    std::mutex mtx;
    CapturedImage image;
};

// The tool reads its own arguments; brisk-sim only peeks at them, to refuse
// what it cannot simulate and to fill in what a replay needs, before any
// device starts.
brisk::CommandLine ToolCommandLine(const std::vector<std::string>& toolArgs) {
    std::vector<const char*> argv{"brisk"};
    for (const std::string& arg : toolArgs) {
        argv.push_back(arg.c_str());
    }
    return brisk::ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

bool ToolWantsExtendedDisplay(const std::vector<std::string>& toolArgs) {
    const brisk::CommandLine cl = ToolCommandLine(toolArgs);
    return cl.action == brisk::CommandAction::kRun &&
           cl.settings.display == brisk::DisplayKind::kExtended;
}

// How long the run goes on after the capture's last packet when the tool is
// not given SECONDS: the last reports are out and the status line has seen them.
constexpr double kReplayTailSeconds = 0.5;

// Says what brisk-sim made of the capture and fills in for the tool what a
// replay of it needs. Lines on stderr, one for each thing it did.
void PrepareReplayRun(const std::string& file, const brisk::capture::ReplayPlan& plan,
                      std::vector<std::string>& toolArgs, brisk::sim::Scenario& scenario) {
    using brisk::capture::ReplayRole;
    if (plan.truncated) {
        brisk::Print(stderr,
                     "brisk-sim: %s: cut off inside a packet; replaying the %llu whole packets "
                     "before it\n",
                     file.c_str(), static_cast<unsigned long long>(plan.packets));
    }
    const brisk::capture::ReplayDevice& imu = plan.Device(ReplayRole::kImu);
    if (plan.imuFoundByReports) {
        brisk::Print(stderr,
                     "brisk-sim: %s: no Watchman device descriptor; the IMU is USB address %u, "
                     "whose endpoint 0x%02X has %llu IMU reports\n",
                     file.c_str(), static_cast<unsigned>(imu.address),
                     static_cast<unsigned>(plan.options.imuEndpoint),
                     static_cast<unsigned long long>(plan.imuReportsThere));
    }
    const brisk::CommandLine tool = ToolCommandLine(toolArgs);
    if (tool.action != brisk::CommandAction::kRun) {
        return;
    }
    // What the run shows but the capture does not hold is said as inferred,
    // in the run's log, report and summary as here.
    std::vector<std::string> inferred;
    const bool noMcu = !plan.Device(ReplayRole::kMcu).found;
    if (imu.found && imu.serial.empty()) {
        inferred.push_back("USB serial " + brisk::Utf8FromWide(brisk::sim::kDefaultWatchmanSerial) +
                           " chosen by brisk-sim (the capture holds none)");
    }
    if (noMcu) {
        inferred.push_back("no MCU in the capture");
    }
    if (imu.found && noMcu && tool.settings.imuSerial.empty()) {
        // Without the MCU the tool cannot tell which Watchman is the headset's.
        const std::wstring wide(imu.serial.begin(), imu.serial.end());
        const std::string serial =
            brisk::Utf8FromWide(wide.empty() ? brisk::sim::kDefaultWatchmanSerial : wide);
        toolArgs.push_back("--imu-serial");
        toolArgs.push_back(serial);
        brisk::Print(stderr,
                     "brisk-sim: %s: the capture has no MCU; the tool is told --imu-serial %s%s\n",
                     file.c_str(), serial.c_str(),
                     wide.empty() ? ", a serial brisk-sim chose (the capture holds none)" : "");
    }
    brisk::SetRunInferences(std::move(inferred));
    if (tool.settings.runSeconds <= 0.0) {
        brisk::sim::ScenarioAction stop;
        stop.seconds = static_cast<double>(plan.lastMicros) / 1e6 + kReplayTailSeconds;
        stop.kind = brisk::sim::ActionKind::ToolStop;
        scenario.actions.push_back(stop);
        brisk::Print(stderr,
                     "brisk-sim: %s: %.1f s of capture; the run ends %.1f s after its last packet "
                     "(give the tool SECONDS to choose)\n",
                     file.c_str(), static_cast<double>(plan.lastMicros) / 1e6, kReplayTailSeconds);
    }
}

// brisk-sim's own part of its command line, for the run log: which scenario
// or which capture the tool ran on.
std::string LaunchedBy(const brisk::sim::SimOptions& o) {
    std::string text = "brisk-sim";
    if (!o.scenarioFile.empty()) {
        text += " --scenario " + o.scenarioFile;
    }
    if (!o.replayFile.empty()) {
        text += " --replay " + o.replayFile;
        if (o.replayImuAddress > 0) {
            text += " --replay-imu " + std::to_string(o.replayImuAddress);
        }
        if (o.replayMcuAddress > 0) {
            text += " --replay-mcu " + std::to_string(o.replayMcuAddress);
        }
    }
    if (o.capture) {
        text += " --capture " + std::to_string(o.captureFrame) + " " + o.capturePng;
    }
    return text;
}

// Input on the IMU's endpoint that the tool was given and is no IMU report.
void ReportForeignInput(const std::string& file, const brisk::capture::ForeignInput& foreign) {
    if (foreign.count == 0) {
        return;
    }
    brisk::Print(stderr,
                 "brisk-sim: %s: %llu input report(s) on the IMU's endpoint were not IMU reports "
                 "(the first: ID 0x%02X, %u bytes, at %.3f s); the tool was given them as they "
                 "were\n",
                 file.c_str(), static_cast<unsigned long long>(foreign.count),
                 static_cast<unsigned>(foreign.firstId), foreign.firstLength,
                 static_cast<double>(foreign.firstMicros) / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace brisk::sim;
    SimOptions options;
    std::string error;
    if (!ParseSimCommandLine(argc, argv, options, error)) {
        brisk::Print(stderr, "brisk-sim: %s\n", error.c_str());
        return kExitUsage;
    }
    if (options.help || options.version) {
        if (options.help) {
            brisk::PrintText(stdout, SimUsageText());
        } else {
            brisk::Print(stdout, "brisk-sim %s\n", brisk::ToolVersion());
        }
        return 0;
    }
    // A desktop output is driven by the system's Direct3D 12 (Windows only),
    // with the virtual headset's sensors; the software GPU and its frame
    // capture are not in that path.
    const bool desktopOutput = ToolWantsExtendedDisplay(options.toolArgs);
#if !defined(_WIN32)
    if (desktopOutput) {
        brisk::Print(stderr,
                     "brisk-sim: --display extended: the desktop output path is Windows only\n");
        return kExitUsage;
    }
#endif
    if (desktopOutput && options.capture) {
        brisk::Print(stderr,
                     "brisk-sim: --capture: frames on a desktop output are not captured; take a "
                     "screenshot of the output instead\n");
        return kExitUsage;
    }

    Scenario scenario;
    if (!options.scenarioFile.empty()) {
        std::string text;
        if (!ReadScenarioFile(options.scenarioFile, text)) {
            brisk::Print(stderr, "brisk-sim: cannot read scenario %s\n",
                         options.scenarioFile.c_str());
            return kExitUsage;
        }
        if (!ParseScenario(text, options.scenarioFile, scenario, error)) {
            brisk::Print(stderr, "brisk-sim: %s\n", error.c_str());
            return kExitUsage;
        }
    }

    if (options.capture && !CanCreateFile(options.capturePng, error)) {
        brisk::Print(stderr, "brisk-sim: --capture: cannot create %s: %s\n",
                     options.capturePng.c_str(), error.c_str());
        return kExitUsage;
    }

    brisk::capture::ReplayPlan replayPlan;
    const bool replaying = !options.replayFile.empty();
    if (replaying) {
        brisk::capture::ReplayOptions replayOptions;
        replayOptions.imuAddress = options.replayImuAddress;
        replayOptions.mcuAddress = options.replayMcuAddress;
        if (!PlanReplay(options.replayFile, replayOptions, replayPlan, error)) {
            brisk::Print(stderr, "brisk-sim: %s\n", error.c_str());
            return kExitUsage;
        }
        PrepareReplayRun(options.replayFile, replayPlan, options.toolArgs, scenario);
    }

    brisk::SetRunLauncher(LaunchedBy(options));
    auto start = std::chrono::steady_clock::now();
    std::shared_ptr<ReplayFeed> replayFeed;
    if (replaying) {
        replayFeed = OpenReplayFeed(options.replayFile, std::move(replayPlan), start, error);
        if (!replayFeed) {
            brisk::Print(stderr, "brisk-sim: %s\n", error.c_str());
            return kExitUsage;
        }
    }
    Capture capture;
    OpenAtExit open;
    int code = 0;
    {
        VirtualHeadset headset;
        const ReplaySetup replaySetup{replayFeed};
        if (!headset.Build(scenario, options.scenarioFile, error,
                           replayFeed ? &replaySetup : nullptr)) {
            brisk::Print(stderr, "brisk-sim: %s\n", error.c_str());
            return kExitUsage;
        }
        if (options.capture) {
            brisk::softgpu::ArmCapture(options.captureFrame,
                                       [&capture](const brisk::softgpu::CapturedFrame& frame) {
                                           std::lock_guard<std::mutex> lock(capture.mtx);
                                           capture.image.taken = true;
                                           capture.image.width = static_cast<int>(frame.width);
                                           capture.image.height = static_cast<int>(frame.height);
                                           capture.image.rgba = frame.rgba;
                                       });
        }

        brisk::InstallDirectMode(&headset.Display());
        headset.StartTimeline(start, [] { brisk::OnConsoleControl(brisk::kCtrlCEvent); });

        std::vector<const char*> toolArgv{argv[0]};
        for (const std::string& arg : options.toolArgs) {
            toolArgv.push_back(arg.c_str());
        }
        const int toolArgc = static_cast<int>(toolArgv.size());
#if defined(_WIN32)
        code = desktopOutput ? brisk::RunBriskOnSystemGpu(toolArgc, toolArgv.data(), headset.Bus())
                             : brisk::RunBrisk(toolArgc, toolArgv.data(), headset.Bus());
#else
        code = brisk::RunBrisk(toolArgc, toolArgv.data(), headset.Bus());
#endif

        headset.StopTimeline();
        if (replayFeed) {
            ReportForeignInput(options.replayFile, replayFeed->ForeignDelivered());
        }
        brisk::InstallDirectMode(nullptr);
        // The tool's devices are all closed by now; what the bus still counts
        // was leaked.
        open.handles = headset.Bus().OpenHandles();
        open.events = headset.Bus().OpenEvents();
        open.badCloses = headset.Bus().BadCloses();
    }  // the display closes its surfaces and its waitable here

    if (options.capture) {
        brisk::softgpu::DisarmCapture();
        // Take the frame out under the lock; the slow PNG write and the
        // messages happen after it is released.
        CapturedImage taken;
        {
            std::lock_guard<std::mutex> lock(capture.mtx);
            taken = std::move(capture.image);
        }
        if (!taken.taken) {
            brisk::Print(stderr, "brisk-sim: frame %llu was never drawn; no capture written\n",
                         static_cast<unsigned long long>(options.captureFrame));
        } else if (!WriteRgbaPng(options.capturePng, taken.width, taken.height, taken.rgba.data(),
                                 &error)) {
            brisk::Print(stderr, "brisk-sim: cannot write %s: %s\n", options.capturePng.c_str(),
                         error.c_str());
            // The run's own result stands when it already failed.
            code = code != 0 ? code : kExitCaptureFailed;
        }
    }
    if (options.reportLeaks) {
        // Counted only now: the presenter and the display each held GPU objects.
        open.gpuObjects = brisk::softgpu::LiveObjectCount();
        open.gpuHandles = brisk::softgpu::OpenHandleCount();
        brisk::Print(stderr, "brisk-sim: %s\n", FormatOpenAtExit(open).c_str());
    }
    return code;
}
