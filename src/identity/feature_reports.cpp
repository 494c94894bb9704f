#include "identity/feature_reports.h"

#include <cstdio>

namespace brisk::identity {
namespace {

// Offsets in the 0x05 answer.
constexpr size_t kBuildAt = 1;
constexpr size_t kBuiltByAt = 9;
constexpr size_t kBuiltOnAt = 25;
constexpr size_t kVersionStringBytes = 16;
constexpr size_t kHardwareMicroAt = 41;  // then minor, major, revision
constexpr size_t kFpgaMinorAt = 49;      // then major
constexpr size_t kVersionMinBytes = kFpgaMinorAt + 2;

constexpr size_t kGyroModeAt = 1;
constexpr size_t kAccelModeAt = 2;
constexpr uint8_t kHighestMode = 3;

// A fixed-size string field: up to its first zero, anything outside
// printable ASCII shown as '?' so that it can go to a console or a log.
std::string FixedString(const uint8_t* field, size_t bytes) {
    std::string out;
    for (size_t i = 0; i < bytes && field[i] != 0; ++i) {
        out.push_back(field[i] >= 0x20 && field[i] < 0x7F ? static_cast<char>(field[i]) : '?');
    }
    return out;
}

// Common to both decoders: an empty answer, or one of another report.
bool Usable(const uint8_t* data, size_t size, uint8_t id, size_t need, Decoded& result,
            std::string& why) {
    if (size == 0) {
        result = Decoded::kEmpty;
        return false;
    }
    if (data[0] != id) {
        why = "the answer to " + HexByte(id) + " is report " + HexByte(data[0]);
        result = Decoded::kBad;
        return false;
    }
    if (size < need) {
        why = "the answer to " + HexByte(id) + " holds " + std::to_string(size) + " bytes, not " +
              std::to_string(need);
        result = Decoded::kBad;
        return false;
    }
    return true;
}

}  // namespace

std::string HexByte(uint8_t b) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", b);
    return text;
}

std::string FirmwareVersion::HardwareText() const {
    return "rev " + std::to_string(hardwareRevision) + " (" + std::to_string(hardwareMajor) + "." +
           std::to_string(hardwareMinor) + "." + std::to_string(hardwareMicro) + ")";
}

std::string FirmwareVersion::FpgaText() const {
    return std::to_string(fpgaMajor) + "." + std::to_string(fpgaMinor);
}

Decoded DecodeVersion(const uint8_t* data, size_t size, FirmwareVersion& out, std::string& why) {
    Decoded result = Decoded::kOk;
    if (!Usable(data, size, kVersionReport, kVersionMinBytes, result, why)) {
        return result;
    }
    FirmwareVersion v;
    for (size_t i = 0; i < 4; ++i) {
        v.build |= static_cast<uint32_t>(data[kBuildAt + i]) << (8 * i);
    }
    if (v.build == 0) {
        return Decoded::kEmpty;  // no firmware is build 0: the answer is not filled in yet
    }
    v.builtBy = FixedString(data + kBuiltByAt, kVersionStringBytes);
    v.builtOn = FixedString(data + kBuiltOnAt, kVersionStringBytes);
    v.hardwareMicro = data[kHardwareMicroAt];
    v.hardwareMinor = data[kHardwareMicroAt + 1];
    v.hardwareMajor = data[kHardwareMicroAt + 2];
    v.hardwareRevision = data[kHardwareMicroAt + 3];
    v.fpgaMinor = data[kFpgaMinorAt];
    v.fpgaMajor = data[kFpgaMinorAt + 1];
    out = v;
    return Decoded::kOk;
}

Decoded DecodeRange(const uint8_t* data, size_t size, ImuRange& out, std::string& why) {
    Decoded result = Decoded::kOk;
    if (!Usable(data, size, kRangeModesReport, kAccelModeAt + 1, result, why)) {
        return result;
    }
    const uint8_t gyro = data[kGyroModeAt];
    const uint8_t accel = data[kAccelModeAt];
    if (gyro == 0 && accel == 0) {
        return Decoded::kEmpty;
    }
    if (gyro > kHighestMode || accel > kHighestMode) {
        why = "unknown IMU range modes: gyro " + std::to_string(gyro) + ", accelerometer " +
              std::to_string(accel) + " (known: 0 to 3)";
        return Decoded::kBad;
    }
    out = {gyro, accel, 250u << gyro, 2u << accel};
    return Decoded::kOk;
}

}  // namespace brisk::identity
