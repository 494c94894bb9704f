// The Watchman's light reports (0x25 pulses, 0x28 sweep words, 0x27 raw
// captures, anything else on the light interface) through decoding,
// accumulation and OOTX, then judged against a small ring of photodiodes,
// the way a run handles them.
//
// Input: records of one length byte and that many report bytes. The whole
// input is also read as the light interface's report descriptor, the other
// thing that interface hands us, when discovery looks for its report IDs.
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "optical/photodiode_judge.h"
#include "platform/report_descriptor.h"

namespace {

using brisk::fuzz::ExactBuffer;
using brisk::fuzz::Reader;
namespace optical = brisk::optical;

const brisk::identity::WatchmanConfig& Ring() {
    static const brisk::identity::WatchmanConfig config = [] {
        brisk::identity::WatchmanConfig c;
        for (int i = 0; i < 8; ++i) {
            const double a = i * 0.785398;
            c.positions.push_back({0.05 * std::cos(a), 0.05 * std::sin(a), 0});
            c.normals.push_back({std::cos(a), std::sin(a), 0});
            c.channelMap.push_back(i * 3 + 1);  // channels with gaps, as real units have
        }
        return c;
    }();
    return config;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        ExactBuffer descriptor(data, size);
        const auto ids = brisk::InputReportIdsOfDescriptor(descriptor.data(), descriptor.size());
        if (ids) {
            FUZZ_CHECK(std::is_sorted(ids->begin(), ids->end()));
            FUZZ_CHECK(std::adjacent_find(ids->begin(), ids->end()) == ids->end());
            FUZZ_CHECK(std::find(ids->begin(), ids->end(), 0) == ids->end());
        }
    }
    Reader in(data, size);
    auto run = std::make_unique<optical::OpticalRun>();
    run->SetNeighbours(optical::NeighboursOnTheWire(Ring()));
    uint64_t records = 0;
    while (!in.Empty()) {
        const uint8_t length = in.Byte();
        const std::vector<uint8_t> bytes = in.Take(length);
        ExactBuffer report(bytes.data(), bytes.size());
        run->Feed(report.data(), report.size());
        ++records;
    }
    run->Finish();

    const optical::ReportTally& t = run->Tally();
    FUZZ_CHECK(t.pulseReports + t.sweepReports + t.rawCaptureReports + t.otherReports <= records);
    for (size_t w = 0; w < optical::kWireChannels; ++w) {
        const optical::ChannelCounts& c = run->Channel(static_cast<uint8_t>(w));
        FUZZ_CHECK(c.syncPulses <= c.pulses);
        uint64_t binned = 0;
        for (uint32_t n : c.lengthBins) {
            binned += n;
        }
        FUZZ_CHECK(binned <= c.pulses);
        FUZZ_CHECK(run->Sweeps().SharedSweeps(static_cast<uint8_t>(w)) <=
                   run->Sweeps().NeighbourSweeps(static_cast<uint8_t>(w)));
    }
    for (const optical::StationCounts& s : run->Stations()) {
        FUZZ_CHECK(s.badCrcFrames <= s.frames);
        FUZZ_CHECK(!s.identified || s.frames > s.badCrcFrames);
    }
    const optical::OpticalFindings f = optical::JudgeOptical(*run, Ring());
    FUZZ_CHECK(f.photodiodes.size() == 8);
    for (const auto& p : f.photodiodes) {
        FUZZ_CHECK(p.neighbours.size() <= optical::kNeighbours);
    }
    return 0;
}
