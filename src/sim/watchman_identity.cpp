#include "sim/watchman_identity.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>

#include "identity/feature_reports.h"

namespace brisk::sim {
namespace {

using nlohmann::ordered_json;
using Triple = std::vector<double>;

constexpr int kPhotodiodes = 32;

// A small deterministic generator, seeded from the serial (FNV-1a), so that
// a unit's configuration is the same on every run.
class Jitter {
  public:
    explicit Jitter(const std::string& seed) {
        for (unsigned char c : seed) {
            state = (state ^ c) * 1099511628211ull;
        }
    }
    // Uniform in [-size, size].
    double Next(double size) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const double unit = static_cast<double>(state >> 11) / static_cast<double>(1ull << 53);
        return (unit * 2 - 1) * size;
    }
    size_t Below(size_t n) { return static_cast<size_t>((Next(0.5) + 0.5) * n) % n; }

  private:
    uint64_t state = 14695981039346656037ull;
};

// Values as a 32-bit float holds them, as the factory writes them.
double F(double v) {
    return static_cast<double>(static_cast<float>(v));
}

Triple F3(double x, double y, double z) {
    return {F(x), F(y), F(z)};
}

// The photodiodes sit on the front and sides of a headset's shell, an
// ellipsoid with half-axes a, b, c (metres); each one's normal is the
// shell's outward normal there, of unit length. Channels are shuffled, as a
// real unit's channel map is.
std::vector<VirtualPhotodiode> Layout(Jitter& jitter) {
    const double a = 0.09, b = 0.06, c = 0.05;
    std::vector<VirtualPhotodiode> out(kPhotodiodes);
    for (int i = 0; i < kPhotodiodes; ++i) {
        const double azimuth = -2.4 + 4.8 * (i % 8) / 7.0 + jitter.Next(0.05);
        const double elevation = -0.6 + 1.2 * (i / 8) / 3.0 + jitter.Next(0.05);
        const double x = a * std::sin(azimuth) * std::cos(elevation);
        const double y = b * std::sin(elevation);
        const double z = -c * std::cos(azimuth) * std::cos(elevation);
        const double nx = x / (a * a), ny = y / (b * b), nz = z / (c * c);
        const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
        out[i] = {i, {F(x), F(y), F(z)}, {F(nx / length), F(ny / length), F(nz / length)}};
    }
    for (size_t i = out.size() - 1; i > 0; --i) {
        std::swap(out[i].wire, out[jitter.Below(i + 1)].wire);
    }
    return out;
}

void Photodiodes(Jitter& jitter, ordered_json& lighthouse) {
    ordered_json points = ordered_json::array(), normals = ordered_json::array();
    std::vector<int> channels;
    for (const VirtualPhotodiode& p : Layout(jitter)) {
        points.push_back(Triple{p.position[0], p.position[1], p.position[2]});
        normals.push_back(Triple{p.normal[0], p.normal[1], p.normal[2]});
        channels.push_back(p.wire);
    }
    lighthouse["channelMap"] = channels;
    lighthouse["modelNormals"] = normals;
    lighthouse["modelPoints"] = points;
}

ordered_json ImuBlock(Jitter& jitter) {
    ordered_json imu;
    imu["acc_bias"] = F3(jitter.Next(0.3), jitter.Next(0.3), jitter.Next(0.3));
    imu["acc_scale"] = F3(1 + jitter.Next(0.003), 1 + jitter.Next(0.003), 1 + jitter.Next(0.003));
    imu["gyro_bias"] = F3(jitter.Next(0.03), jitter.Next(0.03), jitter.Next(0.03));
    imu["plus_x"] = Triple{0, -1, 0};
    imu["plus_z"] = Triple{0, 0, 1};
    imu["position"] = F3(-0.05334, 0.03702, 0.05707);
    return imu;
}

void Drop(ordered_json& root, const std::string& key) {
    const size_t dot = key.find('.');
    if (dot == std::string::npos) {
        root.erase(key);
        return;
    }
    auto parent = root.find(key.substr(0, dot));
    if (parent != root.end() && parent->is_object()) {
        parent->erase(key.substr(dot + 1));
    }
}

void PutLe32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

}  // namespace

std::vector<VirtualPhotodiode> VirtualPhotodiodes(const std::string& serial) {
    Jitter jitter(serial);
    ImuBlock(jitter);  // drawn first in the configuration too
    return Layout(jitter);
}

std::string VirtualConfigJson(const std::string& serial, const std::string& dropKey) {
    Jitter jitter(serial);
    ordered_json root;
    root["device"] = {{"eye_target_height_in_pixels", 1600},
                      {"eye_target_width_in_pixels", 1440},
                      {"first_eye", "eEYE_LEFT"},
                      {"last_eye", "eEYE_RIGHT"},
                      {"num_windows", 1}};
    root["device_class"] = "hmd";
    root["device_pid"] = 8192;
    root["device_serial_number"] = serial;
    root["device_vid"] = 10462;
    root["expected_bases"] = 2;
    root["expected_controllers"] = 2;
    root["head"] = {{"plus_x", Triple{-1, 0, 0}},
                    {"plus_z", Triple{0, 0, -1}},
                    {"position", F3(0, 0, -0.01092)}};
    root["imu"] = ImuBlock(jitter);
    root["ipd"] = {{"enable", true}, {"high_mm", 70}, {"low_mm", F(58)}, {"minstep_mm", 2}};
    ordered_json lighthouse;
    Photodiodes(jitter, lighthouse);
    root["lighthouse_config"] = lighthouse;
    root["manufacturer"] = "brisk";
    root["mfg_build_info"] = {{"rootserial", "VIRT" + serial}};
    root["model_number"] = "brisk-sim Watchman";
    root["revision"] = 15;
    if (!dropKey.empty()) {
        Drop(root, dropKey);
    }
    // The real ones are pretty-printed with tabs, which is most of their size.
    return root.dump(1, '\t');
}

std::vector<uint8_t> CompressConfig(const std::string& text) {
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::vector<uint8_t> out(size);
    if (compress2(out.data(), &size, reinterpret_cast<const Bytef*>(text.data()),
                  static_cast<uLong>(text.size()), Z_BEST_COMPRESSION) != Z_OK) {
        return {};
    }
    out.resize(size);
    return out;
}

WatchmanIdentity::WatchmanIdentity(std::string usbSerial) : usbSerial(std::move(usbSerial)) {
    Rebuild();
}

void WatchmanIdentity::SetUsbSerial(std::string serial) {
    usbSerial = std::move(serial);
    Rebuild();
}

void WatchmanIdentity::SetFaults(WatchmanIdentityFaults f) {
    // Stalls and silence change how requests are answered, not what: a read
    // under way goes on where it was unless the configuration itself changes.
    const bool sameConfig = f.configCorrupt == faults.configCorrupt &&
                            f.configSerial == faults.configSerial && f.dropKey == faults.dropKey;
    faults = std::move(f);
    if (!sameConfig) {
        Rebuild();
    }
}

void WatchmanIdentity::Rebuild() {
    const std::string& serial = faults.configSerial.empty() ? usbSerial : faults.configSerial;
    chunks = CompressConfig(VirtualConfigJson(serial, faults.dropKey));
    if (faults.configCorrupt && !chunks.empty()) {
        chunks[0] ^= 0xFF;  // no longer a zlib header: the length stays, the inflate fails
    }
    declared = static_cast<uint32_t>(chunks.size());
    chunks.push_back(0xFF);  // the trailer every real unit sends after the stream
    chunks.push_back(0xFF);
    chunkOffset = 0;
    stalledLast = false;
}

FeatureResult WatchmanIdentity::Copy(const uint8_t (&report)[kWatchmanFeatureBytes], uint8_t* buf,
                                     uint32_t length) const {
    const uint32_t n = std::min(length, kWatchmanFeatureBytes);
    std::memcpy(buf, report, n);
    return {FeatureOutcome::kData, n, 0};
}

FeatureResult WatchmanIdentity::Answer(uint8_t reportId, uint8_t* buf, uint32_t length) {
    const FeatureResult stall{FeatureOutcome::kFailed, 0, kErrorGenFailure};
    if (faults.silent) {
        return stall;
    }
    if (faults.stallOnce) {
        stalledLast = !stalledLast;
        if (stalledLast) {
            return stall;
        }
    }
    uint8_t report[kWatchmanFeatureBytes] = {reportId};
    switch (reportId) {
        case identity::kVersionReport:
            PutLe32(report + 1, kVirtualFirmwareBuild);
            std::memcpy(report + 9, "brisk-sim", 9);
            std::memcpy(report + 25, "virtual", 7);
            report[41] = 0, report[42] = 2, report[43] = 1, report[44] = 3;  // hardware 1.2.0 rev 3
            report[49] = 9, report[50] = 1;                                  // FPGA 1.9
            return Copy(report, buf, length);
        case identity::kRangeModesReport:
            report[1] = kVirtualGyroMode;
            report[2] = kVirtualAccelMode;
            return Copy(report, buf, length);
        case identity::kConfigStartReport:
            report[1] = static_cast<uint8_t>(declared >> 8);
            report[2] = static_cast<uint8_t>(declared);
            chunkOffset = 0;
            return Copy(report, buf, length);
        case identity::kConfigChunkReport: {
            const size_t n = std::min<size_t>(kWatchmanChunkData, chunks.size() - chunkOffset);
            report[1] = static_cast<uint8_t>(n);
            std::memcpy(report + 2, chunks.data() + chunkOffset, n);
            chunkOffset += n;
            return Copy(report, buf, length);
        }
        default:
            return stall;  // a report this interface does not have
    }
}

}  // namespace brisk::sim
