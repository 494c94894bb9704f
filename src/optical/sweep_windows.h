// Which photodiodes saw each base-station sweep, and so, per photodiode, how
// often it saw a sweep that one of its neighbours saw. A window is one
// sweep: for the first generation the time from one sync flash to the next,
// for the second each channel's time from one sync word to its next. Fixed
// memory; closing a window visits only the photodiodes it lit and those who
// have one of them for a neighbour.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace brisk::optical {

constexpr size_t kWireChannels = 256;
constexpr size_t kNeighbours = 4;
constexpr size_t kSweepWindows = 1 + 16;  // the first generation's, then one per channel

// The neighbours of each wire channel, as wire channels (photodiode_judge.h
// finds them from the configuration).
struct WireNeighbours {
    std::array<std::array<uint8_t, kNeighbours>, kWireChannels> wires{};
    std::array<uint8_t, kWireChannels> count{};
};

class SweepWindows {
  public:
    void SetNeighbours(const WireNeighbours& table);
    void Hit(size_t window, uint8_t wire) {
        open[window][wire >> 6] |= uint64_t{1} << (wire & 63);
        lit[window] = true;
    }
    void Close(size_t window);
    void CloseAll();

    // Sweeps one of its neighbours saw, and of those the ones it saw too.
    uint32_t NeighbourSweeps(uint8_t wire) const { return neighbourSweeps[wire]; }
    uint32_t SharedSweeps(uint8_t wire) const { return sharedSweeps[wire]; }

  private:
    using WireSet = std::array<uint64_t, kWireChannels / 64>;

    // Who has wire w for a neighbour: neighbourOf[firstOf[w] .. firstOf[w + 1]).
    std::array<uint16_t, kWireChannels + 1> firstOf{};
    std::array<uint8_t, kWireChannels * kNeighbours> neighbourOf{};
    std::array<WireSet, kSweepWindows> open{};
    std::array<bool, kSweepWindows> lit{};
    std::array<uint32_t, kWireChannels> stamp{};  // the last window that counted it
    uint32_t windowsClosed = 0;
    std::array<uint32_t, kWireChannels> neighbourSweeps{}, sharedSweeps{};
};

}  // namespace brisk::optical
