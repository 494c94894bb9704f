// What a replay takes from a capture: for the headset's Watchman and its MCU,
// their input reports, losses and returns, at times relative to the first
// packet of the file.
//
// The devices are found by the device descriptors in the capture (28DE:2300
// is the IMU, 35BD:0101 the MCU; the first of each, and after a loss the next
// one that shows up, even at a new address as after a real re-enumeration),
// or named by USB address. A capture started after the devices were
// enumerated has no descriptors: then the IMU is the device whose IN endpoint
// carries the most IMU reports (ID 0x20, 52 bytes or more). Reports are the
// successful interrupt IN completions of the IMU's endpoint (0x81, interface
// 0, unless found elsewhere by its reports); a completion there that failed
// (not one the host cancelled) is a loss; the device is back with its next
// device descriptor or its next report.
//
// A capture is read twice, both times as a stream, so memory stays flat
// however long the capture: ScanReplay reads it once for what must be known
// before the run (which devices, the IMU found by its reports too, their
// serials, when they leave and return, when the MCU answered the rate
// command, how long the capture is), and a ReplayReader reads it again
// during the run, a little ahead of the clock. Two readings, because the
// tool's arguments (--imu-serial, when to stop) and the bus's unplugs and
// plugs are fixed before the tool starts, and the reports cannot be held
// until then.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/packet_source.h"
#include "device/headset_usb.h"

namespace brisk::capture {

// The devices (IMU, MCU), and the Watchman's light: the IMU device's
// second input stream, not a device of its own.
enum class ReplayRole : uint8_t { kImu = 0, kMcu = 1, kLight = 2 };
constexpr size_t kReplayRoles = 2;    // devices
constexpr size_t kReplayStreams = 3;  // streams of events: the devices and the light

// The Watchman's light endpoint: 0x83 on the 28DE:2300 units captured, 0x82
// on older ones. The one of the two that brings light reports (0x25, 0x27,
// 0x28; the busier if both do) is the light's, and every report on it is
// the light interface's input (the tracker's one 0x21 too).
constexpr uint8_t kLightEndpoints[] = {0x82, 0x83};
bool IsLightReportId(uint8_t id);

enum class ReplayEventKind : uint8_t {
    kReport,  // `length` bytes in `bytes`
    kLost,    // the device leaves the bus
    kBack,    // it returns
};

// The virtual bus carries reports of up to 65 bytes; longer ones are cut.
constexpr size_t kMaxReplayReportBytes = 65;

struct ReplayEvent {
    int64_t micros = 0;  // since the capture's first packet
    ReplayEventKind kind = ReplayEventKind::kReport;
    uint8_t length = 0;
    uint8_t bytes[kMaxReplayReportBytes] = {};
};

// A device that left returns this long before its first sign of life after
// the loss (never before the loss itself). A host only finds a returning
// device when it looks again, some time after the device came back; the
// replay must have it there by then.
constexpr int64_t kReturnLeadMicros = 1000000;

// The MCU's answer to the rate command (its tag after report ID 0, when the
// capture has it).
bool IsMcuAck(const uint8_t* report, size_t length);

struct ReplayOptions {
    int imuAddress = 0;  // > 0: the IMU is this USB address, descriptors or not
    int mcuAddress = 0;
    uint8_t imuEndpoint = headset::kImuEndpoint;  // where its reports are
    uint8_t lightEndpoint = 0;                    // where the light is; 0: none (the scan finds it)
};

// One feature read the capture's host made of the device (a GET_REPORT
// control transfer for a feature report), in the order it asked.
struct FeatureExchange {
    uint8_t reportId = 0;
    bool answered = false;      // false: the device stalled or the transfer failed
    std::vector<uint8_t> data;  // the answer, report ID first, as captured
};

// A capture holds at most this many feature reads per device (the real
// ones: about 100 to 300); a capture with more keeps the first ones.
constexpr size_t kMaxFeatureExchanges = 4096;
// Answers are kept up to this many bytes (the real ones are 64).
constexpr size_t kMaxFeatureAnswerBytes = 256;

struct ReplayDevice {
    bool found = false;
    uint16_t address = 0;   // the latest address it had
    std::u16string serial;  // from its string descriptor; empty when none
    uint64_t reports = 0;
    std::vector<ReplayEvent> transitions;  // its losses and returns, in time order
    std::vector<int64_t> acks;             // the MCU: when it answered the rate command
    // The IMU: the feature reads the capture holds, at its latest address.
    std::vector<FeatureExchange> features;
};

// Input on the IMU's endpoint that is not an IMU report.
struct ForeignInput {
    uint64_t count = 0;
    uint8_t firstId = 0;
    uint32_t firstLength = 0;
    int64_t firstMicros = 0;
};

struct ReplayPlan {
    ReplayDevice devices[kReplayRoles];
    ReplayOptions options;           // what the reading during the run must be given
    bool imuFoundByReports = false;  // no descriptor: options.imuAddress came from its reports
    uint64_t imuReportsThere = 0;    // ... and how many it has there
    ForeignInput foreign;            // on the IMU's endpoint
    uint64_t lightReports = 0;       // on options.lightEndpoint, at the IMU's latest address
    uint64_t packets = 0;            // whole packets read
    bool truncated = false;          // the file ends inside a packet; the packets before it count
    int64_t lastMicros = 0;          // the last packet's time
    std::string format;              // what the file was found to be

    const ReplayDevice& Device(ReplayRole role) const { return devices[static_cast<size_t>(role)]; }
};

// Reads the whole capture from `source`, once. False with `error` when a
// packet in it is malformed or neither device is in it.
bool ScanReplay(PacketSource& source, const ReplayOptions& options, ReplayPlan& out,
                std::string& error);

// Times relative to the capture's first packet; a clock that steps back
// before it counts as zero.
struct CaptureClock {
    bool haveFirst = false;
    uint64_t first = 0;

    int64_t Since(uint64_t micros) {
        if (!haveFirst) {
            haveFirst = true;
            first = micros;
        }
        return micros >= first ? static_cast<int64_t>(micros - first) : 0;
    }
};

class ReplayInterpreter;

// The headset's devices' events, and the Watchman's light reports (role
// kLight, the IMU's losses and returns apply to them), in file order, read from the capture as the
// run goes. Given the plan ScanReplay made of the same file.
class ReplayReader {
  public:
    ReplayReader(std::unique_ptr<PacketSource> source, const ReplayPlan& plan);
    ~ReplayReader();
    ReplayReader(const ReplayReader&) = delete;
    ReplayReader& operator=(const ReplayReader&) = delete;

    // The next event; false at the end of what can be read.
    bool Next(ReplayRole& role, ReplayEvent& event);

  private:
    std::unique_ptr<PacketSource> source;
    std::unique_ptr<ReplayInterpreter> interpreter;
    size_t ready = 0;  // events of the last packet handed out so far
    bool ended = false;
    CaptureClock clock;
};

}  // namespace brisk::capture
