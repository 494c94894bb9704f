// Command lines of brisk and brisk-sim, as a bench script (or a typo) may
// hand them over, through both parsers and from brisk-sim on to the tool.
//
// Input: the arguments after the program name, separated by zero bytes.
#include <algorithm>
#include <cmath>

#include "run/command_line.h"
#include "fuzz_support.h"
#include "sim/sim_command_line.h"

namespace {

std::vector<const char*> Argv(const char* program, const std::vector<std::string>& args) {
    std::vector<const char*> argv{program};
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
    }
    return argv;
}

bool SameNumber(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

brisk::CommandLine Parse(const std::vector<std::string>& args) {
    const std::vector<const char*> argv = Argv("brisk", args);
    return brisk::ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

// The tool's reading of a run, told independently: "--imu-serial" takes the
// next word when there is one, "--display", "--mode", "--log", "--record",
// "--counts-per-g", "--metrics", "--station", "--fail-on", "--json",
// "--min-firmware", "--serial-pattern" and "--station-profile" take theirs
// (the last three turn on "--identity"), "--imu-health", "--fail-exit",
// "--identity" and "--station-checks" none (the last turns on "--imu-health",
// "--identity" and "--optical auto" unless "--optical" is given), "--optical"
// takes auto or require (and turns on "--identity"), "--light-generation"
// 1, 2 or auto (0), "--expect-stations" a list of channels (one or two
// digits) and ids (eight hex digits), which turns on "--optical auto" unless
// "--optical" is given, every other word is a duration read as atof reads it,
// the last one winning.
void CheckTool(const std::vector<std::string>& args) {
    const brisk::CommandLine cl = Parse(args);
    FUZZ_CHECK(cl.error.empty() == (cl.action != brisk::CommandAction::kUsageError));
    if (cl.action != brisk::CommandAction::kRun) {
        return;
    }
    const brisk::RunSettings& s = cl.settings;
    std::string serial, log, record;
    double seconds = 0.0;
    bool imuHealth = false;
    bool identity = false;
    std::string pattern, profile;
    bool stationChecks = false;
    brisk::OpticalMode optical = brisk::OpticalMode::kOff;
    int generation = 0;
    size_t expected = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--imu-serial" && i + 1 < args.size()) {
            serial = args[++i];
        } else if (args[i] == "--display" || args[i] == "--mode") {
            ++i;
        } else if (args[i] == "--log") {
            log = args[++i];  // a run has it: without one it is a usage error
        } else if (args[i] == "--record") {
            record = args[++i];
        } else if (args[i] == "--imu-health") {
            imuHealth = true;
        } else if (args[i] == "--station-checks") {
            imuHealth = identity = stationChecks = true;
        } else if (args[i] == "--optical") {
            ++i;  // a run has auto or require
            optical = args[i] == "auto" ? brisk::OpticalMode::kAuto : brisk::OpticalMode::kRequire;
        } else if (args[i] == "--light-generation") {
            ++i;
            generation = args[i] == "auto" ? 0 : std::atoi(args[i].c_str());
        } else if (args[i] == "--expect-stations") {
            const std::string& list = args[++i];  // a run has a valid list
            expected = static_cast<size_t>(std::count(list.begin(), list.end(), ',')) + 1;
            for (const brisk::ExpectedStation& e : s.expectedStations) {
                FUZZ_CHECK(e.kind == brisk::ExpectedStation::Kind::kId ||
                           e.value <= brisk::kMaxStationChannel);
            }
        } else if (args[i] == "--identity") {
            identity = true;
        } else if (args[i] == "--min-firmware") {
            identity = true;
            ++i;
        } else if (args[i] == "--serial-pattern") {
            identity = true;
            pattern = args[++i];
        } else if (args[i] == "--station-profile") {
            identity = true;
            profile = args[++i];
        } else if (args[i] == "--fail-exit") {
            continue;
        } else if (args[i] == "--counts-per-g" || args[i] == "--metrics" ||
                   args[i] == "--station" || args[i] == "--fail-on" || args[i] == "--json") {
            ++i;  // a run has a valid value: without one it is a usage error
        } else {
            seconds = std::atof(args[i].c_str());
        }
    }
    if ((stationChecks || expected > 0) && optical == brisk::OpticalMode::kOff) {
        optical = brisk::OpticalMode::kAuto;
    }
    identity = identity || optical != brisk::OpticalMode::kOff;
    FUZZ_CHECK(s.optical == optical && s.lightGeneration == generation);
    FUZZ_CHECK(s.expectedStations.size() == expected);
    FUZZ_CHECK(s.imuSerial == serial);
    FUZZ_CHECK(s.logPath == log && s.recordFile == record);
    FUZZ_CHECK(s.imuHealth == imuHealth);
    FUZZ_CHECK(s.identity == identity);
    FUZZ_CHECK(s.serialPattern == pattern && s.stationProfile == profile);
    FUZZ_CHECK(std::isfinite(s.countsPerG) && s.countsPerG > 0.0);
    FUZZ_CHECK(SameNumber(s.runSeconds, seconds));
    FUZZ_CHECK(s.mode.width > 0 && s.mode.height > 0 && s.mode.refreshHz > 0.0);
    FUZZ_CHECK((s.extendedOutput >= 0) <= (s.display == brisk::DisplayKind::kExtended));
}

void CheckSim(const std::vector<std::string>& args) {
    const std::vector<const char*> argv = Argv("brisk-sim", args);
    brisk::sim::SimOptions o;
    std::string error;
    const bool ok =
        brisk::sim::ParseSimCommandLine(static_cast<int>(argv.size()), argv.data(), o, error);
    if (!ok) {
        FUZZ_CHECK(!error.empty());
        return;
    }
    // The tool gets a tail of the arguments, unchanged.
    FUZZ_CHECK(o.toolArgs.size() <= args.size());
    const size_t first = args.size() - o.toolArgs.size();
    for (size_t i = 0; i < o.toolArgs.size(); ++i) {
        FUZZ_CHECK(o.toolArgs[i] == args[first + i]);
    }
    if (o.help || o.version) {
        FUZZ_CHECK(o.toolArgs.empty());
        return;
    }
    // Starting with a word of the tool's, everything goes to the tool, which
    // then reads it exactly as brisk would.
    const bool toolWord = args.empty() || (args[0] != "-h" && args[0].compare(0, 2, "--") != 0) ||
                          args[0] == "--imu-serial" || args[0] == "--display" ||
                          args[0] == "--mode" || args[0] == "--log" || args[0] == "--record";
    if (toolWord) {
        FUZZ_CHECK(o.toolArgs == args);
        FUZZ_CHECK(o.scenarioFile.empty() && !o.capture);
    }
    CheckTool(o.toolArgs);
    if (o.capture) {
        FUZZ_CHECK(o.captureFrame <= 999999999999ull);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args;
    if (size > 0) {
        args = brisk::fuzz::Split(data, size, '\0');
    }
    CheckTool(args);
    CheckSim(args);
    return 0;
}
