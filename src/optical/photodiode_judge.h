// Each photodiode's state at the end of a run, judged against its
// neighbours: the nearest photodiodes facing a similar way, from the
// configuration's positions and normals. A photodiode is only ever judged
// by what its neighbours saw, so a unit that faced one way the whole run
// has its far side unlit, never dead.
//
// Neighbours: the kNeighbours nearest photodiodes whose normals are within
// kNeighbourMaxDegrees of its own. Their light level: the lower median of
// their pulse counts. The neighbourhood is lit when it has kMinNeighbours or
// more and that median is at least kLitNeighbourPulses (so with two
// neighbours both are lit, with three or four all but one).
//
// The states, in the order they are decided:
//   unlit     the neighbourhood is not lit (or it has no neighbours): not judged;
//             also dark with a neighbour under kLitNeighbourPulses: the edge
//             of what a base station lights (one of two stations off)
//   dead      not one pulse of any kind (pulse, raw capture, flagged entry)
//             while every neighbour has kLitNeighbourPulses or more
//   weak      pulses below kWeakShare of the neighbours' median
//   abnormal  lit, but unlike its neighbours: sync flashes and never a
//             sweep while the neighbours' median sweeps is lit; or more than
//             kSpammyFactor times its brightest neighbour's pulses; or its
//             median sweep length kLengthBinsApart or more length bins
//             (factors of two) from the neighbours' median, both with at
//             least kLengthSamples sweeps (first generation: the second's
//             sweep words carry no length)
//   ok        everything else
// A report naming a wire channel that is not in the channel map is counted
// and named (unmapped), not judged.
//
// The thresholds come from the four real captures (a head-mounted display
// of each generation, a hand controller, a tracker), all sound units: see
// docs/architecture.md for the figures they were chosen from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "identity/watchman_config.h"
#include "optical/optical_run.h"
#include "run/expected_stations.h"

namespace brisk::optical {

constexpr size_t kMinNeighbours = 2;
constexpr double kNeighbourMaxDegrees = 45.0;
constexpr uint32_t kLitNeighbourPulses = 100;
constexpr double kWeakShare = 0.01;
constexpr double kSpammyFactor = 8.0;
constexpr int kLengthBinsApart = 5;
constexpr uint32_t kLengthSamples = 50;

enum class PhotodiodeState { kOk, kDead, kWeak, kAbnormal, kUnlit };
const char* StateName(PhotodiodeState state);

struct PhotodiodeFinding {
    int64_t wire = 0;  // the channel its reports name
    size_t modelIndex = 0;
    uint32_t pulses = 0;
    PhotodiodeState state = PhotodiodeState::kUnlit;
    std::string why;                 // for all but ok and unlit
    uint32_t neighbourLevel = 0;     // the neighbours' median pulses
    uint32_t neighbourSweeps = 0;    // sweeps a neighbour saw
    uint32_t sharedSweeps = 0;       // of those, the ones it saw too
    std::vector<size_t> neighbours;  // model indexes
};

struct UnmappedChannel {
    uint8_t wire = 0;
    uint32_t pulses = 0, rawCaptures = 0, flagged = 0;
};

struct StationFinding {
    uint8_t generation = 0;
    uint8_t channel = 0;  // second generation: its channel; first: its slot in the cycle
    uint32_t syncs = 0;
    std::optional<uint32_t> id;  // until a frame with a sound CRC came
    std::optional<uint16_t> firmware, protocol;
    std::optional<bool> ootxCrcOk;  // null until a frame came
    uint32_t frames = 0, badCrcFrames = 0, brokenFrames = 0;
};

struct OpticalFindings {
    bool judged = false;  // some photodiode's neighbourhood was lit
    uint8_t generation = 0;
    std::vector<PhotodiodeFinding> photodiodes;  // in model order
    std::vector<UnmappedChannel> unmapped;
    std::vector<StationFinding> stations;
    // Of the stations expected (--expect-stations), those not found among
    // `stations`: MissingStations.
    std::vector<ExpectedStation> missing;

    size_t Count(PhotodiodeState state) const;
};

// Model index -> the model indexes of its neighbours, nearest first.
std::vector<std::vector<size_t>> FindNeighbours(const std::vector<identity::Vec3>& positions,
                                                const std::vector<identity::Vec3>& normals);

// The same as wire channels, for OpticalRun::SetNeighbours: photodiodes
// whose channel is outside 0-255 have none and are no one's.
WireNeighbours NeighboursOnTheWire(const identity::WatchmanConfig& config);

OpticalFindings JudgeOptical(const OpticalRun& run, const identity::WatchmanConfig& config);

// The expected stations none of `seen` answers to, in the order expected. A
// channel is answered by a second-generation station on it that sent a
// sync; an id by a station whose OOTX frame (sound CRC) gave that id.
std::vector<ExpectedStation> MissingStations(const std::vector<ExpectedStation>& expected,
                                             const std::vector<StationFinding>& seen);

}  // namespace brisk::optical
