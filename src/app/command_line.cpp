#include "app/command_line.h"

#include <cstdlib>
#include <cstring>

namespace brisk {

RunSettings ParseCommandLine(int argc, const char* const* argv) {
    RunSettings settings;
    for (int i = 1; i < argc; ++i) {
        // The option needs a value after it; as the last argument it is read
        // as a number like any other word (and so sets the duration to 0).
        if (std::strcmp(argv[i], "--imu-serial") == 0 && i + 1 < argc) {
            settings.imuSerial = argv[++i];
            continue;
        }
        settings.runSeconds = std::atof(argv[i]);
    }
    return settings;
}

}  // namespace brisk
