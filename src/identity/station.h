// What a line station expects of the unit on its bench, from options or a
// small profile file, and the checks of the unit's identity against it and
// against itself (its configuration's serial against its USB serial).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "identity/feature_reports.h"
#include "identity/problem.h"
#include "identity/watchman_config.h"

namespace brisk::identity {

struct StationExpectations {
    std::optional<uint32_t> minFirmwareBuild;
    std::string serialPattern;  // '*' any run, '?' any one character; empty: any serial
    bool operator==(const StationExpectations&) const = default;
};

// A profile: "key = value" lines, '#' to the end of a line is a comment,
// blank lines are ignored. Keys: min_firmware (a build number),
// serial_pattern. Values it holds replace those in `out`. False, with
// "line N: reason" in `error`, at the first mistake.
bool ParseStationProfile(std::string_view text, StationExpectations& out, std::string& error);

// False, with the reason, for a value --min-firmware or min_firmware cannot take.
bool ParseFirmwareBuild(std::string_view text, uint32_t& out, std::string& error);

bool SerialMatches(std::string_view pattern, std::string_view serial);

// What is known of the unit. A null pointer or an absent USB serial is
// something not read (or not in the capture): no check is made of it, and
// it is never a mismatch.
struct UnitFacts {
    const WatchmanConfig* config = nullptr;
    const FirmwareVersion* firmware = nullptr;
    std::optional<std::string> usbSerial;
};

// config_serial_mismatch, firmware_too_old and serial_pattern, in that order.
Problems CheckStation(const UnitFacts& unit, const StationExpectations& expect);

}  // namespace brisk::identity
