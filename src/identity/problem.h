// What the identity checks find wrong with a unit: a stable code that
// scripts and the verdict's reasons read, and words with the figures.
#pragma once

#include <string>
#include <vector>

namespace brisk::identity {

struct Problem {
    std::string code;
    std::string text;
    bool operator==(const Problem&) const = default;
};

using Problems = std::vector<Problem>;

// The codes, one per check (the texts say which part failed and by how much).
namespace code {
inline constexpr char kConfigUnreadable[] = "config_unreadable";  // the 0x10/0x11 read failed
inline constexpr char kConfigInflate[] = "config_inflate";        // the stream does not inflate
inline constexpr char kConfigTooLarge[] = "config_too_large";     // inflates past the bound
inline constexpr char kConfigJson[] = "config_json";              // not a JSON object
inline constexpr char kConfigMissingKey[] = "config_missing_key";
inline constexpr char kConfigBadValue[] = "config_bad_value";  // a key of the wrong shape
inline constexpr char kConfigNormals[] = "config_normals";     // a normal not of unit length
inline constexpr char kConfigChannelMap[] = "config_channel_map";
inline constexpr char kConfigSerialMismatch[] = "config_serial_mismatch";
inline constexpr char kFirmwareTooOld[] = "firmware_too_old";
inline constexpr char kSerialPattern[] = "serial_pattern";
inline constexpr char kVersionUnreadable[] = "version_unreadable";
inline constexpr char kImuRangeUnreadable[] = "imu_range_unreadable";
inline constexpr char kWatchmanChanged[] = "watchman_changed";  // another unit after a reconnect
}  // namespace code

}  // namespace brisk::identity
