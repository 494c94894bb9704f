#include "optical/sweep_windows.h"

#include <bit>

namespace brisk::optical {

void SweepWindows::SetNeighbours(const WireNeighbours& table) {
    // Reversed, as a compact list per wire: closing a window then starts from
    // the few photodiodes it lit.
    std::array<uint16_t, kWireChannels + 1> fill{};
    for (size_t w = 0; w < kWireChannels; ++w) {
        for (uint8_t k = 0; k < table.count[w] && k < kNeighbours; ++k) {
            ++fill[table.wires[w][k] + 1];
        }
    }
    for (size_t w = 0; w < kWireChannels; ++w) {
        fill[w + 1] = static_cast<uint16_t>(fill[w + 1] + fill[w]);
    }
    firstOf = fill;
    for (size_t w = 0; w < kWireChannels; ++w) {
        for (uint8_t k = 0; k < table.count[w] && k < kNeighbours; ++k) {
            neighbourOf[fill[table.wires[w][k]]++] = static_cast<uint8_t>(w);
        }
    }
}

void SweepWindows::Close(size_t window) {
    if (window >= kSweepWindows || !lit[window]) {
        return;  // nothing seen: no evidence for or against anyone
    }
    const WireSet& seen = open[window];
    ++windowsClosed;
    for (size_t word = 0; word < seen.size(); ++word) {
        for (uint64_t bits = seen[word]; bits != 0; bits &= bits - 1) {
            const size_t lit = word * 64 + static_cast<size_t>(std::countr_zero(bits));
            for (uint16_t e = firstOf[lit]; e < firstOf[lit + 1]; ++e) {
                const uint8_t wire = neighbourOf[e];
                if (stamp[wire] == windowsClosed) {
                    continue;  // counted for this sweep already, through another neighbour
                }
                stamp[wire] = windowsClosed;
                ++neighbourSweeps[wire];
                sharedSweeps[wire] += (seen[wire >> 6] >> (wire & 63)) & 1;
            }
        }
    }
    open[window] = WireSet{};
    lit[window] = false;
}

void SweepWindows::CloseAll() {
    for (size_t w = 0; w < kSweepWindows; ++w) {
        Close(w);
    }
}

}  // namespace brisk::optical
