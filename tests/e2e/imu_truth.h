// What a capture's IMU reports hold, counted from tshark's fields alone and
// by a rule written here on its own: the truth the tool's totals are held to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brisk::e2e {

// The data of every interrupt IN completion of `endpoint` that tshark finds
// in `file` (at `address`; 0: any), as bytes, in capture order; a completion
// that failed (a USBPcap status) is an empty one: the device left.
std::vector<std::vector<uint8_t>> TsharkInputReports(const std::string& file, int address,
                                                     const char* endpoint = "0x81");

struct ImuTruth {
    long long reports = 0;  // IMU reports: ID 0x20, 52 bytes or more
    long long samples = 0;  // new samples in them
    long long breaks = 0;   // new samples whose number does not follow the one before
};

// Each report, the sample that comes next after the last one taken is taken,
// again and again: the one whose number is fewest steps ahead (a repeat
// ahead by none only with a new time stamp). Slots of all zeros are empty.
// After a loss the first sample is taken as it comes.
ImuTruth CountImuTruth(const std::vector<std::vector<uint8_t>>& reports);

}  // namespace brisk::e2e
