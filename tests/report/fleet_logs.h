// Run logs of a lab's stations, written with the tool's own row functions
// (so with every column the log writer writes, `station` and `event` among
// them): a run of any length on any station and IMU, with IMU unplugs, dons
// and doffs, present errors and a cut-off end to order.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

namespace brisk::test {

struct FleetLogShape {
    std::string station = "bench-1";
    std::string imuSerial = "LHR-5A1B2C3D";
    int seconds = 60;  // status rows, one a second
    std::chrono::system_clock::time_point start =
        std::chrono::system_clock::time_point(std::chrono::seconds(1796688000));  // 2026-12-08
    int imuUnplugs = 0;          // each: the IMU lost for 2 s, then back
    int imuGoneAt = 0;           // when not 0: the IMU lost at this second, and not back
    int donDoffs = 0;            // each: a don, then a doff
    uint64_t presentErrors = 0;  // any makes the run a FAIL
    uint64_t seqGaps = 0;        // spread over the run
    double p99Ms = 14.02;
    bool finished = true;  // result lines and a summary row at the end
    // --optical: a unit of this many photodiodes, the first `deadPhotodiodes`
    // of them dead; 0: a run without it.
    int photodiodes = 0;
    int deadPhotodiodes = 0;
};

void WriteFleetLog(std::ostream& out, const FleetLogShape& shape);
std::string MakeFleetLog(const FleetLogShape& shape);

}  // namespace brisk::test
