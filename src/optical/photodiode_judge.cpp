#include "optical/photodiode_judge.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>

namespace brisk::optical {
namespace {

using identity::Vec3;

double Dot(const Vec3& a, const Vec3& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

double Distance2(const Vec3& a, const Vec3& b) {
    const Vec3 d{a[0] - b[0], a[1] - b[1], a[2] - b[2]};
    return Dot(d, d);
}

template <typename T>
T Median(std::vector<T> values) {
    if (values.empty()) {
        return T{};
    }
    std::sort(values.begin(), values.end());
    return values[(values.size() - 1) / 2];  // the lower middle: one bright neighbour moves nothing
}

// The bin of the median sweep length, or -1 with fewer than kLengthSamples sweeps.
int MedianSweepBin(const ChannelCounts& c) {
    uint64_t total = 0;
    for (size_t b = 0; b < kSweepBins; ++b) {
        total += c.lengthBins[b];
    }
    if (total < kLengthSamples) {
        return -1;
    }
    uint64_t seen = 0;
    for (size_t b = 0; b < kSweepBins; ++b) {
        seen += c.lengthBins[b];
        if (2 * seen >= total) {
            return static_cast<int>(b);
        }
    }
    return -1;
}

const ChannelCounts* CountsOf(const OpticalRun& run, int64_t wire) {
    return wire >= 0 && wire < static_cast<int64_t>(kWireChannels)
               ? &run.Channel(static_cast<uint8_t>(wire))
               : nullptr;
}

void Judge(PhotodiodeFinding& f, const ChannelCounts& own,
           const std::vector<const ChannelCounts*>& around) {
    std::vector<uint32_t> pulses, sweeps;
    std::vector<int> bins;
    for (const ChannelCounts* n : around) {
        pulses.push_back(n->pulses);
        sweeps.push_back(n->SweepPulses());
        const int bin = MedianSweepBin(*n);
        if (bin >= 0) {
            bins.push_back(bin);
        }
    }
    f.neighbourLevel = Median(pulses);
    if (around.size() < kMinNeighbours || f.neighbourLevel < kLitNeighbourPulses) {
        f.state = PhotodiodeState::kUnlit;
        return;
    }
    const std::string level = std::to_string(f.neighbourLevel);
    const uint32_t dimmest = *std::min_element(pulses.begin(), pulses.end());
    if (!own.Lit() && dimmest < kLitNeighbourPulses) {
        // Dark beside a dark neighbour: the edge of what a base station
        // lights (one station off, or the unit turned away), not proof.
        f.state = PhotodiodeState::kUnlit;
        return;
    }
    if (!own.Lit()) {
        f.state = PhotodiodeState::kDead;
        f.why = "no light while its neighbours saw " + level + " pulses";
        return;
    }
    if (own.pulses < kWeakShare * f.neighbourLevel) {
        f.state = PhotodiodeState::kWeak;
        f.why = std::to_string(own.pulses) + " pulses against its neighbours' " + level;
        return;
    }
    f.state = PhotodiodeState::kAbnormal;
    if (own.syncPulses > 0 && own.SweepPulses() == 0 && Median(sweeps) >= kLitNeighbourPulses) {
        f.why = "sync flashes and never a sweep";
        return;
    }
    const uint32_t brightest = *std::max_element(pulses.begin(), pulses.end());
    if (own.pulses > kSpammyFactor * brightest) {
        f.why = std::to_string(own.pulses) + " pulses, over " +
                std::to_string(static_cast<int>(kSpammyFactor)) +
                " times its brightest neighbour's " + std::to_string(brightest);
        return;
    }
    const int ownBin = MedianSweepBin(own);
    if (ownBin >= 0 && !bins.empty() && std::abs(ownBin - Median(bins)) >= kLengthBinsApart) {
        f.why = "sweeps of about " + std::to_string(1 << ownBin >> 1) +
                " ticks against its neighbours' " + std::to_string(1 << Median(bins) >> 1);
        return;
    }
    f.state = PhotodiodeState::kOk;
}

}  // namespace

const char* StateName(PhotodiodeState state) {
    switch (state) {
        case PhotodiodeState::kOk:
            return "ok";
        case PhotodiodeState::kDead:
            return "dead";
        case PhotodiodeState::kWeak:
            return "weak";
        case PhotodiodeState::kAbnormal:
            return "abnormal";
        case PhotodiodeState::kUnlit:
            return "unlit";
    }
    return "?";
}

size_t OpticalFindings::Count(PhotodiodeState state) const {
    return static_cast<size_t>(std::count_if(photodiodes.begin(), photodiodes.end(),
                                             [&](const auto& p) { return p.state == state; }));
}

std::vector<std::vector<size_t>> FindNeighbours(const std::vector<Vec3>& positions,
                                                const std::vector<Vec3>& normals) {
    const size_t n = std::min(positions.size(), normals.size());
    const double minCos = std::cos(kNeighbourMaxDegrees * std::numbers::pi / 180.0);
    std::vector<std::vector<size_t>> out(n);
    for (size_t i = 0; i < n; ++i) {
        std::vector<std::pair<double, size_t>> candidates;
        for (size_t j = 0; j < n; ++j) {
            if (j != i && Dot(normals[i], normals[j]) >= minCos) {
                candidates.emplace_back(Distance2(positions[i], positions[j]), j);
            }
        }
        std::sort(candidates.begin(), candidates.end());
        for (size_t k = 0; k < candidates.size() && k < kNeighbours; ++k) {
            out[i].push_back(candidates[k].second);
        }
    }
    return out;
}

WireNeighbours NeighboursOnTheWire(const identity::WatchmanConfig& config) {
    WireNeighbours out;
    const auto neighbours = FindNeighbours(config.positions, config.normals);
    const auto& map = config.channelMap;
    const auto onTheWire = [](int64_t c) {
        return c >= 0 && c < static_cast<int64_t>(kWireChannels);
    };
    for (size_t i = 0; i < neighbours.size() && i < map.size(); ++i) {
        if (!onTheWire(map[i])) {
            continue;
        }
        const auto wire = static_cast<uint8_t>(map[i]);
        if (out.count[wire] > 0) {
            continue;  // a channel named twice: its first photodiode's neighbours
        }
        for (size_t j : neighbours[i]) {
            if (j < map.size() && onTheWire(map[j])) {
                out.wires[wire][out.count[wire]++] = static_cast<uint8_t>(map[j]);
            }
        }
    }
    return out;
}

OpticalFindings JudgeOptical(const OpticalRun& run, const identity::WatchmanConfig& config) {
    OpticalFindings out;
    out.generation = run.Generation();
    const auto neighbours = FindNeighbours(config.positions, config.normals);
    const auto& map = config.channelMap;
    std::array<bool, kWireChannels> mapped{};
    for (size_t i = 0; i < neighbours.size() && i < map.size(); ++i) {
        PhotodiodeFinding f;
        f.wire = map[i];
        f.modelIndex = i;
        f.neighbours = neighbours[i];
        const ChannelCounts* own = CountsOf(run, map[i]);
        if (own == nullptr) {
            f.why = "channel outside 0-255";
            out.photodiodes.push_back(std::move(f));
            continue;
        }
        mapped[static_cast<size_t>(map[i])] = true;
        f.pulses = own->pulses;
        f.neighbourSweeps = run.Sweeps().NeighbourSweeps(static_cast<uint8_t>(map[i]));
        f.sharedSweeps = run.Sweeps().SharedSweeps(static_cast<uint8_t>(map[i]));
        std::vector<const ChannelCounts*> around;
        for (size_t j : neighbours[i]) {
            if (const ChannelCounts* c = j < map.size() ? CountsOf(run, map[j]) : nullptr) {
                around.push_back(c);
            }
        }
        Judge(f, *own, around);
        out.judged = out.judged || f.state != PhotodiodeState::kUnlit;
        out.photodiodes.push_back(std::move(f));
    }
    for (size_t w = 0; w < kWireChannels; ++w) {
        const ChannelCounts& c = run.Channel(static_cast<uint8_t>(w));
        if (!mapped[w] && c.Lit()) {
            out.unmapped.push_back({static_cast<uint8_t>(w), c.pulses, c.rawCaptures, c.flagged});
        }
    }
    for (const StationCounts& s : run.Stations()) {
        if (s.generation == 0) {
            continue;
        }
        StationFinding f;
        f.generation = s.generation;
        f.channel = s.channel;
        f.syncs = s.syncs;
        if (s.identified) {
            f.id = s.id;
            f.firmware = static_cast<uint16_t>(s.firmwareWord >> 6);
            f.protocol = static_cast<uint16_t>(s.firmwareWord & 0x3F);
        }
        if (s.frames > 0) {
            f.ootxCrcOk = s.identified;
        }
        f.frames = s.frames;
        f.badCrcFrames = s.badCrcFrames;
        f.brokenFrames = s.brokenFrames;
        out.stations.push_back(f);
    }
    return out;
}

std::vector<ExpectedStation> MissingStations(const std::vector<ExpectedStation>& expected,
                                             const std::vector<StationFinding>& seen) {
    std::vector<ExpectedStation> missing;
    for (const ExpectedStation& want : expected) {
        const bool found = std::any_of(seen.begin(), seen.end(), [&](const StationFinding& s) {
            return want.kind == ExpectedStation::Kind::kId
                       ? s.id.has_value() && *s.id == want.value
                       : s.generation == 2 && s.channel == want.value && s.syncs > 0;
        });
        if (!found) {
            missing.push_back(want);
        }
    }
    return missing;
}

}  // namespace brisk::optical
