// The tool's command line: options, an optional run duration, and the usage
// text that explains them.
#pragma once

#include <cstdint>
#include <string>

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
    bool imuHealth = false;      // print the IMU health line; a health flag fails the run
    double countsPerG = 8192.0;  // the accelerometer's scale, for |a| in g
};

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
// atof reads it (text that is not a number is 0), the last one winning.
// Without "--display" the run gets `defaultDisplay`.
CommandLine ParseCommandLine(int argc, const char* const* argv,
                             DisplayKind defaultDisplay = DisplayKind::kDirectMode);

// "5088x2544@75", "1920x1080": false when `text` is not of that shape.
bool ParseModeText(const char* text, ModeRequest& out);

// "9100", "0.0.0.0:9100", "lab-07:9100" or "[::1]:9100" (the host keeps its
// default when not given): false, `host` and `port` untouched, for a port
// outside 1..65535, an empty host or an IPv6 address without brackets.
bool ParseMetricsAddress(const char* text, std::string& host, uint16_t& port);

// The help text, whole lines.
std::string UsageText();

}  // namespace brisk
