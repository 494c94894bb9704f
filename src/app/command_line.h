// The tool's command line: "--imu-serial SERIAL" and an optional run duration.
#pragma once

#include <string>

namespace brisk {

struct RunSettings {
    std::string imuSerial;    // empty: choose the Watchman paired with the MCU
    double runSeconds = 0.0;  // > 0: the present loop ends by itself after this long
};

// Reads the arguments after the program name, left to right. "--imu-serial"
// takes the next argument as the serial; anything else is a number read the
// way atof reads it (text that is not a number is 0), the last one winning.
// There is no usage error: a bench script's typo must not stop a soak run.
RunSettings ParseCommandLine(int argc, const char* const* argv);

}  // namespace brisk
