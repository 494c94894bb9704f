// brisk-sim's own command line:
//   brisk-sim [--scenario FILE] [--capture FRAME PNGFILE] [--report-leaks]
//             [--replay FILE [--replay-imu ADDR] [--replay-mcu ADDR]] [--]
//             [tool arguments...]
//   brisk-sim --help | -h | --version
// Its options come first; the first other argument, or everything after
// "--", goes to the tool unchanged, exactly as brisk would read it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brisk::sim {

struct SimOptions {
    std::string scenarioFile;  // empty: the default healthy headset, no actions
    bool capture = false;
    uint64_t captureFrame = 0;  // 0-based frame index
    std::string capturePng;
    // After the run, one line on stderr with what is still open on the
    // virtual bus and the software GPU (soak tests look for leaks with it).
    bool reportLeaks = false;
    // A capture whose Watchman and MCU reports, losses and returns replace
    // the models'; the USB addresses name the devices when its descriptors
    // are missing (0: find them by their descriptors).
    std::string replayFile;
    int replayImuAddress = 0;
    int replayMcuAddress = 0;
    std::vector<std::string> toolArgs;  // without a program name
    bool help = false;                  // print SimUsageText and run nothing
    bool version = false;               // print the version and run nothing
};

// False with `error` set (without the "brisk-sim: " prefix) on a bad option.
// "--help", "-h" and "--version" among its own options end the reading.
bool ParseSimCommandLine(int argc, const char* const* argv, SimOptions& out, std::string& error);

// brisk-sim's own help text, whole lines.
std::string SimUsageText();

}  // namespace brisk::sim
