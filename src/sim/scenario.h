// brisk-sim's scenario files: one timed action per line,
//   SECONDS DEVICE ACTION [ARGS...]
// '#' starts a comment, blank lines are ignored. Users write these files by
// hand to reproduce field failures, so every mistake is reported with its
// file and line before any device starts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brisk::sim {

// Each device's actions stand together, set-up ones first: the headset
// tells a device's actions apart by their range.
enum class ActionKind {
    WatchmanSerial,  // text
    WatchmanAbsent,
    WatchmanUnplug,
    WatchmanPlug,
    WatchmanSleep,
    WatchmanWake,
    WatchmanRate,        // value[0] samples per second
    WatchmanAccel,       // value[0..2] raw counts
    WatchmanGyro,        // value[0..2] raw counts
    WatchmanAccelNoise,  // number: white noise density, counts/sqrt(Hz)
    WatchmanGyroNoise,   // number: white noise density, counts/sqrt(Hz)
    WatchmanGyroWalk,    // number: bias random walk, counts/sqrt(s)
    WatchmanClock,       // number: clock offset, ppm
    WatchmanStuck,       // value[0]: a WatchmanAxis, or -1 for off
    WatchmanSaturate,    // value[0]: a WatchmanAxis, or -1 for off
    WatchmanDropEvery,   // value[0]: every n-th sample lost, 0 off
    WatchmanSkip,        // value[0]
    WatchmanRepeat,
    WatchmanJunk,
    WatchmanConfigCorrupt,       // the configuration no longer inflates
    WatchmanConfigSerial,        // text: the serial the configuration names
    WatchmanConfigDrop,          // text: the key the configuration lacks ("imu.acc_bias")
    WatchmanFeatureStall,        // value[0]: 1 each feature request fails once first, 0 off
    WatchmanFeatureSilent,       // value[0]: 1 no feature request is answered, 0 off
    WatchmanLightGeneration,     // value[0]: the base stations in the room, 1 or 2
    WatchmanPhotodiodeDead,      // value[0]: wire channel
    WatchmanPhotodiodeWeak,      // value[0]: wire channel
    WatchmanPhotodiodeAbnormal,  // value[0]: wire channel
    WatchmanPhotodiodeOk,        // value[0]: wire channel, its fault cleared
    WatchmanStationOff,          // value[0]: the room's station, 0 or 1
    WatchmanStationOn,           // value[0]: the room's station, 0 or 1
    WatchmanLight,               // value[0]: 1 the light stream flows, 0 it stops
    WatchmanReplace,             // text: another unit with this serial on the same port
    TrackerAdd,                  // text: serial
    McuAbsent,
    McuUnplug,
    McuPlug,
    McuSleep,
    McuWake,
    McuDistance,  // value[0]
    McuAck,       // value[0]: 1 on, 0 off
    DisplayAbsent,
    DisplaySurfaceFormat,  // value[0]: DXGI format code
    DisplayHdcp,
    DisplayAcquireFail,  // value[0]: attempts that fail
    DisplayVsync,        // value[0]: a VsyncMode
    DisplayRemove,
    DisplayPresentErrors,  // value[0]: presents that fail
    ToolStop,
};

enum VsyncMode : int64_t { kVsyncOn = 0, kVsyncFree = 1, kVsyncStop = 2 };

// The latest time an action may name. The timeline waits on the steady
// clock in nanoseconds, which runs out near 292 years; later times would wrap
// around and fire at once. Three years is past any soak run.
constexpr double kMaxScenarioSeconds = 100000000.0;

struct ScenarioAction {
    double seconds = 0.0;
    int line = 0;
    ActionKind kind = ActionKind::ToolStop;
    std::string text;
    int64_t value[3] = {0, 0, 0};
    double number = 0.0;  // the decimal argument
};

struct Scenario {
    std::vector<ScenarioAction> actions;  // by time; file order among equal times
};

// Reads a whole scenario text. On a mistake returns false with `error` set to
// "FILE:LINE: reason" (the caller puts "brisk-sim: " in front).
bool ParseScenario(const std::string& text, const std::string& fileName, Scenario& out,
                   std::string& error);

// True for the actions that shape the bus before the tool starts and so are
// allowed only at time 0.
bool IsSetupOnly(ActionKind kind);

}  // namespace brisk::sim
