#include "sim/sim_command_line.h"

#include <cstdlib>
#include <cstring>

#include "run/command_line.h"

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

// A USB device address, 1 to 127.
bool ParseAddress(const char* word, int& out) {
    uint64_t v = 0;
    if (!ParseFrame(word, v) || v < 1 || v > 127) {
        return false;
    }
    out = static_cast<int>(v);
    return true;
}

// "-5", "-0.5": a duration for the tool, not an option.
bool LooksLikeNumber(const char* word) {
    char* end = nullptr;
    std::strtod(word, &end);
    return end != word && *end == '\0';
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
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            out.help = true;
            return true;
        }
        if (std::strcmp(arg, "--version") == 0) {
            out.version = true;
            return true;
        }
        if (std::strcmp(arg, "--replay") == 0) {
            if (!out.replayFile.empty()) {
                error = "--replay given twice";
                return false;
            }
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                error = "--replay needs a FILE";
                return false;
            }
            out.replayFile = argv[++i];
            continue;
        }
        if (std::strcmp(arg, "--replay-imu") == 0 || std::strcmp(arg, "--replay-mcu") == 0) {
            int& address = arg[9] == 'i' ? out.replayImuAddress : out.replayMcuAddress;
            if (i + 1 >= argc || !ParseAddress(argv[i + 1], address)) {
                error = std::string(arg) + " needs a USB device address (1 to 127)";
                return false;
            }
            ++i;
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
        // The tool's arguments begin here. A word that looks like an option
        // but is neither ours nor the tool's is a mistyped option of ours
        // (it comes before the tool's): say so here, naming ours, rather
        // than let the tool call it one of its own.
        if (arg[0] == '-' && arg[1] != '\0' && !IsToolOption(arg) && !LooksLikeNumber(arg)) {
            error = std::string("unknown option '") + arg +
                    "' (brisk-sim's own: --scenario, --capture, --replay, --replay-imu, "
                    "--replay-mcu, --report-leaks; the tool's: brisk-sim -- --help)";
            return false;
        }
        break;
    }
    if (out.replayFile.empty() && (out.replayImuAddress != 0 || out.replayMcuAddress != 0)) {
        error = "--replay-imu and --replay-mcu need --replay FILE";
        return false;
    }
    for (; i < argc; ++i) {
        out.toolArgs.emplace_back(argv[i]);
    }
    return true;
}

std::string SimUsageText() {
    return "usage: brisk-sim [--scenario FILE] [--capture FRAME PNGFILE] [--report-leaks]\n"
           "                 [--replay FILE [--replay-imu ADDR] [--replay-mcu ADDR]] [--]\n"
           "                 [tool arguments...]\n"
           "       brisk-sim --help | --version\n"
           "\n"
           "brisk on a virtual headset inside the process.\n"
           "  --scenario FILE         timed device actions (default: a healthy headset)\n"
           "  --capture FRAME PNGFILE write frame FRAME (0-based) as an RGBA PNG\n"
           "  --report-leaks          after the run, one line on stderr with what is still open\n"
           "  --replay FILE           the Watchman and the MCU replay a USB capture: a\n"
           "                          --record of brisk, or one of a real machine (pcap or\n"
           "                          pcapng, gzip or not, USBPcap or usbmon)\n"
           "  --replay-imu ADDR       the USB address of the Watchman in that capture, and\n"
           "  --replay-mcu ADDR       of the MCU, when it lacks their device descriptors\n"
           "  -h, --help              this text\n"
           "  --version               the version\n"
           "\n"
           "The first other argument, or everything after --, goes to the tool as brisk reads\n"
           "it (brisk-sim -- --help shows the tool's options). Exit code: the tool's, or 64\n"
           "for a mistake in brisk-sim's own options or scenario.\n";
}

}  // namespace brisk::sim
