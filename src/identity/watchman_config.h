// The Watchman's factory configuration as one immutable record: what the
// tool uses of it (serial, model and class, the photodiodes' positions,
// normals and channel map, the IMU's calibration), the sizes it came in,
// and every problem a line station would reject it for.
//
// The configuration is a zlib stream of a JSON object. The keys the tool
// relies on, present in every real configuration we have (a head-mounted
// display, two hand controllers and a tracker, of two generations):
//   device_serial_number, device_class, model_number,
//   lighthouse_config.modelPoints, .modelNormals, .channelMap,
//   acc_bias, acc_scale, gyro_bias
// The IMU calibration sits in an "imu" object on newer units and at the top
// level on older ones; gyro_scale is optional (one of the five real ones
// has it) and 1 where absent.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "identity/config_transfer.h"
#include "identity/problem.h"

namespace brisk::identity {

// The largest real configuration inflates to 9.7 KB; 64 KiB leaves six
// times that for a larger generation while a stream that inflates without
// end stops at a buffer that is nothing to hold.
constexpr size_t kMaxConfigJsonBytes = 64 * 1024;

// The real configurations nest six levels deep at most.
constexpr int kMaxConfigJsonDepth = 32;

// How far a normal's length may be from 1. The real normals are within
// 4e-7 of it (float precision); a wrong or zeroed normal is far outside.
constexpr double kNormalTolerance = 1e-3;

using Vec3 = std::array<double, 3>;

enum class CalibrationShape { kNone, kTopLevel, kNested };

struct ImuCalibration {
    CalibrationShape shape = CalibrationShape::kNone;
    Vec3 accBias{0, 0, 0};   // m/s^2, subtracted after scaling
    Vec3 accScale{1, 1, 1};  // factors on the range-scaled reading
    Vec3 gyroBias{0, 0, 0};  // rad/s, subtracted after scaling
    Vec3 gyroScale{1, 1, 1};
    bool gyroScaleGiven = false;
};

struct WatchmanConfig {
    bool read = false;             // the compressed bytes arrived whole
    uint32_t compressedBytes = 0;  // as the 0x10 answer declares them
    uint32_t chunkBytes = 0;       // as the 0x11 chunks carried them
    uint32_t jsonBytes = 0;        // inflated
    RequestTally tally;

    std::string serial;  // device_serial_number
    std::string deviceClass, modelNumber, manufacturer;
    std::optional<int64_t> revision;
    std::vector<Vec3> positions, normals;  // lighthouse_config.modelPoints, modelNormals
    std::vector<int64_t> channelMap;       // the input channel of each photodiode
    ImuCalibration imu;

    Problems problems;  // empty for a sound configuration

    size_t Photodiodes() const { return positions.size(); }
};

// The record of a finished read. Null when the capture being replayed does
// not hold it (nothing read, nothing wrong); a failed read gives a record
// with read == false and its problem.
std::shared_ptr<const WatchmanConfig> DecodeConfig(const ConfigTransfer& transfer);

// The decoding alone, from the compressed stream: for tests, the fuzzer and
// the benchmark.
std::shared_ptr<const WatchmanConfig> DecodeConfigStream(const uint8_t* stream, size_t size);

}  // namespace brisk::identity
