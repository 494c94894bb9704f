// The tool's entry: command line, stop handling, the start-up and shutdown
// order of the IMU stream, the proximity sensor and the presenter, the totals,
// the verdict and the exit code. brisk and brisk-sim both run it; they differ
// only in the HID host and the DirectMode implementation underneath.
#pragma once

#include <atomic>

#include "platform/gpu_flavour.h"
#include "platform/hid.h"

namespace brisk {

// Raised by a console stop request and by the driver once the present loop
// has returned; never lowered.
extern std::atomic<bool> stopRequested;
// Console stop requests so far: one that comes after stopRequested is
// already raised (while /metrics waits for its last scrape) shows here.
extern std::atomic<unsigned> consoleStops;

// Exit codes.
constexpr int kExitVerdict = 0;      // PASS or FAIL was printed
constexpr int kExitFail = 1;         // FAIL was printed, and --fail-exit asked for this
constexpr int kExitImuFailed = 2;    // the IMU stream did not start
constexpr int kExitInitFailed = 3;   // the presenter's Init failed
constexpr int kExitDisplayLost = 4;  // the present loop lost the display
constexpr int kExitUsage = 64;       // a mistake on the command line (sysexits' EX_USAGE)

// The version this build carries, from the project's CMake version.
const char* ToolVersion();

// Ctrl+C, Ctrl+Break and closing the console raise stopRequested and count
// as handled; every other event is passed on.
bool OnConsoleControl(unsigned long eventType);

inline namespace BRISK_GPU_NAMESPACE {

// Which display paths the calling program has. brisk on Linux has none, as
// Linux has neither Direct3D 12 nor DirectMode: it watches the sensors only,
// "--display none" is its default and any other kind a usage error.
enum class DisplayPaths { kAll, kSensorsOnly };

// The whole run on this flavour's GPU; returns the exit code.
int RunBrisk(int argc, const char* const* argv, HidHost& host,
             DisplayPaths paths = DisplayPaths::kAll);

}  // namespace BRISK_GPU_NAMESPACE

// The whole run on the system's Direct3D 12, whichever flavour the caller is
// built for: brisk-sim on Windows takes this road to a desktop output. Only
// in Windows programs linked with the system flavour of the driver.
int RunBriskOnSystemGpu(int argc, const char* const* argv, HidHost& host);

}  // namespace brisk
