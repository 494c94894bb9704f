// The Watchman's HID feature reports that say who it is, as a host asks for
// them on the IMU's interface (report ID first in every answer), and the
// decoders of the two small ones: the version (0x05) and the IMU's range
// modes (0x01). The factory configuration (0x10, 0x11) has its own reader
// (config_transfer.h).
//
// Everything here is pure: the caller does the HID I/O and hands the
// answers in. Answers are untrusted: every offset is checked against the
// answer's length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace brisk::identity {

constexpr uint8_t kRangeModesReport = 0x01;
constexpr uint8_t kVersionReport = 0x05;
constexpr uint8_t kConfigStartReport = 0x10;
constexpr uint8_t kConfigChunkReport = 0x11;

// Every answer in the real captures is 64 bytes, report ID included; ask
// with a buffer at least this large.
constexpr size_t kFeatureReportBytes = 64;

// How often one request is asked before it counts as unanswered. On Linux
// every configuration request in the real captures stalls once and succeeds
// on the second try; through a wireless receiver one took 12 tries (11
// stalls), and a receiver with nothing paired never answered in 50. A stall
// comes back within about a millisecond, so 16 tries bound a dead request
// to a few tens of milliseconds while leaving a third more than the worst
// real answer needed.
constexpr int kMaxTries = 16;

// What to ask next: a feature report by ID, into a buffer of `bytes`.
struct FeatureRequest {
    uint8_t reportId = 0;
    size_t bytes = kFeatureReportBytes;
    bool operator==(const FeatureRequest&) const = default;
};

// How a feature request ended, as the caller hands it in.
struct FeatureAnswer {
    enum class Kind {
        kData,         // `size` bytes arrived, report ID first (0 bytes: no data, ask again)
        kNoAnswer,     // stalled, timed out or failed: ask again
        kNotCaptured,  // a replayed capture does not hold this read: give it up, no fault
    };
    Kind kind = Kind::kNoAnswer;
    const uint8_t* data = nullptr;
    size_t size = 0;

    static FeatureAnswer Data(const uint8_t* data, size_t size) {
        return {Kind::kData, data, size};
    }
    static FeatureAnswer NoAnswer() { return {Kind::kNoAnswer, nullptr, 0}; }
    static FeatureAnswer NotCaptured() { return {Kind::kNotCaptured, nullptr, 0}; }
};

// "0x1F", for the texts that name a report.
std::string HexByte(uint8_t b);

// How a decoder took an answer.
enum class Decoded {
    kOk,
    kEmpty,  // no data in it yet (a device may answer a first request so): ask again
    kBad,    // not this report, or values it cannot hold: `why` says
};

// Feature report 0x05: firmware build, hardware and FPGA revisions. Laid out
// as public protocol notes give it: build number (LE32) at 1, two 16-byte
// strings (who built it, on which host) at 9 and 25, hardware micro, minor,
// major and revision at 41..44, FPGA minor and major at 49 and 50.
struct FirmwareVersion {
    uint32_t build = 0;
    std::string builtBy, builtOn;  // printable ASCII up to the first zero
    uint8_t hardwareRevision = 0, hardwareMajor = 0, hardwareMinor = 0, hardwareMicro = 0;
    uint8_t fpgaMajor = 0, fpgaMinor = 0;

    std::string HardwareText() const;  // "rev 3 (1.2.0)"
    std::string FpgaText() const;      // "1.9"
    bool operator==(const FirmwareVersion&) const = default;
};

Decoded DecodeVersion(const uint8_t* data, size_t size, FirmwareVersion& out, std::string& why);

// Feature report 0x01: the IMU's full-scale ranges by mode byte, the gyro's
// at 1 (0..3: 250, 500, 1000, 2000 degrees per second) and the
// accelerometer's at 2 (0..3: 2, 4, 8, 16 g). Both bytes zero is an answer
// with no data yet: the public notes ask again when they see it.
struct ImuRange {
    uint8_t gyroMode = 0, accelMode = 0;
    uint32_t gyroDps = 0;  // full scale, either way
    uint32_t accelG = 0;

    // Signed 16-bit counts per unit at this range: 8192 per g at 4 g.
    double CountsPerG() const { return 32768.0 / accelG; }
    double CountsPerDps() const { return 32768.0 / gyroDps; }
    bool operator==(const ImuRange&) const = default;
};

Decoded DecodeRange(const uint8_t* data, size_t size, ImuRange& out, std::string& why);

}  // namespace brisk::identity
