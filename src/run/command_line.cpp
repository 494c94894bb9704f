#include "run/command_line.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace brisk {
namespace {

// Digits only, at least one, within a uint32_t.
bool ParseUnsigned(const char* begin, const char* end, uint32_t& out) {
    if (begin == end) {
        return false;
    }
    uint64_t v = 0;
    for (const char* p = begin; p != end; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
        v = v * 10 + static_cast<uint64_t>(*p - '0');
        if (v > std::numeric_limits<uint32_t>::max()) {
            return false;
        }
    }
    out = static_cast<uint32_t>(v);
    return true;
}

// "75" or "74.97": digits, then optionally a point and more digits.
bool ParseDecimal(const char* begin, const char* end, double& out) {
    const char* p = begin;
    while (p != end && *p >= '0' && *p <= '9') {
        ++p;
    }
    if (p == begin) {
        return false;
    }
    if (p != end) {
        if (*p != '.') {
            return false;
        }
        const char* point = p++;
        while (p != end && *p >= '0' && *p <= '9') {
            ++p;
        }
        if (p != end || p == point + 1) {
            return false;
        }
    }
    out = std::strtod(std::string(begin, end).c_str(), nullptr);
    return true;
}

bool ParseDisplayText(const char* text, RunSettings& out) {
    if (std::strcmp(text, "directmode") == 0) {
        out.display = DisplayKind::kDirectMode;
        out.extendedOutput = -1;
        return true;
    }
    if (std::strcmp(text, "none") == 0) {
        out.display = DisplayKind::kNone;
        out.extendedOutput = -1;
        return true;
    }
    static constexpr char kExtended[] = "extended";
    constexpr size_t n = sizeof kExtended - 1;
    if (std::strncmp(text, kExtended, n) != 0) {
        return false;
    }
    int output = -1;
    if (text[n] == ':') {
        uint32_t v = 0;
        const char* digits = text + n + 1;
        if (!ParseUnsigned(digits, digits + std::strlen(digits), v) ||
            v > static_cast<uint32_t>(std::numeric_limits<int>::max())) {
            return false;
        }
        output = static_cast<int>(v);
    } else if (text[n] != '\0') {
        return false;
    }
    out.display = DisplayKind::kExtended;
    out.extendedOutput = output;
    return true;
}

// A word that starts with '-' counts as a number when all of it is one:
// "-5" and "-0.5" are durations, "-x" and "--foo" are mistyped options.
bool IsNegativeNumber(const char* word) {
    if (word[1] != '.' && (word[1] < '0' || word[1] > '9')) {
        return false;
    }
    char* end = nullptr;
    std::strtod(word, &end);
    return *end == '\0';
}

// --imu-health weighs the health flags; --station-checks turns on its set.
// Items the command line gave keep their limits.
void ApplyImpliedChecks(RunSettings& settings) {
    std::string unused;
    if (settings.minFirmwareGiven || !settings.serialPattern.empty() ||
        !settings.stationProfile.empty()) {
        settings.identity = true;
    }
    if ((settings.stationChecks || !settings.expectedStations.empty()) &&
        settings.optical == OpticalMode::kOff) {
        settings.optical = OpticalMode::kAuto;
    }
    if (settings.optical != OpticalMode::kOff) {
        settings.identity = true;
    }
    if (settings.stationChecks) {
        settings.identity = true;
        settings.imuHealth = true;
        settings.failExit = true;
        if (settings.jsonPath.empty()) {
            settings.jsonPath = kStationSummaryFile;
        }
        FailOn station;
        ParseFailOn(kStationFailOn, station, unused);
        settings.failOn.limits.merge(station.limits);
    }
    if (settings.imuHealth) {
        FailOn health;
        ParseFailOn("imu-health", health, unused);
        settings.failOn.limits.merge(health.limits);
    }
}

CommandLine UsageError(std::string reason) {
    CommandLine cl;
    cl.action = CommandAction::kUsageError;
    cl.error = std::move(reason);
    return cl;
}

}  // namespace

bool ParseMetricsAddress(const char* text, std::string& host, uint16_t& port) {
    const char* end = text + std::strlen(text);
    const char* colon = std::strrchr(text, ':');
    const char* portBegin = colon != nullptr ? colon + 1 : text;
    uint32_t p = 0;
    if (!ParseUnsigned(portBegin, end, p) || p == 0 || p > 65535) {
        return false;
    }
    if (colon != nullptr) {
        std::string h(text, colon);
        if (h.size() >= 2 && h.front() == '[' && h.back() == ']') {
            h = h.substr(1, h.size() - 2);  // an IPv6 address
        } else if (h.find_first_of("[]:") != std::string::npos) {
            return false;
        }
        if (h.empty()) {
            return false;
        }
        host = h;
    }
    port = static_cast<uint16_t>(p);
    return true;
}

bool ParseModeText(const char* text, ModeRequest& out) {
    const char* end = text + std::strlen(text);
    const char* x = std::strpbrk(text, "xX");
    if (x == nullptr) {
        return false;
    }
    const char* at = std::strchr(x, '@');
    ModeRequest m;
    m.anyRefresh = at == nullptr;
    const char* heightEnd = m.anyRefresh ? end : at;
    if (!ParseUnsigned(text, x, m.width) || !ParseUnsigned(x + 1, heightEnd, m.height) ||
        m.width == 0 || m.height == 0) {
        return false;
    }
    if (!m.anyRefresh && (!ParseDecimal(at + 1, end, m.refreshHz) || !(m.refreshHz > 0.0))) {
        return false;
    }
    out = m;
    return true;
}

CommandLine ParseCommandLine(int argc, const char* const* argv, DisplayKind defaultDisplay) {
    CommandLine cl;
    RunSettings& settings = cl.settings;
    settings.display = defaultDisplay;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(arg, "--imu-serial") == 0 && hasValue) {
            settings.imuSerial = argv[++i];
            continue;
        }
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            cl.action = CommandAction::kHelp;
            return cl;
        }
        if (std::strcmp(arg, "--version") == 0) {
            cl.action = CommandAction::kVersion;
            return cl;
        }
        if (std::strcmp(arg, "--display") == 0) {
            if (!hasValue) {
                return UsageError("--display needs a KIND (directmode, extended[:N] or none)");
            }
            if (!ParseDisplayText(argv[++i], settings)) {
                return UsageError(std::string("--display: unknown kind '") + argv[i] +
                                  "' (expected directmode, extended, extended:N or none)");
            }
            continue;
        }
        if (std::strcmp(arg, "--mode") == 0) {
            if (!hasValue) {
                return UsageError("--mode needs WxH or WxH@HZ");
            }
            if (!ParseModeText(argv[++i], settings.mode)) {
                return UsageError(std::string("--mode: bad mode '") + argv[i] +
                                  "' (expected WxH or WxH@HZ, e.g. 5088x2544@75)");
            }
            continue;
        }
        if (std::strcmp(arg, "--imu-health") == 0) {
            settings.imuHealth = true;
            continue;
        }
        if (std::strcmp(arg, "--fail-on") == 0) {
            if (!hasValue) {
                return UsageError("--fail-on needs a LIST (e.g. gaps>10,stalls>0,imu-health)");
            }
            std::string error;
            if (!ParseFailOn(argv[++i], settings.failOn, error)) {
                return UsageError(error);
            }
            continue;
        }
        if (std::strcmp(arg, "--fail-exit") == 0) {
            settings.failExit = true;
            continue;
        }
        if (std::strcmp(arg, "--station-checks") == 0) {
            settings.stationChecks = true;
            continue;
        }
        if (std::strcmp(arg, "--identity") == 0) {
            settings.identity = true;
            continue;
        }
        if (std::strcmp(arg, "--optical") == 0) {
            const char* mode = hasValue ? argv[i + 1] : "";
            if (std::strcmp(mode, "auto") == 0) {
                settings.optical = OpticalMode::kAuto;
            } else if (std::strcmp(mode, "require") == 0) {
                settings.optical = OpticalMode::kRequire;
            } else {
                return UsageError("--optical needs auto or require");
            }
            ++i;
            continue;
        }
        if (std::strcmp(arg, "--light-generation") == 0) {
            const char* gen = hasValue ? argv[i + 1] : "";
            if (std::strcmp(gen, "auto") == 0) {
                settings.lightGeneration = 0;
            } else if (std::strcmp(gen, "1") == 0 || std::strcmp(gen, "2") == 0) {
                settings.lightGeneration = gen[0] - '0';
            } else {
                return UsageError("--light-generation needs 1, 2 or auto");
            }
            ++i;
            continue;
        }
        if (std::strcmp(arg, "--expect-stations") == 0) {
            const auto stations = hasValue ? ParseExpectedStations(argv[i + 1]) : std::nullopt;
            if (!stations) {
                return UsageError(
                    "--expect-stations needs channels (0-15) and 8-hex-digit ids, "
                    "comma-separated, each once (e.g. 1,925017E7)");
            }
            settings.expectedStations = *stations;
            ++i;
            continue;
        }
        if (std::strcmp(arg, "--min-firmware") == 0) {
            if (!hasValue || !ParseUnsigned(argv[i + 1], argv[i + 1] + std::strlen(argv[i + 1]),
                                            settings.minFirmware)) {
                return UsageError("--min-firmware needs a firmware build number (e.g. 1462663157)");
            }
            settings.minFirmwareGiven = true;
            ++i;
            continue;
        }
        if (std::strcmp(arg, "--serial-pattern") == 0) {
            if (!hasValue || argv[i + 1][0] == '\0') {
                return UsageError("--serial-pattern needs a PATTERN (e.g. LHR-*)");
            }
            settings.serialPattern = argv[++i];
            continue;
        }
        if (std::strcmp(arg, "--station-profile") == 0) {
            if (!hasValue || argv[i + 1][0] == '\0') {
                return UsageError("--station-profile needs a FILE");
            }
            settings.stationProfile = argv[++i];
            continue;
        }
        if (std::strcmp(arg, "--json") == 0) {
            if (!hasValue) {
                return UsageError("--json needs a FILE");
            }
            settings.jsonPath = argv[++i];
            continue;
        }
        if (std::strcmp(arg, "--counts-per-g") == 0) {
            if (!hasValue ||
                !ParseDecimal(argv[i + 1], argv[i + 1] + std::strlen(argv[i + 1]),
                              settings.countsPerG) ||
                !(settings.countsPerG > 0.0) || !std::isfinite(settings.countsPerG)) {
                return UsageError("--counts-per-g needs a positive number (e.g. 8192)");
            }
            settings.countsPerGGiven = true;
            ++i;
            continue;
        }
        if (std::strcmp(arg, "--log") == 0) {
            if (!hasValue) {
                return UsageError("--log needs a FILE");
            }
            settings.logPath = argv[++i];
            continue;
        }
        if (std::strcmp(arg, "--record") == 0) {
            if (!hasValue) {
                return UsageError("--record needs a FILE");
            }
            settings.recordFile = argv[++i];
            continue;
        }
        if (std::strcmp(arg, "--metrics") == 0) {
            if (!hasValue) {
                return UsageError("--metrics needs [HOST:]PORT");
            }
            if (!ParseMetricsAddress(argv[++i], settings.metricsHost, settings.metricsPort)) {
                return UsageError(std::string("--metrics: bad address '") + argv[i] +
                                  "' (expected PORT or HOST:PORT, port 1-65535, e.g. 9100)");
            }
            continue;
        }
        if (std::strcmp(arg, "--station") == 0) {
            if (!hasValue || argv[i + 1][0] == '\0') {
                return UsageError("--station needs a NAME");
            }
            settings.station = argv[++i];
            continue;
        }
        if (arg[0] == '-' && std::strcmp(arg, "--imu-serial") != 0 && !IsNegativeNumber(arg)) {
            return UsageError(std::string("unknown option '") + arg + "' (see --help)");
        }
        // A duration is read as atof reads it ("10s" is 10), but a word with
        // no number at its start would read as 0, which means run forever:
        // "ten" is a mistake, not an endless soak.
        char* numberEnd = nullptr;
        settings.runSeconds = std::strtod(arg, &numberEnd);
        if (numberEnd == arg) {
            settings.runSeconds = 0.0;  // MinGW's strtod gives -0 for "--imu-serial"
        }
        if (numberEnd == arg && std::strcmp(arg, "--imu-serial") != 0) {
            return UsageError(std::string("SECONDS: '") + arg +
                              "' is not a number of seconds (e.g. 60)");
        }
    }
    ApplyImpliedChecks(settings);
    return cl;
}

bool IsToolOption(const char* arg) {
    static const char* const kOptions[] = {
        "--imu-serial",
        "--help",
        "-h",
        "--version",
        "--display",
        "--mode",
        "--log",
        "--record",
        "--imu-health",
        "--counts-per-g",
        "--metrics",
        "--station",
        "--fail-on",
        "--fail-exit",
        "--station-checks",
        "--json",
        "--identity",
        "--min-firmware",
        "--serial-pattern",
        "--station-profile",
        "--optical",
        "--light-generation",
        "--expect-stations",
    };
    for (const char* option : kOptions) {
        if (std::strcmp(arg, option) == 0) {
            return true;
        }
    }
    return false;
}

std::string UsageText(DisplayKind defaultDisplay) {
    const bool noneByDefault = defaultDisplay == DisplayKind::kNone;
    return std::string(
               "usage: brisk [--imu-serial SERIAL] [--display KIND] [--mode WxH[@HZ]] [--log FILE]\n"
               "             [--record FILE] [--imu-health] [--counts-per-g N]\n"
               "             [--metrics [HOST:]PORT] [--station NAME] [--fail-on LIST]\n"
               "             [--fail-exit] [--json FILE] [--station-checks] [--identity]\n"
               "             [--min-firmware N] [--serial-pattern P] [--station-profile FILE]\n"
               "             [--optical auto|require] [--light-generation 1|2|auto]\n"
               "             [--expect-stations LIST] [SECONDS]\n"
               "       brisk --help | --version\n"
               "\n"
               "  --imu-serial SERIAL  the Watchman to use (e.g. LHR-5A1B2C3D); default: the one\n"
               "                       sharing a USB hub with the headset's MCU\n") +
           (noneByDefault
                ? "  --display KIND       none          sensors only: IMU and proximity, no display\n"
                  "                                     (the default, and the only kind here)\n"
                  "                       directmode    take the panels from the desktop (Windows)\n"
                : "  --display KIND       directmode    take the panels from the desktop (default)\n") +
           "                       extended[:N]  the headset as an ordinary desktop output:\n"
           "                                     output N of the listing, or the first with\n"
           "                                     the mode (Windows only)\n" +
           (noneByDefault
                ? ""
                : "                       none          sensors only: IMU and proximity, no display\n") +
           "  --mode WxH[@HZ]      the display mode to use (default 5088x2544@75); without\n"
           "                       @HZ any refresh rate of that size\n"
           "  --log FILE           write a CSV run log to FILE as the run goes (replaced if it\n"
           "                       exists)\n"
           "  --record FILE        record every HID transfer to FILE as a USBPcap capture\n"
           "                       (opens in Wireshark; brisk-sim --replay plays it back)\n"
           "  --imu-health         print the IMU's health figures after IMU RESULT; a stuck\n"
           "                       axis, saturation, a clock off by over 2500 ppm or a p99\n"
           "                       sample interval over 1.5 periods fails the run (the\n"
           "                       line and --fail-on imu-health)\n"
           "  --counts-per-g N     the accelerometer's counts per g (default 8192, or with\n"
           "                       --identity the range the Watchman reports)\n"
           "  --metrics [HOST:]PORT\n"
           "                       serve live figures for Prometheus at /metrics (HOST\n"
           "                       default 127.0.0.1); after the verdict it stays up until\n"
           "                       a scrape has seen it, 5 s at most\n"
           "  --station NAME       the metrics' station label; default: the host name\n"
           "  --fail-on LIST       also fail the run on these findings (comma-separated):\n"
           "                       gaps>N IMU sequence gaps, stalls>N IMU stalls,\n"
           "                       imu-absent>S seconds without the IMU, wait-timeouts>N\n"
           "                       display wait time-outs, imu-health a health flag,\n"
           "                       optical-weak a weak photodiode (with --optical); a\n"
           "                       limit of P% is a share (of the samples for gaps, of the\n"
           "                       run's seconds for the others); a name alone means >0\n"
           "  --fail-exit          a FAIL exits 1 instead of 0\n"
           "  --json FILE          write a JSON summary of the run to FILE when it ends\n"
           "                       (replaced if it exists)\n"
           "  --identity           read the Watchman's firmware, IMU range and factory\n"
           "                       configuration at the start and after each reconnect;\n"
           "                       print them, give the IMU in g and dps, and fail the run\n"
           "                       on a problem with them\n"
           "  --min-firmware N     fail a firmware build below N (implies --identity)\n"
           "  --serial-pattern P   fail a configuration serial not matching P ('*' any\n"
           "                       run, '?' one character; implies --identity)\n"
           "  --station-profile FILE\n"
           "                       min_firmware and serial_pattern as 'key = value' lines\n"
           "                       (the options win; implies --identity)\n"
           "  --optical MODE       read the Watchman's light and judge each photodiode\n"
           "                       against its neighbours (implies --identity); auto: with\n"
           "                       no base station in view nothing is judged; require:\n"
           "                       that fails the run\n"
           "  --light-generation G the base stations' generation, 1, 2 or auto (default:\n"
           "                       one, then the other when no light comes)\n"
           "  --expect-stations LIST\n"
           "                       base stations that must be seen (comma-separated): a\n"
           "                       second-generation channel, 0-15 as OPTICAL RESULT\n"
           "                       prints it, or an 8-hex-digit OOTX id; one not seen (or\n"
           "                       no station of that id) fails the run (implies\n"
           "                       --optical auto)\n"
           "  --station-checks     what a line station wants: --identity, --optical auto,\n"
           "                       --imu-health, --fail-exit, --json " +
           kStationSummaryFile +
           " (unless --json names\n"
           "                       another file) and --fail-on\n"
           "                       " +
           kStationFailOn + "\n" +
           "  SECONDS              end the run after this long (a number); default: until\n"
           "                       Ctrl+C\n"
           "  -h, --help           this text\n"
           "  --version            the version\n"
           "\n"
           "A FAIL names its reasons on a REASONS line before the verdict. Without\n"
           "--fail-on a run fails on no frames, present errors, no IMU samples, or the\n"
           "IMU or the MCU lost and not back at the end.\n"
           "\n"
           "exit codes: 0 verdict printed (PASS, or FAIL without --fail-exit), 1 FAIL with\n"
           "            --fail-exit, 2 IMU stream did not start, 3 display could not be\n"
           "            initialised, 4 display lost, 64 usage error\n";
}

}  // namespace brisk
