// The headset MCU's wire format: how a command is framed as a feature report,
// where a message starts in an input report, and what its tag and distance
// say. Pure code shared by discovery and the reader thread. The virtual MCU
// keeps an encoder of its own on purpose: a framing mistake here then shows
// up as a failing test instead of being mirrored by the model.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "device/headset_usb.h"

namespace brisk {

using headset::kMcuProductId;
using headset::kMcuVendorId;

// Every report to and from the MCU: report ID 0 and 64 bytes of message.
constexpr size_t kMcuReportBytes = 65;
constexpr size_t kMcuMaxCommandBytes = kMcuReportBytes - 1;

using headset::kMcuAckTag;
using headset::kMcuRateTag;
using headset::kMcuTelemetryTag;

// A telemetry message carries its distance at message bytes 4 and 5.
constexpr size_t kTelemetryDistanceOffset = 4;
constexpr size_t kTelemetryMinBytes = 6;

using McuReport = std::array<uint8_t, kMcuReportBytes>;
using RateCommandBytes = std::array<uint8_t, 3>;

// The feature report carrying `command`: report ID 0, the first 64 command
// bytes (a longer command is cut), zeros to the end.
McuReport FrameCommand(const uint8_t* command, size_t length);

// "R", then the telemetry period in milliseconds, big-endian, unchanged.
RateCommandBytes RateCommand(uint16_t periodMs);

// The message inside an input report of `count` bytes. Devices without report
// IDs put their message at byte 0; with report ID 0 it follows that byte.
struct McuMessage {
    const uint8_t* bytes = nullptr;
    size_t length = 0;
};
McuMessage LocateMessage(const uint8_t* report, size_t count);

// The distance of a telemetry message ("#", at least 6 bytes). False, leaving
// `distance` untouched, for anything else.
bool TelemetryDistance(McuMessage message, uint16_t& distance);

// What one read of the acknowledgement wait means.
enum class AckStep {
    Acknowledged,     // "$"
    KeepWaiting,      // "#": telemetry already flowing, read again
    NotAcknowledged,  // time-out, failure or a foreign tag: give up on this interface
};

// `result` as ReadReportTimed returns it (bytes, 0 on time-out, -1 on
// failure); `report` holds those bytes.
AckStep ClassifyAckRead(int result, const uint8_t* report);

}  // namespace brisk
