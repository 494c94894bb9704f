#include "log/optical_text.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "base/format.h"

namespace brisk {
namespace {

using optical::PhotodiodeState;

std::string StationLine(const optical::StationFinding& s) {
    std::string text = s.generation == 2 ? Format("  base station channel %u:", unsigned(s.channel))
                                         : Format("  base station %u (first generation):",
                                                  unsigned(s.channel) + 1);
    if (s.id.has_value()) {
        text += Format(" id %08" PRIX32 ",", *s.id);
    }
    if (s.firmware.has_value()) {
        text += Format(" firmware %u,", unsigned(*s.firmware));
    }
    if (!s.ootxCrcOk.has_value()) {
        text += " no whole OOTX frame yet";
    } else {
        text += *s.ootxCrcOk ? " OOTX CRC ok" : " OOTX CRC bad";
        text += Format(" (%" PRIu32 " %s, %" PRIu32 " with a bad CRC)", s.frames,
                       s.frames == 1 ? "frame" : "frames", s.badCrcFrames);
    }
    return text + Format(", %" PRIu32 " syncs\n", s.syncs);
}

// "channel 6" or "channels 6, 20": the photodiodes in a state.
std::string Channels(const optical::OpticalFindings& f, PhotodiodeState state) {
    std::string list;
    size_t n = 0;
    for (const optical::PhotodiodeFinding& p : f.photodiodes) {
        if (p.state == state) {
            list += (n++ == 0 ? "" : ", ") + std::to_string(p.wire);
        }
    }
    return (n == 1 ? "channel " : "channels ") + list;
}

}  // namespace

std::string FormatOpticalResult(const optical::OpticalFindings& f, bool haveConfig) {
    if (!haveConfig) {
        return "OPTICAL RESULT: no factory configuration: nothing judged\n";
    }
    std::string text;
    if (!f.judged) {
        text = "OPTICAL RESULT: no base station in view: nothing judged\n";
    } else {
        text = Format(
            "OPTICAL RESULT: generation %u, %zu photodiodes: %zu ok, %zu dead, %zu weak, %zu "
            "abnormal, %zu unlit\n",
            unsigned(f.generation), f.photodiodes.size(), f.Count(PhotodiodeState::kOk),
            f.Count(PhotodiodeState::kDead), f.Count(PhotodiodeState::kWeak),
            f.Count(PhotodiodeState::kAbnormal), f.Count(PhotodiodeState::kUnlit));
        for (const optical::PhotodiodeFinding& p : f.photodiodes) {
            if (p.state == PhotodiodeState::kOk || p.state == PhotodiodeState::kUnlit) {
                continue;
            }
            // The reason names the pulses and what they were held against.
            text += Format("  %s channel %" PRId64 " (photodiode %zu): ", StateName(p.state),
                           p.wire, p.modelIndex) +
                    (p.why.empty() ? Format("%" PRIu32 " pulses", p.pulses) : p.why) + "\n";
        }
    }
    for (const optical::UnmappedChannel& u : f.unmapped) {
        text += Format("  channel %u not in the channel map: %" PRIu32 " pulses, not judged\n",
                       unsigned(u.wire), u.pulses);
    }
    for (const optical::StationFinding& s : f.stations) {
        text += StationLine(s);
    }
    for (const ExpectedStation& m : f.missing) {
        text += "  expected base station " + ExpectedStationName(m) +
                (m.kind == ExpectedStation::Kind::kId ? ": no station gave that id\n"
                                                      : ": never seen\n");
    }
    return text;
}

OpticalTotals OpticalTotalsOf(const optical::OpticalFindings& f, uint64_t lightStalls,
                              bool require) {
    OpticalTotals t;
    t.checked = true;
    t.judgedRequired = require;
    t.judged = f.judged;
    t.dead = f.Count(PhotodiodeState::kDead);
    t.weak = f.Count(PhotodiodeState::kWeak);
    t.abnormal = f.Count(PhotodiodeState::kAbnormal);
    t.lightStalls = lightStalls;
    t.deadChannels = Channels(f, PhotodiodeState::kDead);
    t.weakChannels = Channels(f, PhotodiodeState::kWeak);
    t.abnormalChannels = Channels(f, PhotodiodeState::kAbnormal);
    t.missingStations = f.missing.size();
    for (const ExpectedStation& m : f.missing) {
        t.missingStationNames +=
            (t.missingStationNames.empty() ? "" : ", ") + ExpectedStationName(m);
    }
    return t;
}

}  // namespace brisk
