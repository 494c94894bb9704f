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

#include "app/command_line.h"
#include "app/driver.h"
#include "platform/console.h"
#include "platform/directmode.h"
#include "platform/output.h"
#include "platform/softgpu/softgpu.h"
#include "sim/leak_report.h"
#include "sim/png_file.h"
#include "sim/replay_source.h"
#include "sim/scenario.h"
#include "sim/sim_command_line.h"
#include "sim/virtual_headset.h"

namespace {

constexpr int kExitUsage = 64;
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

// The tool reads its own arguments; this only peeks at the display kind so
// that brisk-sim can refuse what it cannot simulate before any device starts.
bool ToolWantsExtendedDisplay(const std::vector<std::string>& toolArgs) {
    std::vector<const char*> argv{"brisk"};
    for (const std::string& arg : toolArgs) {
        argv.push_back(arg.c_str());
    }
    const brisk::CommandLine cl =
        brisk::ParseCommandLine(static_cast<int>(argv.size()), argv.data());
    return cl.action == brisk::CommandAction::kRun &&
           cl.settings.display == brisk::DisplayKind::kExtended;
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

    std::shared_ptr<brisk::capture::ReplaySchedule> replay;
    if (!options.replayFile.empty()) {
        replay = std::make_shared<brisk::capture::ReplaySchedule>();
        const brisk::capture::ReplayOptions replayOptions{options.replayImuAddress,
                                                          options.replayMcuAddress};
        if (!LoadReplay(options.replayFile, replayOptions, *replay, error)) {
            brisk::Print(stderr, "brisk-sim: %s\n", error.c_str());
            return kExitUsage;
        }
        if (replay->truncated) {
            brisk::Print(stderr,
                         "brisk-sim: %s: cut off inside a packet; replaying the %zu whole packets "
                         "before it\n",
                         options.replayFile.c_str(), replay->packets);
        }
    }

    auto start = std::chrono::steady_clock::now();
    Capture capture;
    OpenAtExit open;
    int code = 0;
    {
        VirtualHeadset headset;
        const ReplaySetup replaySetup{replay, start};
        if (!headset.Build(scenario, options.scenarioFile, error,
                           replay ? &replaySetup : nullptr)) {
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
