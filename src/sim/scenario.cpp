#include "sim/scenario.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace brisk::sim {
namespace {

enum class Args { None, Text, Int1, Int3, Decimal, Axis, OnOff, Vsync, On };

struct ActionSpec {
    const char* device;
    const char* action;
    ActionKind kind;
    Args args;
    int64_t min;
    int64_t max;
};

// The grammar, one row per device and action.
constexpr ActionSpec kActions[] = {
    {"watchman", "serial", ActionKind::WatchmanSerial, Args::Text, 0, 0},
    {"watchman", "absent", ActionKind::WatchmanAbsent, Args::None, 0, 0},
    {"watchman", "unplug", ActionKind::WatchmanUnplug, Args::None, 0, 0},
    {"watchman", "plug", ActionKind::WatchmanPlug, Args::None, 0, 0},
    {"watchman", "sleep", ActionKind::WatchmanSleep, Args::None, 0, 0},
    {"watchman", "wake", ActionKind::WatchmanWake, Args::None, 0, 0},
    {"watchman", "rate", ActionKind::WatchmanRate, Args::Int1, 1, 20000},
    {"watchman", "accel", ActionKind::WatchmanAccel, Args::Int3, -32768, 32767},
    {"watchman", "gyro", ActionKind::WatchmanGyro, Args::Int3, -32768, 32767},
    {"watchman", "accel-noise", ActionKind::WatchmanAccelNoise, Args::Decimal, 0, 1000},
    {"watchman", "gyro-noise", ActionKind::WatchmanGyroNoise, Args::Decimal, 0, 1000},
    {"watchman", "gyro-walk", ActionKind::WatchmanGyroWalk, Args::Decimal, 0, 1000},
    {"watchman", "clock", ActionKind::WatchmanClock, Args::Decimal, -100000, 100000},
    {"watchman", "stuck", ActionKind::WatchmanStuck, Args::Axis, 0, 0},
    {"watchman", "saturate", ActionKind::WatchmanSaturate, Args::Axis, 0, 0},
    {"watchman", "drop-every", ActionKind::WatchmanDropEvery, Args::Int1, 0, 1000000},
    {"watchman", "skip", ActionKind::WatchmanSkip, Args::Int1, 1, 255},
    {"watchman", "repeat", ActionKind::WatchmanRepeat, Args::None, 0, 0},
    {"watchman", "junk", ActionKind::WatchmanJunk, Args::None, 0, 0},
    {"watchman", "config-corrupt", ActionKind::WatchmanConfigCorrupt, Args::None, 0, 0},
    {"watchman", "config-serial", ActionKind::WatchmanConfigSerial, Args::Text, 0, 0},
    {"watchman", "config-drop", ActionKind::WatchmanConfigDrop, Args::Text, 0, 0},
    {"watchman", "feature-stall", ActionKind::WatchmanFeatureStall, Args::OnOff, 0, 0},
    {"watchman", "feature-silent", ActionKind::WatchmanFeatureSilent, Args::OnOff, 0, 0},
    {"watchman", "light-generation", ActionKind::WatchmanLightGeneration, Args::Int1, 1, 2},
    {"watchman", "photodiode-dead", ActionKind::WatchmanPhotodiodeDead, Args::Int1, 0, 255},
    {"watchman", "photodiode-weak", ActionKind::WatchmanPhotodiodeWeak, Args::Int1, 0, 255},
    {"watchman", "photodiode-abnormal", ActionKind::WatchmanPhotodiodeAbnormal, Args::Int1, 0, 255},
    {"watchman", "photodiode-ok", ActionKind::WatchmanPhotodiodeOk, Args::Int1, 0, 255},
    {"watchman", "station-off", ActionKind::WatchmanStationOff, Args::Int1, 0, 1},
    {"watchman", "station-on", ActionKind::WatchmanStationOn, Args::Int1, 0, 1},
    {"watchman", "light", ActionKind::WatchmanLight, Args::OnOff, 0, 0},
    {"watchman", "replace", ActionKind::WatchmanReplace, Args::Text, 0, 0},
    {"tracker", "add", ActionKind::TrackerAdd, Args::Text, 0, 0},
    {"mcu", "absent", ActionKind::McuAbsent, Args::None, 0, 0},
    {"mcu", "unplug", ActionKind::McuUnplug, Args::None, 0, 0},
    {"mcu", "plug", ActionKind::McuPlug, Args::None, 0, 0},
    {"mcu", "sleep", ActionKind::McuSleep, Args::None, 0, 0},
    {"mcu", "wake", ActionKind::McuWake, Args::None, 0, 0},
    {"mcu", "distance", ActionKind::McuDistance, Args::Int1, 0, 65535},
    {"mcu", "ack", ActionKind::McuAck, Args::OnOff, 0, 0},
    {"display", "absent", ActionKind::DisplayAbsent, Args::None, 0, 0},
    {"display", "surface-format", ActionKind::DisplaySurfaceFormat, Args::Int1, 0, 255},
    {"display", "hdcp", ActionKind::DisplayHdcp, Args::On, 0, 0},
    {"display", "acquire-fail", ActionKind::DisplayAcquireFail, Args::Int1, 0, 1000},
    {"display", "vsync", ActionKind::DisplayVsync, Args::Vsync, 0, 0},
    {"display", "remove", ActionKind::DisplayRemove, Args::None, 0, 0},
    {"display", "present-errors", ActionKind::DisplayPresentErrors, Args::Int1, 0, 1000000},
    {"tool", "stop", ActionKind::ToolStop, Args::None, 0, 0},
};

// A HID serial string holds at most 126 characters and its terminator.
constexpr size_t kMaxSerialLength = 126;

// Seconds: plain decimal digits with an optional fraction. No signs, no
// exponents, no "inf"/"nan": a time a person can read at a glance.
bool ParseSeconds(const std::string& word, double& out) {
    size_t digits = 0, dots = 0;
    for (char c : word) {
        if (c >= '0' && c <= '9') {
            ++digits;
        } else if (c == '.') {
            ++dots;
        } else {
            return false;
        }
    }
    if (digits == 0 || dots > 1 || word.size() > 12) {
        return false;
    }
    out = std::strtod(word.c_str(), nullptr);
    return true;
}

// Decimal values: the plain form of seconds, with a '-' in front where the
// range has negative values.
bool ParseDecimal(const std::string& word, int64_t min, int64_t max, double& out) {
    bool negative = !word.empty() && word[0] == '-' && min < 0;
    if (!ParseSeconds(negative ? word.substr(1) : word, out)) {
        return false;
    }
    out = negative ? -out : out;
    return out >= double(min) && out <= double(max);
}

// The axes in sample order; "off" releases them all.
constexpr const char* kAxisNames[] = {"ax", "ay", "az", "gx", "gy", "gz"};

bool ParseAxis(const std::string& word, int64_t& out) {
    if (word == "off") {
        out = -1;
        return true;
    }
    for (int64_t i = 0; i < 6; ++i) {
        if (word == kAxisNames[i]) {
            out = i;
            return true;
        }
    }
    return false;
}

bool ParseInteger(const std::string& word, int64_t min, int64_t max, int64_t& out) {
    if (word.empty() || word.size() > 20) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(word.c_str(), &end, 10);
    if (errno != 0 || end != word.c_str() + word.size() || v < min || v > max) {
        return false;
    }
    out = v;
    return true;
}

const ActionSpec* FindAction(const std::string& device, const std::string& action,
                             bool& deviceKnown) {
    deviceKnown = false;
    for (const ActionSpec& row : kActions) {
        if (device == row.device) {
            deviceKnown = true;
            if (action == row.action) {
                return &row;
            }
        }
    }
    return nullptr;
}

size_t ArgCount(Args args) {
    switch (args) {
        case Args::None:
            return 0;
        case Args::Int3:
            return 3;
        default:
            return 1;
    }
}

// Fills the action's arguments from `words` (after SECONDS DEVICE ACTION).
// Returns an empty string or the reason for refusing them.
std::string ParseArgs(const ActionSpec& row, const std::vector<std::string>& words,
                      ScenarioAction& act) {
    const size_t want = ArgCount(row.args);
    const size_t have = words.size() - 3;
    std::string name = std::string(row.device) + " " + row.action;
    if (have < want) {
        return "missing argument for '" + name + "'";
    }
    if (have > want) {
        return "unexpected argument '" + words[3 + want] + "' for '" + name + "'";
    }
    for (size_t i = 0; i < want; ++i) {
        const std::string& w = words[3 + i];
        switch (row.args) {
            case Args::Text:
                if (w.size() > kMaxSerialLength) {
                    return row.kind == ActionKind::WatchmanConfigDrop
                               ? "key longer than 126 characters"
                               : "serial longer than 126 characters";
                }
                act.text = w;
                break;
            case Args::Int1:
            case Args::Int3:
            case Args::Decimal:
                if (row.args == Args::Decimal ? !ParseDecimal(w, row.min, row.max, act.number)
                                              : !ParseInteger(w, row.min, row.max, act.value[i])) {
                    return "bad number '" + w + "' for '" + name + "' (expected " +
                           std::to_string(row.min) + " to " + std::to_string(row.max) + ")";
                }
                break;
            case Args::Axis:
                if (!ParseAxis(w, act.value[0])) {
                    return "expected an axis (ax, ay, az, gx, gy, gz) or 'off' for '" + name +
                           "', got '" + w + "'";
                }
                break;
            case Args::OnOff:
                if (w != "on" && w != "off") {
                    return "expected 'on' or 'off' for '" + name + "', got '" + w + "'";
                }
                act.value[0] = w == "on" ? 1 : 0;
                break;
            case Args::On:
                if (w != "on") {
                    return "expected 'on' for '" + name + "', got '" + w + "'";
                }
                break;
            case Args::Vsync:
                if (w == "on") {
                    act.value[0] = kVsyncOn;
                } else if (w == "free") {
                    act.value[0] = kVsyncFree;
                } else if (w == "stop") {
                    act.value[0] = kVsyncStop;
                } else {
                    return "expected 'on', 'free' or 'stop' for '" + name + "', got '" + w + "'";
                }
                break;
            case Args::None:
                break;
        }
    }
    return "";
}

// One non-empty line. Returns an empty string or the reason for refusing it.
std::string ParseLine(const std::vector<std::string>& words, ScenarioAction& act) {
    if (words.size() < 3) {
        return words.size() == 1 ? "missing device and action" : "missing action";
    }
    if (!words[0].empty() && words[0][0] == '-') {
        return "negative time '" + words[0] + "'";
    }
    if (!ParseSeconds(words[0], act.seconds)) {
        return "bad time '" + words[0] + "' (expected seconds such as 2 or 1.5)";
    }
    if (act.seconds > kMaxScenarioSeconds) {
        return "time '" + words[0] + "' is beyond 100000000 seconds";
    }
    bool deviceKnown = false;
    const ActionSpec* row = FindAction(words[1], words[2], deviceKnown);
    if (!deviceKnown) {
        return "unknown device '" + words[1] + "'";
    }
    if (row == nullptr) {
        return "unknown action '" + words[2] + "' for " + words[1];
    }
    act.kind = row->kind;
    std::string reason = ParseArgs(*row, words, act);
    if (!reason.empty()) {
        return reason;
    }
    if (IsSetupOnly(act.kind) && act.seconds != 0.0) {
        return "'" + words[1] + " " + words[2] + "' only at time 0";
    }
    return "";
}

std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line.substr(0, line.find('#')));
    std::string w;
    while (in >> w) {
        words.push_back(w);
    }
    return words;
}

}  // namespace

bool IsSetupOnly(ActionKind kind) {
    switch (kind) {
        case ActionKind::WatchmanSerial:
        case ActionKind::WatchmanAbsent:
        case ActionKind::TrackerAdd:
        case ActionKind::McuAbsent:
        case ActionKind::DisplayAbsent:
        case ActionKind::DisplaySurfaceFormat:
        case ActionKind::DisplayHdcp:
        case ActionKind::DisplayAcquireFail:
            return true;
        default:
            return false;
    }
}

bool ParseScenario(const std::string& text, const std::string& fileName, Scenario& out,
                   std::string& error) {
    out.actions.clear();
    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        std::vector<std::string> words = SplitWords(line);
        if (words.empty() && line.find('\0') == std::string::npos) {
            continue;
        }
        ScenarioAction act;
        act.line = lineNo;
        std::string reason =
            line.find('\0') != std::string::npos ? "not a text file" : ParseLine(words, act);
        if (!reason.empty()) {
            error = fileName + ":" + std::to_string(lineNo) + ": " + reason;
            out.actions.clear();
            return false;
        }
        out.actions.push_back(act);
    }
    std::stable_sort(
        out.actions.begin(), out.actions.end(),
        [](const ScenarioAction& a, const ScenarioAction& b) { return a.seconds < b.seconds; });
    return true;
}

}  // namespace brisk::sim
