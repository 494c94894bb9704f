// The tool's command line: options, an optional run duration, and the usage
// text that explains them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "run/expected_stations.h"
#include "run/reasons.h"

namespace brisk {

// What drives the panels, if anything.
enum class DisplayKind {
    kDirectMode,  // the headset taken from the desktop (the default)
    kExtended,    // the headset as an ordinary desktop output
    kNone,        // no display at all: a sensors-only run
};

// The display mode to match, "WxH[@HZ]". The default is the panel's own.
struct ModeRequest {
    uint32_t width = 5088;
    uint32_t height = 2544;
    double refreshHz = 75.0;
    bool anyRefresh = false;  // no "@HZ": any refresh rate of that size
    bool operator==(const ModeRequest&) const = default;
};

// --optical: off; auto (judged when a base station is in view); require (a
// run with no base station in view fails).
enum class OpticalMode { kOff, kAuto, kRequire };

struct RunSettings {
    std::string imuSerial;    // empty: choose the Watchman paired with the MCU
    double runSeconds = 0.0;  // > 0: the run ends by itself after this long
    DisplayKind display = DisplayKind::kDirectMode;
    int extendedOutput = -1;  // "extended:N": N; -1 when not given
    ModeRequest mode;
    std::string logPath;     // non-empty: write the run log there
    std::string recordFile;  // non-empty: record every HID transfer there (USBPcap)
    // "--metrics [HOST:]PORT": serve /metrics there; port 0 when not asked.
    // "--station NAME": the metrics' station label; empty: the host's name.
    std::string metricsHost = "127.0.0.1";
    uint16_t metricsPort = 0;
    std::string station;
    bool imuHealth = false;        // print the IMU health line; a health flag fails the run
    double countsPerG = 8192.0;    // the accelerometer's scale, for |a| in g
    bool countsPerGGiven = false;  // --counts-per-g: wins over the range --identity reads
    // What fails the run beside the defaults: --fail-on, imu-health with
    // --imu-health, the station set with --station-checks.
    FailOn failOn;
    bool failExit = false;       // a FAIL exits kExitFail instead of 0
    bool stationChecks = false;  // --station-checks (already applied to the fields)
    std::string jsonPath;        // non-empty: the JSON summary goes there when the run ends
    // --identity: read the Watchman's firmware, IMU range and factory
    // configuration; what a station expects of them (each of the three
    // options turns --identity on). The profile is read when the run starts;
    // the options given here win over its lines.
    bool identity = false;
    bool minFirmwareGiven = false;
    uint32_t minFirmware = 0;
    std::string serialPattern;   // empty: any
    std::string stationProfile;  // empty: none
    // --optical: read the Watchman's light interface and judge its
    // photodiodes (turns --identity on: the judging needs the configuration).
    OpticalMode optical = OpticalMode::kOff;
    // --light-generation: the base stations' generation the light format is
    // set for; 0: auto, one and then the other when no light comes.
    int lightGeneration = 0;
    // --expect-stations: the base stations that must be seen (turns
    // --optical auto on when --optical is not given).
    std::vector<ExpectedStation> expectedStations;
};

// What --station-checks turns on beside --imu-health and --fail-exit: the
// --fail-on items (those given with --fail-on win) and the summary file when
// --json names none. Every limit is one a healthy headset stays under (see
// the README). It reads the headset's identity too (--identity); the optical
// checks join this set.
constexpr const char* kStationFailOn = "gaps>0.1%,stalls>0,imu-absent>0,wait-timeouts>0";
constexpr const char* kStationSummaryFile = "brisk-summary.json";

enum class CommandAction { kRun, kHelp, kVersion, kUsageError };

struct CommandLine {
    CommandAction action = CommandAction::kRun;
    RunSettings settings;
    std::string error;  // kUsageError: the reason, naming the option
};

// Reads the arguments after the program name, left to right. "--imu-serial"
// takes the next argument as the serial (as the last argument it is read as a
// number, so 0). "--display KIND" and "--mode WxH[@HZ]" need a valid value,
// "--log FILE" and "--record FILE" a file name. "--metrics [HOST:]PORT"
// needs a valid address, "--station NAME" a name.
// "--help"/"-h" and "--version" end the reading. A word that starts with '-'
// and is neither an option nor a number is a usage error (a mistyped option
// must not start an endless run); any other word is a duration read the way
// atof reads it ("10s" is 10), the last one winning, and a word with no
// number at its start ("ten") is a usage error rather than an endless run.
// "--fail-on LIST" needs a valid list (see ParseFailOn), "--json FILE" a file
// name; "--station-checks" applies its set once everything is read, so its
// place on the line does not matter.
// Without "--display" the run gets `defaultDisplay`.
CommandLine ParseCommandLine(int argc, const char* const* argv,
                             DisplayKind defaultDisplay = DisplayKind::kDirectMode);

// "5088x2544@75", "1920x1080": false when `text` is not of that shape.
bool ParseModeText(const char* text, ModeRequest& out);

// "9100", "0.0.0.0:9100", "lab-07:9100" or "[::1]:9100" (the host keeps its
// default when not given): false, `host` and `port` untouched, for a port
// outside 1..65535, an empty host or an IPv6 address without brackets.
bool ParseMetricsAddress(const char* text, std::string& host, uint16_t& port);

// The help text, whole lines, naming `defaultDisplay` as the default kind.
std::string UsageText(DisplayKind defaultDisplay = DisplayKind::kDirectMode);

// Whether `arg` is one of the options ParseCommandLine knows, spelt exactly.
bool IsToolOption(const char* arg);

}  // namespace brisk
