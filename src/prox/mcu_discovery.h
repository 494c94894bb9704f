// Finding the headset MCU and switching its telemetry on: every HID interface
// listed as 35BD:0101 is opened and sent the rate command in turn; the first one that
// acknowledges is kept, all others are closed. Also the timed read of the
// acknowledgement wait (the proximity reader reads through HidReaderLoop).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/hid.h"

namespace brisk {

// Each read of the acknowledgement wait lasts at most this long, and at most
// this many telemetry messages are skipped before an interface is given up.
constexpr uint32_t kAckTimeoutMs = 500;
constexpr int kAckReads = 10;

// Open handles of every present interface listed with the MCU's vendor and
// product ID that says the same once open, in enumeration order. The caller
// owns them.
std::vector<Handle> EnumerateMcuInterfaces(HidHost& host);

// Sends `command` as the MCU's 65-byte feature report. True when accepted.
bool SendFeatureReport(HidHost& host, Handle device, const uint8_t* command, size_t length);

// One read of up to `length` bytes into `buf` within `timeoutMs`: the byte
// count, 0 on time-out, -1 on failure (its Win32 error code then goes to
// `error` when given). Never returns while the read could still touch `buf`.
int ReadReportTimed(HidHost& host, Handle device, Handle event, uint8_t* buf, uint32_t length,
                    uint32_t timeoutMs, uint32_t* error = nullptr);

// The interface that acknowledged the rate command for `periodMs`, or
// kInvalidHandle. Every other handle it opened is closed; `event` stays the
// caller's.
Handle OpenTelemetryInterface(HidHost& host, uint16_t periodMs, Handle event);

}  // namespace brisk
