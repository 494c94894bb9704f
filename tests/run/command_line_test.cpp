#include "run/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace brisk {
namespace {

// The whole reading as one line: "run SERIAL|SECONDS|DISPLAY[:N]|WxH@HZ"
// ("@any" without a rate), "help", "version" or "error: REASON".
std::string Reading(std::vector<const char*> args) {
    args.insert(args.begin(), "brisk");
    const CommandLine cl = ParseCommandLine(static_cast<int>(args.size()), args.data());
    static const char* const kActions[] = {"run", "help", "version", "error: "};
    char line[256];
    if (cl.action != CommandAction::kRun) {
        std::snprintf(line, sizeof line, "%s%s", kActions[static_cast<int>(cl.action)],
                      cl.error.c_str());
        return line;
    }
    const RunSettings& s = cl.settings;
    static const char* const kKinds[] = {"directmode", "extended", "none"};
    char output[16] = "";
    if (s.extendedOutput >= 0) {
        std::snprintf(output, sizeof output, ":%d", s.extendedOutput);
    }
    char hz[32] = "any";
    if (!s.mode.anyRefresh) {
        std::snprintf(hz, sizeof hz, "%f", s.mode.refreshHz);
    }
    std::snprintf(line, sizeof line, "run %s|%g|%s%s|%ux%u@%s", s.imuSerial.c_str(), s.runSeconds,
                  kKinds[static_cast<int>(s.display)], output, s.mode.width, s.mode.height, hz);
    return line;
}

TEST(CommandLine, ReadsEachFormAndRefusesWhatNoOptionTakes) {
    // Errors are checked up to the end of the quoted word.
    const std::string manyNines(400, '9');  // a number past any double
    const std::pair<std::vector<const char*>, const char*> cases[] = {
        {{}, "run |0|directmode|5088x2544@75.000000"},
        {{"10", "--imu-serial", "ABC", "20"}, "run ABC|20|directmode|"},  // the last number wins
        {{"30", "--imu-serial"}, "run |0|"},                     // trailing: read as a number
        {{"--imu-serial", "--bogus", "12"}, "run --bogus|12|"},  // the serial is verbatim
        {{"-5"}, "run |-5|"},
        {{"-0.5"}, "run |-0.5|"},
        {{"abc"}, "error: SECONDS: 'abc' is not a number of seconds (e.g. 60)"},
        {{"10", "ten"}, "error: SECONDS: 'ten'"},
        {{"x10"}, "error: SECONDS: 'x10'"},
        {{"  2.5s"}, "run |2.5|"},
        {{"--display", "none", "3"}, "run |3|none|"},
        {{"--display", "extended"}, "run |0|extended|"},
        {{"--display", "extended:12"}, "run |0|extended:12|"},
        {{"--display", "extended:0", "--display", "directmode"}, "run |0|directmode|"},
        {{"--mode", "1920x1080@90"}, "run |0|directmode|1920x1080@90.000000"},
        {{"--mode", "5088X2544@74.97"}, "run |0|directmode|5088x2544@74.970000"},
        {{"--mode", "3840x1920"}, "run |0|directmode|3840x1920@any"},
        {{"--help", "--bogus"}, "help"},
        {{"5", "-h"}, "help"},
        {{"--version"}, "version"},
        {{"--display"}, "error: --display needs a KIND (directmode, extended[:N] or none)"},
        {{"--log", "run.csv", "4"}, "run |4|directmode|"},
        {{"4", "--log"}, "error: --log needs a FILE"},
        {{"--display", "bogus"}, "error: --display: unknown kind 'bogus' (expected directmode,"},
        {{"--display", "extended:"}, "error: --display: unknown kind 'extended:'"},
        {{"--display", "extended:-1"}, "error: --display: unknown kind 'extended:-1'"},
        {{"--display", "extended:99999999999"}, "error: --display: unknown kind 'extended:9"},
        {{"--display", "None"}, "error: --display: unknown kind 'None'"},
        {{"--mode"}, "error: --mode needs WxH or WxH@HZ"},
        {{"--mode", "12x"}, "error: --mode: bad mode '12x' (expected WxH or WxH@HZ, e.g."},
        {{"--mode", "0x10"}, "error: --mode: bad mode '0x10'"},
        {{"--mode", "10x10@"}, "error: --mode: bad mode '10x10@'"},
        {{"--mode", "10x10@0"}, "error: --mode: bad mode '10x10@0'"},
        {{"--mode", "10x10@60."}, "error: --mode: bad mode '10x10@60.'"},
        {{"--mode", "10x10@1e2"}, "error: --mode: bad mode '10x10@1e2'"},
        {{"--mode", "10x10x10"}, "error: --mode: bad mode '10x10x10'"},
        {{"--mode", "4294967296x10"}, "error: --mode: bad mode '4294967296x10'"},
        {{"3", "--imu-serial=ABC"}, "error: unknown option '--imu-serial=ABC' (see --help)"},
        {{"--IMU-SERIAL", "7"}, "error: unknown option '--IMU-SERIAL'"},
        {{"-"}, "error: unknown option '-'"},
        {{"-5s"}, "error: unknown option '-5s'"},
        {{"--imu-health", "--counts-per-g", "4096", "6"}, "run |6|directmode|"},
        {{"--counts-per-g"}, "error: --counts-per-g needs a positive number (e.g. 8192)"},
        {{"--counts-per-g", "0"}, "error: --counts-per-g needs a positive number"},
        {{"--counts-per-g", "-8192"}, "error: --counts-per-g needs a positive number"},
        {{"--counts-per-g", "1e4"}, "error: --counts-per-g needs a positive number"},
        {{"--counts-per-g", manyNines.c_str()}, "error: --counts-per-g needs a posi"},
    };
    for (const auto& [args, expected] : cases) {
        const std::string reading = Reading(args);
        EXPECT_EQ(reading.substr(0, std::strlen(expected)), expected) << "got: " << reading;
    }
}

TEST(CommandLine, ImuHealthIsOffUnlessAsked) {
    const char* plain[] = {"brisk", "5"};
    const char* asked[] = {"brisk", "--counts-per-g", "4096.5", "--imu-health"};
    const RunSettings off = ParseCommandLine(2, plain).settings;
    const RunSettings on = ParseCommandLine(4, asked).settings;
    EXPECT_FALSE(off.imuHealth);
    EXPECT_EQ(off.countsPerG, 8192.0);
    EXPECT_TRUE(on.imuHealth);
    EXPECT_EQ(on.countsPerG, 4096.5);
}

}  // namespace
}  // namespace brisk
