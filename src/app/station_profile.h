// What the station expects of the unit on its bench: the profile file
// (--station-profile) first, then --min-firmware and --serial-pattern over it.
#pragma once

#include <string>

#include "identity/station.h"
#include "run/command_line.h"

namespace brisk {

// False, with the line to print ("--station-profile: FILE: line 3: ..."),
// when the profile cannot be read or holds a mistake.
bool LoadStationExpectations(const RunSettings& settings, identity::StationExpectations& out,
                             std::string& error);

}  // namespace brisk
