#include "devserver/hid_descriptors.h"

#include <algorithm>

namespace brisk::devserver {

namespace {

constexpr uint16_t kWatchmanVid = 0x28DE;
constexpr uint16_t kMcuVid = 0x35BD;

}  // namespace

// No capture holds a real Watchman's report descriptor (none was recorded
// at enumeration), so these are made from the report sizes the real
// captures show on the wire, report ID included: on the IMU's endpoint
// (0x81) input 0x20 of 52 bytes; feature answers 0x01, 0x05, 0x10 and 0x11
// of 64; on a second endpoint (0x83) the light data, 0x25 and 0x28 of 64
// and 0x27 of 59, and 0x21 of 58; on a third (0x84) input 0x01 of 64. Which
// interface owns the second and third endpoints no capture says; here MI_01
// and MI_02. The host sets the light's format with feature 0x04 and sets
// 0x07, both 5 bytes, on interface 0 (wIndex 0) in every capture; MI_01,
// which carries the light, declares them too, so a host may set them there. The virtual Watchman's
// junk report (0x21) goes out on MI_00, so that interface declares it too, at the size seen.
const std::vector<uint8_t>& WatchmanImuDescriptor() {
    static const std::vector<uint8_t> d = {
        0x06, 0x00, 0xFF,  // Usage Page (vendor 0xFF00)
        0x09, 0x01,        // Usage (1)
        0xA1, 0x01,        // Collection (Application)
        0x15, 0x00,        //   Logical Minimum (0)
        0x26, 0xFF, 0x00,  //   Logical Maximum (255)
        0x75, 0x08,        //   Report Size (8)
        0x85, 0x20,        //   Report ID (0x20): the IMU report
        0x09, 0x02,        //   Usage (2)
        0x95, 0x33,        //   Report Count (51): three 17-byte samples
        0x81, 0x02,        //   Input (Data, Var, Abs)
        0x85, 0x21,        //   Report ID (0x21): another input on this endpoint
        0x09, 0x03,        //   Usage (3)
        0x95, 0x39,        //   Report Count (57)
        0x81, 0x02,        //   Input (Data, Var, Abs)
        0x95, 0x3F,        //   Report Count (63) for each feature report:
        0x85, 0x01,        //   Report ID (0x01): IMU range modes
        0x09, 0x10,        //   Usage (0x10)
        0xB1, 0x02,        //   Feature (Data, Var, Abs)
        0x85, 0x05,        //   Report ID (0x05): version
        0x09, 0x11,        //   Usage (0x11)
        0xB1, 0x02,        //   Feature
        0x85, 0x10,        //   Report ID (0x10): configuration start
        0x09, 0x12,        //   Usage (0x12)
        0xB1, 0x02,        //   Feature
        0x85, 0x11,        //   Report ID (0x11): configuration chunk
        0x09, 0x13,        //   Usage (0x13)
        0xB1, 0x02,        //   Feature
        0x95, 0x04,        //   Report Count (4) for the light's settings:
        0x85, 0x04,        //   Report ID (0x04): the light format
        0x09, 0x14,        //   Usage (0x14)
        0xB1, 0x02,        //   Feature
        0x85, 0x07,        //   Report ID (0x07)
        0x09, 0x15,        //   Usage (0x15)
        0xB1, 0x02,        //   Feature
        0xC0,              // End Collection
    };
    return d;
}

const std::vector<uint8_t>& WatchmanLightDescriptor() {
    static const std::vector<uint8_t> d = {
        0x06, 0x00, 0xFF,  // Usage Page (vendor 0xFF00)
        0x09, 0x04,        // Usage (4)
        0xA1, 0x01,        // Collection (Application)
        0x15, 0x00,        //   Logical Minimum (0)
        0x26, 0xFF, 0x00,  //   Logical Maximum (255)
        0x75, 0x08,        //   Report Size (8)
        0x09, 0x05,        //   Usage (5), for each report:
        0x95, 0x3F,        //   Report Count (63)
        0x85, 0x25,        //   Report ID (0x25): first-generation light data
        0x81, 0x02,        //   Input (Data, Var, Abs)
        0x85, 0x28,        //   Report ID (0x28): second-generation light data
        0x81, 0x02,        //   Input
        0x95, 0x3A,        //   Report Count (58)
        0x85, 0x27,        //   Report ID (0x27)
        0x81, 0x02,        //   Input
        0x95, 0x39,        //   Report Count (57)
        0x85, 0x21,        //   Report ID (0x21)
        0x81, 0x02,        //   Input
        0x95, 0x04,        //   Report Count (4)
        0x85, 0x04,        //   Report ID (0x04): the light format (00: 0x25, 01: 0x28)
        0x09, 0x06,        //   Usage (6)
        0xB1, 0x02,        //   Feature (Data, Var, Abs)
        0x85, 0x07,        //   Report ID (0x07)
        0x09, 0x07,        //   Usage (7)
        0xB1, 0x02,        //   Feature
        0xC0,              // End Collection
    };
    return d;
}

const std::vector<uint8_t>& WatchmanOtherDescriptor() {
    static const std::vector<uint8_t> d = {
        0x06, 0x00, 0xFF, 0x09, 0x03, 0xA1, 0x01,  // vendor page, usage 3, application
        0x85, 0x01, 0x09, 0x04, 0x15, 0x00, 0x26, 0xFF,
        0x00, 0x75, 0x08, 0x95, 0x3F, 0x81, 0x02,  // input report 1, 63 bytes
        0xC0,
    };
    return d;
}

const std::vector<uint8_t>& McuDescriptor() {
    static const std::vector<uint8_t> d = {
        0x06, 0x00, 0xFF,  // Usage Page (vendor 0xFF00)
        0x09, 0x01,        // Usage (1)
        0xA1, 0x01,        // Collection (Application), no report IDs
        0x15, 0x00,        //   Logical Minimum (0)
        0x26, 0xFF, 0x00,  //   Logical Maximum (255)
        0x75, 0x08,        //   Report Size (8)
        0x95, 0x40,        //   Report Count (64)
        0x09, 0x02,        //   Usage (2)
        0x81, 0x02,        //   Input (Data, Var, Abs): "#" telemetry and "$"
        0x09, 0x03,        //   Usage (3)
        0xB1, 0x02,        //   Feature (Data, Var, Abs): commands such as "R"
        0xC0,              // End Collection
    };
    return d;
}

const std::vector<uint8_t>& DescriptorFor(uint16_t vendorId, uint16_t /*productId*/, size_t iface) {
    if (vendorId == kMcuVid) {
        return McuDescriptor();
    }
    if (vendorId == kWatchmanVid && iface == 0) {
        return WatchmanImuDescriptor();
    }
    if (vendorId == kWatchmanVid && iface == 1) {
        return WatchmanLightDescriptor();
    }
    return WatchmanOtherDescriptor();
}

ReportSizes ReadReportSizes(const std::vector<uint8_t>& d) {
    ReportSizes out;
    // Global items that shape the sizes; pushed and popped as a whole.
    struct Globals {
        uint32_t size = 0, count = 0;
        uint8_t id = 0;
    };
    Globals g;
    std::vector<Globals> stack;
    std::map<uint8_t, size_t> inBits, outBits, featBits;
    size_t i = 0;
    while (i < d.size()) {
        uint8_t prefix = d[i];
        if (prefix == 0xFE) {  // long item: its data size follows
            if (i + 2 >= d.size() || i + 3 + d[i + 1] > d.size()) {
                return out;
            }
            i += 3 + d[i + 1];
            continue;
        }
        size_t len = (prefix & 3) == 3 ? 4 : (prefix & 3);
        if (i + 1 + len > d.size()) {
            return out;
        }
        uint32_t value = 0;
        for (size_t k = 0; k < len; ++k) {
            value |= uint32_t(d[i + 1 + k]) << (8 * k);
        }
        switch (prefix & 0xFC) {
            case 0x74:
                g.size = value;
                break;  // Report Size
            case 0x94:
                g.count = value;
                break;  // Report Count
            case 0x84:  // Report ID
                if (value == 0 || value > 255) {
                    return out;
                }
                g.id = uint8_t(value);
                out.usesIds = true;
                break;
            case 0xA4:
                stack.push_back(g);
                break;  // Push
            case 0xB4:  // Pop
                if (stack.empty()) {
                    return out;
                }
                g = stack.back();
                stack.pop_back();
                break;
            case 0x80:
                inBits[g.id] += size_t(g.size) * g.count;
                break;
            case 0x90:
                outBits[g.id] += size_t(g.size) * g.count;
                break;
            case 0xB0:
                featBits[g.id] += size_t(g.size) * g.count;
                break;
            default:
                break;
        }
        i += 1 + len;
    }
    auto bytes = [](const std::map<uint8_t, size_t>& bits) {
        std::map<uint8_t, size_t> r;
        for (const auto& [id, n] : bits) {
            r[id] = (n + 7) / 8;
        }
        return r;
    };
    out.input = bytes(inBits);
    out.output = bytes(outBits);
    out.feature = bytes(featBits);
    out.ok = true;
    return out;
}

size_t InputBytesOf(const ReportSizes& sizes, uint8_t firstByte) {
    if (sizes.usesIds) {
        auto it = sizes.input.find(firstByte);
        if (it != sizes.input.end()) {
            return it->second + 1;
        }
    }
    return MaxInputBytes(sizes);
}

size_t MaxInputBytes(const ReportSizes& sizes) {
    size_t most = 0;
    for (const auto& [id, n] : sizes.input) {
        most = std::max(most, n + (sizes.usesIds ? 1 : 0));
    }
    return most;
}

}  // namespace brisk::devserver
