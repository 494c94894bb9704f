// The identity's words for the console: the bring-up block printed after
// each read, and the line that notices a different unit on the same port.
// Pure, so the exact text is tested.
#pragma once

#include <string>

#include "identity/identity_reader.h"

namespace brisk::identity {

// Four lines, newline included:
//   Watchman firmware: build 1462663157, hardware rev 3 (1.2.0), FPGA 1.9
//   Watchman IMU range: 2000 dps, 8 g
//   Watchman configuration: serial LHR-5A1B2C3D, 32 photodiodes
//   Watchman identity problems: none
// An item that could not be read says "not read" and why; one a replayed
// capture does not hold says "not captured". `all` is AllProblems().
std::string FormatIdentityBlock(const Identity& identity, const Problems& all);

// `text` with every control character as '?': what a device sent goes to
// the console only so.
std::string Printable(std::string text);

// The serial a unit goes by: its configuration's when read, else its USB
// serial; empty when neither is known.
std::string UnitSerial(const Identity& identity, const std::string& usbSerial);

// Whether the unit read now is another than the one read before on the same
// port: both serials known and different.
bool DifferentUnit(const std::string& before, const std::string& now);

// The problem and the line for a different unit after a reconnect.
Problem UnitChangedProblem(const std::string& before, const std::string& now);

}  // namespace brisk::identity
