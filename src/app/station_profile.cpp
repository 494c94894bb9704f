#include "app/station_profile.h"

#include <fstream>
#include <iterator>

namespace brisk {
namespace {

// A profile is a few lines; a file far larger is not one.
constexpr std::streamsize kMaxProfileBytes = 64 * 1024;

}  // namespace

bool LoadStationExpectations(const RunSettings& settings, identity::StationExpectations& out,
                             std::string& error) {
    out = {};
    if (!settings.stationProfile.empty()) {
        const std::string& path = settings.stationProfile;
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            error = "--station-profile: cannot read " + path;
            return false;
        }
        std::string text(static_cast<size_t>(kMaxProfileBytes) + 1, '\0');
        in.read(text.data(), kMaxProfileBytes + 1);
        text.resize(static_cast<size_t>(in.gcount()));
        if (in.gcount() > kMaxProfileBytes) {
            error = "--station-profile: " + path + ": larger than 64 KiB, not a profile";
            return false;
        }
        std::string why;
        if (!identity::ParseStationProfile(text, out, why)) {
            error = "--station-profile: " + path + ": " + why;
            return false;
        }
    }
    if (settings.minFirmwareGiven) {
        out.minFirmwareBuild = settings.minFirmware;
    }
    if (!settings.serialPattern.empty()) {
        out.serialPattern = settings.serialPattern;
    }
    return true;
}

}  // namespace brisk
