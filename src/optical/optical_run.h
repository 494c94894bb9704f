// Everything the light reports of one run add up to, in fixed memory (well
// under 64 KB: sizeof(OpticalRun)) with no allocation per report: per wire
// channel the pulses and their lengths, per base station its sync flashes
// and OOTX identity, and which photodiodes saw each sweep. Judging the
// photodiodes is photodiode_judge.h's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "optical/light_reports.h"
#include "optical/ootx.h"
#include "optical/sweep_windows.h"

namespace brisk::optical {

// Pulses from this long up are sync flashes, shorter ones sweeps. The real
// first-generation stations' flashes run 2,224-6,581 ticks (3,000 + 500 per
// code step; a photodiode lit late reports a flash short), their sweeps
// 35-887: nothing real falls between 887 and 2,224.
constexpr uint16_t kSyncMinTicks = 2048;

// Length histogram: bin b holds lengths of bit width b (bin 0: length 0;
// bin 11: 1,024-2,047 ticks). Sweeps fill bins up to 11, flashes 12 and up.
constexpr size_t kLengthBins = 16;
constexpr size_t kSweepBins = 12;

// First-generation stations: both flash in each 400,000-tick (120 Hz)
// cycle, the second one's flash ending 20,000 ticks after the first's. A
// flash is told by its end: a photodiode lit late reports a later start,
// a shorter length and sometimes out of order, but the same end.
constexpr uint32_t kLh1CycleTicks = 400000;
constexpr uint32_t kLh1SameFlashTicks = 1000;
constexpr uint32_t kLh1SecondFlashMin = 12000, kLh1SecondFlashMax = 28000;
// A flash's code: (longest length - 2,750) / 500; its OOTX bit is bit 1.
constexpr uint16_t kLh1CodeBase = 2750, kLh1CodeStep = 500;

constexpr size_t kLh1Slots = 2;
constexpr size_t kLh2Channels = 16;
constexpr size_t kStations = kLh1Slots + kLh2Channels;

struct ChannelCounts {
    uint32_t pulses = 0;       // sync and sweep pulses of 0x25, sweep words of 0x28
    uint32_t syncPulses = 0;   // 0x25 pulses of kSyncMinTicks and longer
    uint32_t rawCaptures = 0;  // 0x27 entries
    uint32_t flagged = 0;      // 0x25 entries with a flag for a length
    std::array<uint32_t, kLengthBins> lengthBins{};  // 0x25 pulses

    uint32_t SweepPulses() const { return pulses - syncPulses; }
    bool Lit() const { return pulses + rawCaptures + flagged > 0; }
};

struct StationCounts {
    uint8_t generation = 0;  // 0: never seen
    uint8_t channel = 0;     // second generation: the channel; first: the slot in the cycle
    uint32_t syncs = 0;      // flashes or sync words
    uint32_t sweeps = 0;     // second generation: sweep words on this channel
    uint32_t frames = 0, badCrcFrames = 0, brokenFrames = 0;
    bool identified = false;  // a frame with a sound CRC came
    uint32_t id = 0;
    uint16_t firmwareWord = 0;
    uint16_t frameLength = 0;  // payload bytes of that frame
    OotxDecoder ootx;
};

struct ReportTally {
    uint64_t pulseReports = 0, sweepReports = 0, rawCaptureReports = 0;
    uint64_t otherReports = 0;  // another ID on the light interface
    uint64_t cutReports = 0;    // shorter than they say or than an entry
    uint64_t emptyEntries = 0, markers = 0, flagged = 0;
    uint64_t unreadableBytes = 0, channelConflicts = 0, wordsWithoutChannel = 0;
    uint8_t lastOtherId = 0;
};

class OpticalRun {
  public:
    // Who neighbours whom, before the first report: without it no sweep is
    // compared with the neighbours' (the counts are kept all the same).
    void SetNeighbours(const WireNeighbours& table) { sweepWindows.SetNeighbours(table); }
    // One report as it came from the light interface (report ID first).
    void Feed(const uint8_t* data, size_t size);
    // Closes the flash still open; call once the run is over.
    void Finish();

    const ChannelCounts& Channel(uint8_t wire) const { return channels[wire]; }
    const std::array<StationCounts, kStations>& Stations() const { return stations; }
    const ReportTally& Tally() const { return tally; }
    const SweepWindows& Sweeps() const { return sweepWindows; }
    // The generation whose reports came (2 once a sweep report came).
    uint8_t Generation() const;

  private:
    void FeedPulses(const PulseReport& r);
    void FeedSweeps(const SweepReport& r);
    void SyncPulse(const Pulse& p);
    void CloseFlash();
    void OotxBit(StationCounts& s, bool bit);

    std::array<ChannelCounts, kWireChannels> channels{};
    std::array<StationCounts, kStations> stations{};
    ReportTally tally;
    SweepWindows sweepWindows;

    // The first-generation flash being gathered.
    bool flashOpen = false;
    uint32_t flashEnd = 0;
    uint16_t flashLongest = 0;
    uint8_t flashSlot = 0;
    bool firstFlashSeen = false;
    uint32_t firstFlashEnd = 0;  // the last flash of slot 0
};

}  // namespace brisk::optical
