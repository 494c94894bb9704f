// The virtual Watchman's answers to the feature reads that say who it is:
// the version (0x05), the IMU's range modes (0x01) and the factory
// configuration (0x10, then 0x11 chunks), laid out as public protocol notes
// give them and as the real captures show (identity/feature_reports.h).
//
// The configuration is made here, as a real unit's is made at the factory: a
// JSON object with the keys and shapes of the real ones (a head-mounted
// display's: 32 photodiodes, the IMU calibration nested under "imu"),
// compressed with zlib. Its serial is the USB serial unless a fault says
// otherwise. The photodiode layout and calibration vary a little with the
// serial, so two virtual units differ as two real ones do.
//
// Faults a line station must catch, each switched on by a scenario action:
// a configuration that does not inflate, one naming another serial, one
// lacking a key, a device that stalls each request once before answering
// (as every real unit does on Linux) and one that never answers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/hid.h"

namespace brisk::sim {

// Every answer is a whole report of this size, report ID included.
constexpr uint32_t kWatchmanFeatureBytes = 64;
// A chunk carries a report ID and a length byte before its data.
constexpr uint32_t kWatchmanChunkData = kWatchmanFeatureBytes - 2;
// What the virtual unit says it is.
constexpr uint32_t kVirtualFirmwareBuild = 1632512470;
constexpr uint8_t kVirtualGyroMode = 3;   // 2000 degrees per second
constexpr uint8_t kVirtualAccelMode = 1;  // 4 g: 8192 counts per g, as the model sends

struct WatchmanIdentityFaults {
    bool configCorrupt = false;  // the stream is its right length but does not inflate
    std::string configSerial;    // not empty: the configuration names this serial
    std::string dropKey;         // not empty: the configuration lacks this key ("imu.acc_bias")
    bool stallOnce = false;      // each request fails once, then the same request is answered
    bool silent = false;         // no request is ever answered
};

// The configuration's JSON text for a unit with this serial, less `dropKey`
// (a top-level key, or "parent.child" one level down) when not empty.
std::string VirtualConfigJson(const std::string& serial, const std::string& dropKey);

// One photodiode of the virtual unit: the channel its light reports name,
// where it sits and which way it faces (the model's frame, metres).
struct VirtualPhotodiode {
    int wire = 0;
    double position[3] = {};
    double normal[3] = {};
};

// The photodiodes the configuration of a unit with this serial lists, in
// its order (the channel map's order).
std::vector<VirtualPhotodiode> VirtualPhotodiodes(const std::string& serial);

// The zlib stream of `text`; empty if zlib fails.
std::vector<uint8_t> CompressConfig(const std::string& text);

class WatchmanIdentity {
  public:
    explicit WatchmanIdentity(std::string usbSerial = "");

    void SetUsbSerial(std::string serial);
    void SetFaults(WatchmanIdentityFaults faults);
    const WatchmanIdentityFaults& Faults() const { return faults; }

    // The answer to one request, into `buf` of `length` bytes (a shorter
    // buffer gets the report cut to it, as hidraw cuts it).
    FeatureResult Answer(uint8_t reportId, uint8_t* buf, uint32_t length);

    // The compressed bytes the 0x10 answer declares, and all the chunks
    // carry (the stream and its FF FF trailer).
    uint32_t DeclaredBytes() const { return declared; }
    const std::vector<uint8_t>& ChunkStream() const { return chunks; }

  private:
    void Rebuild();
    FeatureResult Copy(const uint8_t (&report)[kWatchmanFeatureBytes], uint8_t* buf,
                       uint32_t length) const;

    std::string usbSerial;
    WatchmanIdentityFaults faults;
    uint32_t declared = 0;
    std::vector<uint8_t> chunks;
    size_t chunkOffset = 0;    // where the next 0x11 answer starts
    bool stalledLast = false;  // stallOnce: the last request failed, answer this one
};

}  // namespace brisk::sim
