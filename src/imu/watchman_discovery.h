// Finding and opening the headset's Watchman IMU interface (USB 28DE:2300,
// HID interface 0) through a HidHost. Only OpenWatchman is meant for callers
// outside the IMU stream; the helpers are here for the tests.
#pragma once

#include <string>
#include <vector>

#include "platform/hid.h"

namespace brisk {

// Lists every present HID interface, opens each Watchman interface 0, reads
// its serial, pairs it with the headset MCU by their USB hubs, and keeps one:
// the one whose serial equals `requestedSerial`, or with none requested the
// only MCU-paired one. Every other handle is closed before returning.
// `chosenOut` (optional) receives the chosen serial. With `verbose` the count
// line goes to stdout and, when nothing could be chosen, the candidate listing
// to stderr. kInvalidHandle when nothing is chosen.
Handle OpenWatchman(HidHost& host, const std::wstring& requestedSerial, std::wstring* chosenOut,
                    bool verbose);

// Whether a listed interface is a Watchman's IMU interface, the only ones opened.
bool IsWatchmanImu(const HidDeviceInfo& device);

// The known places of the MCU's USB devices, each once.
std::vector<PortKey> McuPortKeys(const std::vector<HidDeviceInfo>& devices);

}  // namespace brisk
