#include "sim/sim_command_line.h"

#include <cstring>

namespace brisk::sim {
namespace {

bool ParseFrame(const char* word, uint64_t& out) {
    size_t n = std::strlen(word);
    if (n == 0 || n > 12) {
        return false;
    }
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) {
        if (word[i] < '0' || word[i] > '9') {
            return false;
        }
        v = v * 10 + static_cast<uint64_t>(word[i] - '0');
    }
    out = v;
    return true;
}

}  // namespace

bool ParseSimCommandLine(int argc, const char* const* argv, SimOptions& out, std::string& error) {
    out = SimOptions{};
    bool haveScenario = false;
    int i = 1;
    for (; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--") == 0) {
            ++i;
            break;
        }
        if (std::strcmp(arg, "--scenario") == 0) {
            if (haveScenario) {
                error = "--scenario given twice";
                return false;
            }
            if (i + 1 >= argc) {
                error = "--scenario needs a FILE";
                return false;
            }
            haveScenario = true;
            out.scenarioFile = argv[++i];
            continue;
        }
        if (std::strcmp(arg, "--capture") == 0) {
            if (out.capture) {
                error = "--capture given twice";
                return false;
            }
            if (i + 2 >= argc) {
                error = "--capture needs FRAME and PNGFILE";
                return false;
            }
            if (!ParseFrame(argv[i + 1], out.captureFrame)) {
                error = std::string("--capture: bad frame number '") + argv[i + 1] +
                        "' (expected 0, 1, 2, ...)";
                return false;
            }
            out.capture = true;
            out.capturePng = argv[i + 2];
            i += 2;
            continue;
        }
        if (std::strcmp(arg, "--report-leaks") == 0) {
            if (out.reportLeaks) {
                error = "--report-leaks given twice";
                return false;
            }
            out.reportLeaks = true;
            continue;
        }
        break;  // the tool's arguments begin here
    }
    for (; i < argc; ++i) {
        out.toolArgs.emplace_back(argv[i]);
    }
    return true;
}

}  // namespace brisk::sim
