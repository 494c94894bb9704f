#include "identity/station.h"

#include <charconv>

namespace brisk::identity {
namespace {

std::string_view Trim(std::string_view s) {
    const size_t first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// One "key = value" line into `out`; false with the reason.
bool ParseLine(std::string_view line, StationExpectations& out, bool& hadFirmware, bool& hadPattern,
               std::string& why) {
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
        why = "expected key = value";
        return false;
    }
    const std::string_view key = Trim(line.substr(0, eq));
    const std::string_view value = Trim(line.substr(eq + 1));
    bool& seen = key == "min_firmware" ? hadFirmware : hadPattern;
    if (key != "min_firmware" && key != "serial_pattern") {
        why = "unknown key '" + std::string(key) + "' (known: min_firmware, serial_pattern)";
        return false;
    }
    if (seen) {
        why = std::string(key) + " given twice";
        return false;
    }
    seen = true;
    if (key == "serial_pattern") {
        if (value.empty() || value.find_first_of(" \t") != std::string_view::npos) {
            why = "serial_pattern needs one word";
            return false;
        }
        out.serialPattern = std::string(value);
        return true;
    }
    uint32_t build = 0;
    if (!ParseFirmwareBuild(value, build, why)) {
        return false;
    }
    out.minFirmwareBuild = build;
    return true;
}

}  // namespace

bool ParseFirmwareBuild(std::string_view text, uint32_t& out, std::string& error) {
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        // Built in a string of its own: MinGW's gcc 12 at -O3 sees overlap
        // in a short literal copied into the caller's string (-Wrestrict).
        std::string why(1, '\'');
        why.append(text).append("' is no firmware build number (0 to 4294967295)");
        error = std::move(why);
        return false;
    }
    out = value;
    return true;
}

bool ParseStationProfile(std::string_view text, StationExpectations& out, std::string& error) {
    StationExpectations read = out;
    bool hadFirmware = false, hadPattern = false;
    size_t number = 0;
    while (!text.empty()) {
        ++number;
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        line = Trim(line.substr(0, line.find('#')));
        std::string why;
        if (!line.empty() && !ParseLine(line, read, hadFirmware, hadPattern, why)) {
            error = "line " + std::to_string(number) + ": " + why;
            return false;
        }
    }
    out = read;
    return true;
}

bool SerialMatches(std::string_view pattern, std::string_view serial) {
    // Greedy with one backtrack point: the last '*' seen.
    size_t p = 0, s = 0, star = std::string_view::npos, resume = 0;
    while (s < serial.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == serial[s])) {
            ++p;
            ++s;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = s;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            s = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

Problems CheckStation(const UnitFacts& unit, const StationExpectations& expect) {
    Problems problems;
    const std::string serial = unit.config != nullptr ? unit.config->serial : std::string();
    if (!serial.empty() && unit.usbSerial && !unit.usbSerial->empty() &&
        *unit.usbSerial != serial) {
        problems.push_back(
            {code::kConfigSerialMismatch,
             "configuration serial " + serial + " is not the USB serial " + *unit.usbSerial});
    }
    if (unit.firmware != nullptr && expect.minFirmwareBuild &&
        unit.firmware->build < *expect.minFirmwareBuild) {
        problems.push_back({code::kFirmwareTooOld,
                            "firmware build " + std::to_string(unit.firmware->build) +
                                " is older than " + std::to_string(*expect.minFirmwareBuild)});
    }
    if (!serial.empty() && !expect.serialPattern.empty() &&
        !SerialMatches(expect.serialPattern, serial)) {
        problems.push_back({code::kSerialPattern, "configuration serial " + serial +
                                                      " does not match " + expect.serialPattern});
    }
    return problems;
}

}  // namespace brisk::identity
