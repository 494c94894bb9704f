// Finding and opening the headset's Watchman IMU interface (USB 28DE:2300,
// HID interface MI_00) through a HidHost. Only OpenWatchman is meant for
// callers outside the IMU stream; the helpers are here for the tests.
#pragma once

#include <string>
#include <vector>

#include "platform/hid.h"

namespace brisk {

// Enumerates every present HID interface, opens each Watchman MI_00, reads its
// serial, pairs it with the headset MCU by their USB hubs, and keeps one:
// the one whose serial equals `requestedSerial`, or with none requested the
// only MCU-paired one. Every other handle is closed before returning.
// `chosenOut` (optional) receives the chosen serial. With `verbose` the count
// line goes to stdout and, when nothing could be chosen, the candidate listing
// to stderr. kInvalidHandle when nothing is chosen.
Handle OpenWatchman(HidHost& host, const std::wstring& requestedSerial, std::wstring* chosenOut,
                    bool verbose);

// Location paths of the MCU's USB device nodes (interface nodes passed over).
std::vector<std::wstring> McuLocationPaths(HidHost& host);

// Climbs at most 6 parents from `node` to the first whose upper-cased device
// ID begins with `idPrefix` and is no interface node ("&MI_").
bool FindUsbDeviceNode(HidHost& host, DevNode node, const std::wstring& idPrefix, DevNode& out);

// First location path of a node; empty when it cannot be had.
std::wstring LocationPath(HidHost& host, DevNode node);

}  // namespace brisk
