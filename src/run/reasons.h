// Why a run fails: one table of every reason, each with a stable code, its
// words and whether it counts by default or only when --fail-on asks for it;
// and the pure function from the run's end figures to the reasons raised.
// The console, the log, the JSON summary and the report all take the
// reasons from here.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace brisk {

// What a reason is about.
enum class RunPart { kRun, kImu, kMcu, kDisplay };

// A device the run watches, as its reader's lost and back lines tell it.
struct PartPresence {
    bool watched = false;  // it had started
    bool presentAtEnd = true;
    uint64_t losses = 0;
    uint64_t returns = 0;
    double lastLostAt = -1.0;  // run seconds of the last loss; negative when never lost
    double secondsWithout = 0.0;
    bool operator==(const PartPresence&) const = default;
};

// A problem the identity checks found with the Watchman (--identity): a
// stable code and its words.
struct IdentityFinding {
    std::string code;
    std::string text;
    bool operator==(const IdentityFinding&) const = default;
};

// What the Watchman's light came to (--optical): the photodiodes judged by
// state, whether anything could be judged, and the light stalls.
struct OpticalTotals {
    bool checked = false;         // --optical
    bool judgedRequired = false;  // --optical require
    bool judged = false;          // a base station was in view and the configuration read
    uint64_t dead = 0, weak = 0, abnormal = 0;
    uint64_t lightStalls = 0;
    std::string deadChannels, weakChannels, abnormalChannels;  // "channels 6, 20"
    uint64_t missingStations = 0;       // expected (--expect-stations) and not seen
    std::string missingStationNames{};  // "channel 1, id 925017E7"
    bool operator==(const OpticalTotals&) const = default;
};

// What the verdict rests on: the run's end figures.
struct RunTotals {
    bool imuTried = true;            // false: the run ended before it tried the IMU
    bool imuStarted = true;          // false: the IMU stream did not start
    bool displayTested = true;       // false: a sensors-only run, or one that ended before it
    bool displayInitFailed = false;  // the display could not be initialised
    bool displayLost = false;
    double displayLostAt = -1.0;  // run seconds; negative when unknown
    uint64_t frames = 0;
    uint64_t presentErrors = 0;
    uint64_t waitTimeouts = 0;
    uint64_t imuSamples = 0;
    uint64_t imuSeqGaps = 0;
    uint64_t imuStalls = 0;
    std::string imuHealthFlags;  // the raised health flags; empty when none
    double runSeconds = 0.0;     // from the IMU's start to the end
    PartPresence imu, mcu;
    // With --identity, every problem of the Watchman's identity counts, each
    // a reason of its own after the table's, in the order found.
    bool identityChecked = false;
    std::vector<IdentityFinding> identity;
    OpticalTotals optical;
};

// A --fail-on limit: a count (or seconds), or a share in percent of what the
// reason's figure is a share of.
struct FailLimit {
    double value = 0.0;
    bool share = false;
    bool operator==(const FailLimit&) const = default;
};

// The --fail-on items asked for, by reason code.
struct FailOn {
    std::map<std::string, FailLimit, std::less<>> limits;
    bool operator==(const FailOn&) const = default;
};

// Reads "gaps>10,stalls>0,imu-absent>5%,wait-timeouts>0,imu-health" into
// `into` (an item given again replaces the earlier one). A name alone means
// over 0. False, with the reason naming the item, on a mistake.
bool ParseFailOn(std::string_view list, FailOn& into, std::string& error);

// The items --fail-on knows, for the help text: "gaps, stalls, ...".
std::string FailOnNames();

struct Reason {
    std::string code;  // stable: scripts may read it
    std::string text;  // its words, with the figure
    bool counted = false;
    RunPart part = RunPart::kRun;
    bool operator==(const Reason&) const = default;
};

// Every reason the figures raise, in the table's order, then the identity's
// problems: counted ones fail the run; the others are findings over no limit
// that nobody asked to weigh.
std::vector<Reason> RaisedReasons(const RunTotals& t, const FailOn& failOn);

bool AnyCounted(const std::vector<Reason>& reasons);

// The texts (codes) of the counted or of the uncounted reasons, joined by
// "; " (";"); empty when none.
std::string JoinedTexts(const std::vector<Reason>& reasons, bool counted);
std::string JoinedCodes(const std::vector<Reason>& reasons, bool counted);

// "REASONS: imu_lost — IMU lost at 4.0 s and not back; present_errors — 3
// present errors\n", or "" when no reason counts.
std::string FormatReasonsLine(const std::vector<Reason>& reasons);

}  // namespace brisk
