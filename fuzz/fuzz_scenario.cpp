// brisk-sim scenario files, which users write by hand and pass around to
// reproduce field failures: either a "FILE:LINE: reason" refusal, or actions
// that the timeline can play as they are.
//
// Input: the file's text.
#include <chrono>
#include <climits>
#include <cmath>

#include "fuzz_support.h"
#include "sim/scenario.h"

namespace {

using brisk::sim::ActionKind;
using brisk::sim::ScenarioAction;

const std::string kFile = "fuzz.txt";

int CountLines(const std::string& text) {
    int lines = 0;
    for (char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    return lines + (!text.empty() && text.back() != '\n' ? 1 : 0);
}

void CheckError(const std::string& error, int lines) {
    FUZZ_CHECK(error.compare(0, kFile.size() + 1, kFile + ":") == 0);
    size_t pos = kFile.size() + 1;
    long line = 0;
    while (pos < error.size() && error[pos] >= '0' && error[pos] <= '9' && line <= lines) {
        line = line * 10 + (error[pos++] - '0');
    }
    FUZZ_CHECK(line >= 1 && line <= lines);
    FUZZ_CHECK(error.compare(pos, 2, ": ") == 0);
    FUZZ_CHECK(error.size() > pos + 2);
    // One line on the console.
    FUZZ_CHECK(error.find('\n') == std::string::npos);
}

bool InRange(int64_t v, int64_t lo, int64_t hi) {
    return v >= lo && v <= hi;
}

// The values each action carries stay within what the virtual devices take.
void CheckValues(const ScenarioAction& a) {
    const int64_t* v = a.value;
    bool textual = false;
    size_t used = 0;
    switch (a.kind) {
        case ActionKind::WatchmanSerial:
        case ActionKind::TrackerAdd:
            textual = true;
            break;
        case ActionKind::WatchmanRate:
            FUZZ_CHECK(InRange(v[0], 1, 20000));
            used = 1;
            break;
        case ActionKind::WatchmanAccel:
        case ActionKind::WatchmanGyro:
            for (int i = 0; i < 3; ++i) {
                FUZZ_CHECK(InRange(v[i], INT16_MIN, INT16_MAX));
            }
            used = 3;
            break;
        case ActionKind::WatchmanSkip:
            FUZZ_CHECK(InRange(v[0], 1, 255));
            used = 1;
            break;
        case ActionKind::WatchmanLightGeneration:
            FUZZ_CHECK(InRange(v[0], 1, 2));
            used = 1;
            break;
        case ActionKind::WatchmanPhotodiodeDead:
        case ActionKind::WatchmanPhotodiodeWeak:
        case ActionKind::WatchmanPhotodiodeAbnormal:
        case ActionKind::WatchmanPhotodiodeOk:
            FUZZ_CHECK(InRange(v[0], 0, 255));  // a wire channel
            used = 1;
            break;
        case ActionKind::WatchmanStationOff:
        case ActionKind::WatchmanStationOn:
            FUZZ_CHECK(InRange(v[0], 0, 1));  // the room holds two
            used = 1;
            break;
        case ActionKind::WatchmanLight:
        case ActionKind::McuAck:
            FUZZ_CHECK(InRange(v[0], 0, 1));
            used = 1;
            break;
        case ActionKind::McuDistance:
            FUZZ_CHECK(InRange(v[0], 0, UINT16_MAX));
            used = 1;
            break;
        case ActionKind::DisplaySurfaceFormat:
            FUZZ_CHECK(InRange(v[0], 0, 255));
            used = 1;
            break;
        case ActionKind::DisplayAcquireFail:
        case ActionKind::DisplayPresentErrors:
            FUZZ_CHECK(InRange(v[0], 0, INT32_MAX));
            used = 1;
            break;
        case ActionKind::DisplayVsync:
            FUZZ_CHECK(InRange(v[0], brisk::sim::kVsyncOn, brisk::sim::kVsyncStop));
            used = 1;
            break;
        default:
            break;
    }
    for (size_t i = used; i < 3; ++i) {
        FUZZ_CHECK(v[i] == 0);
    }
    if (!textual) {
        FUZZ_CHECK(a.text.empty());
        return;
    }
    // A serial is one word of at most 126 characters, as HID can carry it.
    FUZZ_CHECK(!a.text.empty() && a.text.size() <= 126);
    for (char c : a.text) {
        FUZZ_CHECK(c != '\0' && c != '#' && c != ' ' && c != '\t' && c != '\n' && c != '\r');
    }
}

// The latest time the timeline's clock can wait for: steady_clock counts
// from boot, so leave it half its range.
double LatestSchedulableSeconds() {
    using Clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(Clock::duration::max()).count() / 2;
}

void CheckActions(const std::vector<ScenarioAction>& actions, int lines) {
    for (size_t i = 0; i < actions.size(); ++i) {
        const ScenarioAction& a = actions[i];
        FUZZ_CHECK(std::isfinite(a.seconds) && a.seconds >= 0.0);
        FUZZ_CHECK(a.seconds <= brisk::sim::kMaxScenarioSeconds);
        FUZZ_CHECK(a.line >= 1 && a.line <= lines);
        if (brisk::sim::IsSetupOnly(a.kind)) {
            FUZZ_CHECK(a.seconds == 0.0);
        }
        CheckValues(a);
        if (i > 0) {
            // By time; file order among equal times.
            const ScenarioAction& prev = actions[i - 1];
            FUZZ_CHECK(prev.seconds <= a.seconds);
            if (prev.seconds == a.seconds) {
                FUZZ_CHECK(prev.line < a.line);
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const int lines = CountLines(text);
    FUZZ_CHECK(brisk::sim::kMaxScenarioSeconds <= LatestSchedulableSeconds());
    brisk::sim::Scenario scenario;
    scenario.actions.resize(2);  // a reused Scenario must not keep old actions
    std::string error;
    if (!brisk::sim::ParseScenario(text, kFile, scenario, error)) {
        CheckError(error, lines);
        FUZZ_CHECK(scenario.actions.empty());
        return 0;
    }
    FUZZ_CHECK(scenario.actions.size() <= static_cast<size_t>(lines));
    CheckActions(scenario.actions, lines);
    return 0;
}
