// The station's expectations from a profile file and the options over it,
// as rows: file text and options in, the expectations or the error out.
#include "app/station_profile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace brisk {
namespace {

struct ProfileRow {
    const char* name;
    const char* file;  // nullptr: no --station-profile; "-": one that does not exist
    std::vector<const char*> options;
    const char* expected;  // "MIN|PATTERN" ("-" for no minimum), or "error: ..." up to its end
};

std::string Expectations(const ProfileRow& row, const std::string& path) {
    std::vector<const char*> argv{"brisk"};
    argv.insert(argv.end(), row.options.begin(), row.options.end());
    if (row.file != nullptr) {
        argv.push_back("--station-profile");
        argv.push_back(path.c_str());
    }
    const CommandLine cl = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
    identity::StationExpectations e;
    std::string error;
    if (!LoadStationExpectations(cl.settings, e, error)) {
        return "error: " + error;
    }
    return (e.minFirmwareBuild ? std::to_string(*e.minFirmwareBuild) : "-") + "|" + e.serialPattern;
}

TEST(StationProfile, TheFileThenTheOptionsOverIt) {
    const ProfileRow rows[] = {
        {"nothing", nullptr, {}, "-|"},
        {"options alone",
         nullptr,
         {"--min-firmware", "100", "--serial-pattern", "LHR-*"},
         "100|LHR-*"},
        {"a profile",
         "# bench 4\nmin_firmware = 1462663157\nserial_pattern = LHR-??????? \n",
         {},
         "1462663157|LHR-???????"},
        {"options win", "min_firmware = 5\nserial_pattern = A*\n", {"--min-firmware", "7"}, "7|A*"},
        {"a mistake names its line",
         "min_firmware = 5\ncolour = red\n",
         {},
         "error: --station-profile: PATH: line 2: unknown key 'colour'"},
        {"missing", "-", {}, "error: --station-profile: cannot read PATH"},
    };
    for (const ProfileRow& row : rows) {
        std::string path = testing::TempDir() + "station-profile.txt";
        std::remove(path.c_str());
        if (row.file != nullptr && std::string(row.file) != "-") {
            std::ofstream(path) << row.file;
        }
        std::string expected = row.expected;
        const size_t at = expected.find("PATH");
        if (at != std::string::npos) {
            expected.replace(at, 4, path);
        }
        const std::string got = Expectations(row, path);
        EXPECT_EQ(got.substr(0, expected.size()), expected) << row.name << ": " << got;
        std::remove(path.c_str());
    }
}

}  // namespace
}  // namespace brisk
