// What a replay takes from a capture: for the headset's Watchman and its MCU,
// their input reports, losses and returns, at times relative to the first
// packet of the file. Pure: the bytes of a whole capture in, a schedule out.
//
// The devices are found by the device descriptors in the capture (28DE:2300
// is the IMU, 35BD:0101 the MCU; the first of each, and after a loss the next
// one that shows up, even at a new address as after a real re-enumeration),
// or named by USB address. Reports are the successful interrupt IN
// completions of endpoint 0x81 (interface 0); a completion of that endpoint
// with a non-zero USBD status is a loss; the device is back with its next
// device descriptor or its next report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace brisk::capture {

enum class ReplayRole : uint8_t { kImu = 0, kMcu = 1 };
constexpr size_t kReplayRoles = 2;

enum class ReplayEventKind : uint8_t {
    kReport,  // `length` bytes at `offset` in ReplaySchedule::bytes
    kLost,    // the device leaves the bus
    kBack,    // it returns
};

struct ReplayEvent {
    int64_t micros = 0;  // since the capture's first packet
    ReplayEventKind kind = ReplayEventKind::kReport;
    uint8_t length = 0;
    uint32_t offset = 0;
};

// The virtual bus carries reports of up to 65 bytes; longer ones are cut.
constexpr size_t kMaxReplayReportBytes = 65;

// A device that left returns this long before its first sign of life after
// the loss (never before the loss itself). A host only finds a returning
// device when it looks again, some time after the device came back; the
// replay must have it there by then.
constexpr int64_t kReturnLeadMicros = 1000000;

struct ReplayDevice {
    bool found = false;
    uint16_t address = 0;             // the latest address it had
    std::u16string serial;            // from its string descriptor; empty when none
    std::vector<ReplayEvent> events;  // in time order
};

struct ReplaySchedule {
    ReplayDevice devices[kReplayRoles];
    std::vector<uint8_t> bytes;  // report bytes, padded with the zeros a recording left out
    size_t packets = 0;          // whole packets read
    bool truncated = false;      // the file ends inside a packet; the packets before it count

    const ReplayDevice& Device(ReplayRole role) const { return devices[static_cast<size_t>(role)]; }
};

struct ReplayOptions {
    int imuAddress = 0;  // > 0: the IMU is this USB address, descriptors or not
    int mcuAddress = 0;
};

// False with `error` when the bytes are not a USBPcap capture, a record in
// it is malformed, or neither device can be found in it.
bool BuildReplaySchedule(const uint8_t* data, size_t size, const ReplayOptions& options,
                         ReplaySchedule& out, std::string& error);

}  // namespace brisk::capture
