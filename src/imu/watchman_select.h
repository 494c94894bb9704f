// The pure rule of Watchman discovery: which of the found Watchmen to take.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace brisk {

// What the chooser needs to know of one opened Watchman.
struct CandidateInfo {
    std::wstring serial;
    bool paired = false;
};

constexpr size_t kNoCandidate = static_cast<size_t>(-1);

// The candidate to take, or kNoCandidate. With a serial requested: the first
// whose serial equals it exactly, pairing aside. Without: the paired one, but
// only when exactly one is paired.
size_t ChooseWatchman(const std::vector<CandidateInfo>& candidates,
                      const std::wstring& requestedSerial);

}  // namespace brisk
