// The virtual Watchman's light interface: what its photodiodes see of the
// base stations in the room, sent as the real units send it (second IN
// endpoint, tests/data/real), from the photodiodes the unit's configuration
// lists (sim/watchman_identity.h).
//
// The room holds two base stations of one generation, a little above the
// unit and two metres in front of it (the configuration's -z). A photodiode
// sees a station when it faces it (within 70 degrees of the direction to it);
// those on the back of the shell see nothing, as in the real calibration
// recordings.
//
// First generation (400,000-tick cycles, 120 a second, as index-lhv1): both
// stations flash each cycle, the second's flash ending 20,000 ticks after
// the first's; a flash lasts 3,000 + 500 * code ticks, the code holding the
// skip bit (4), the station's next OOTX bit (2) and the axis (1). One
// station sweeps per cycle, by turns: its laser crosses each photodiode that
// faces it at a time set by the angle, with a pulse of 120-417 ticks.
// Second generation (as vive-index-cal): each station spins on its own
// channel at about 50 turns a second; each turn it sends one sync word (its
// next OOTX bit) and crosses each photodiode facing it twice.
//
// The host picks the format with feature report 0x04 (`04 00`: 0x25 pulses,
// the power-up format; `04 01`: 0x28 sweep words); 0x07 is accepted and
// kept. In 0x25 a second-generation room gives flagged entries (lengths
// 0x8000-0x8001), as the real units send before the host switches them; in
// 0x28 a first-generation room gives nothing. Each station's OOTX frame (ID,
// firmware, CRC32: the real payload sizes, 33 and 43 bytes) repeats
// back to back.
//
// Faults, by wire channel: dead (nothing), weak (1 pulse in 200), abnormal
// (first generation: runt sweep pulses of 3 ticks; second: every sweep word
// sent 20 times, a photodiode that chatters); a station off; the stream
// stopped. Reports are built in fixed arrays: nothing is allocated per report
// beyond the bus's own vector.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include "sim/usb_bus.h"
#include "sim/watchman_identity.h"

namespace brisk::sim {

constexpr uint8_t kLightFormatReport = 0x04;
constexpr uint8_t kLightModeReport = 0x07;
constexpr uint8_t kLightPulseReport = 0x25;
constexpr uint8_t kLightSweepReport = 0x28;
constexpr uint8_t kLightReportBytes = 64;

enum class PhotodiodeFault : uint8_t { kNone, kDead, kWeak, kAbnormal };

// One base station of the room.
struct VirtualStation {
    double position[3] = {};
    uint32_t id = 0;
    uint16_t firmwareWord = 0;  // firmware << 6 | protocol
    uint8_t channel = 0;        // second generation
};

// The room's stations of a generation (1 or 2), index 0 or 1.
const VirtualStation& RoomStation(int generation, size_t index);

class LightModel final : public HidInterfaceModel {
  public:
    static constexpr size_t kStations = 2;
    static constexpr size_t kMaxPhotodiodes = 32;
    static constexpr uint32_t kWeakKeepsOneIn = 200;
    static constexpr uint32_t kChatter = 20;

    // `start` is model time zero: the time stamps count from it.
    explicit LightModel(std::vector<VirtualPhotodiode> photodiodes,
                        Clock::time_point start = Clock::now());

    // Controls, from any thread; the caller then calls UsbBus::Notify.
    void SetGeneration(int generation);  // 1 or 2 (default 2); others ignored
    void SetStationOn(size_t index, bool on);
    void SetFault(int wire, PhotodiodeFault fault);  // a wire not in the layout: ignored
    void SetStreaming(bool on);                      // off: nothing is sent until on again
    // What the host last chose with 0x04 (0x25 or 0x28) and sent in 0x07.
    uint8_t Format() const;
    uint8_t Mode() const;
    uint64_t ReportsSent() const;

    void Produce(Clock::time_point now, std::vector<InputReport>& out) override;
    Clock::time_point NextDue(Clock::time_point now) const override;
    bool OnFeature(const uint8_t* report, size_t length, Clock::time_point now) override;
    // Raw captures, pulses and sweep words, and the other input, as the
    // unit's light interface declares them.
    std::optional<std::vector<uint8_t>> InputReportIds() const override {
        return std::vector<uint8_t>{0x21, 0x25, 0x27, 0x28};
    }
    FeatureResult OnGetFeature(uint8_t reportId, uint8_t* buf, uint32_t length,
                               Clock::time_point now) override;

  private:
    struct Event {
        uint64_t start = 0;  // device ticks since model time zero
        uint16_t length = 0;
        uint8_t wire = 0;
        uint8_t channel = 0;  // second generation: the station's channel
        bool sync = false;
        bool ootxBit = false;
        uint8_t station = 0;
        uint64_t End() const { return start + length; }
    };
    // One source of events in time order: the first generation's cycles, or
    // one second-generation station's turns.
    struct Stream {
        std::array<Event, 256> events{};
        uint16_t count = 0, next = 0;
        uint64_t round = 0;  // the cycle or turn `events` holds
        bool Pending() const { return next < count; }
    };
    struct Photodiode {
        VirtualPhotodiode where;
        PhotodiodeFault fault = PhotodiodeFault::kNone;
        uint32_t weakCount = 0;
        bool faces[kStations] = {};
        double angle[kStations][2] = {};  // radians, horizontal and vertical from the station
    };

    void Restart(uint64_t ticks);
    void Fill(size_t stream, uint64_t round);
    void FillCycle(Stream& s, uint64_t cycle);
    void FillTurn(Stream& s, size_t station, uint64_t turn);
    void Push(Stream& s, const Event& e);
    bool Keeps(Photodiode& p);
    const Event* Peek(uint64_t dueBy, size_t& stream);
    bool FrameBit(size_t station, uint64_t round) const;
    void EmitPulses(uint64_t now, std::vector<InputReport>& out);
    void EmitSweeps(uint64_t now, std::vector<InputReport>& out);
    uint64_t TicksAt(Clock::time_point t) const;
    uint64_t RoundStart(size_t stream, uint64_t round) const;
    size_t ActiveStreams() const;

    mutable std::mutex mtx;
    Clock::time_point start;
    std::vector<Photodiode> photodiodes;                        // fixed after construction
    std::array<std::vector<uint8_t>, 2 * kStations> frameBits;  // [generation-1][station]
    int generation = 2;
    bool stationOn[kStations] = {true, true};
    bool streaming = true;
    uint8_t format = kLightPulseReport;
    uint8_t mode = 0;
    std::array<Stream, kStations> streams;
    uint64_t doneTicks = 0;  // the device time of the last Produce
    uint64_t sent = 0;
};

}  // namespace brisk::sim
