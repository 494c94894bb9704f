// The input report IDs a HID report descriptor declares. Pure: the bytes come
// from a device (through hidraw or sysfs), so the walk checks every item's
// size against what is left and says "unknown" rather than guess.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace brisk {

// Every report ID in force at an Input main item, ascending, each once. An
// empty list: the descriptor declares inputs without report IDs (or none).
// Nothing at all: the descriptor is empty, cut short (an item runs past the
// end), names report ID 0 or one wider than a byte, or pushes the global
// state deeper than any device needs. Push and Pop carry the report ID as
// the other global items.
std::optional<std::vector<uint8_t>> InputReportIdsOfDescriptor(const uint8_t* descriptor,
                                                               size_t length);

// The report IDs of a list as InputReportIdsOfDescriptor gives them:
// ascending, each once, without 0 (hid.dll's word for "no report ID").
std::vector<uint8_t> DistinctReportIds(std::vector<uint8_t> ids);

// Whether `ids` (as InputReportIdsOfDescriptor gives them) holds `id`.
bool DeclaresInputReport(const std::optional<std::vector<uint8_t>>& ids, uint8_t id);

}  // namespace brisk
