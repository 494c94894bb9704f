// Pure rules of Watchman discovery: which HID paths are the IMU interface,
// which hubs a device hangs on, and which of the found Watchmen to take.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace brisk {

// The IMU is interface MI_00; only those paths are ever opened.
bool IsMi00Path(const std::wstring& path);

// The hub a device hangs on and the hub above it, nearest first: the location
// path cut before its last "#USB(", then once more. At most two entries; the
// root hub's USBROOT step is no separator, so cutting stops there.
std::vector<std::wstring> HubPaths(const std::wstring& locationPath);

// True when the parent or grandparent hubs of two devices coincide. Never for
// an unknown (empty) place.
bool SharesHub(const std::wstring& a, const std::wstring& b);

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
