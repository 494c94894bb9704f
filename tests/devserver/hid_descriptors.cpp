#include "devserver/hid_descriptors.h"

#include <algorithm>

namespace brisk::devserver {

namespace {

constexpr uint16_t kWatchmanVid = 0x28DE;
constexpr uint16_t kMcuVid = 0x35BD;

}  // namespace

const std::vector<uint8_t>& WatchmanImuDescriptor() {
    static const std::vector<uint8_t> d = {
        0x06, 0x00, 0xFF,  // Usage Page (vendor 0xFF00)
        0x09, 0x01,        // Usage (1)
        0xA1, 0x01,        // Collection (Application)
        0x85, 0x20,        //   Report ID (0x20): the IMU report
        0x09, 0x02,        //   Usage (2)
        0x15, 0x00,        //   Logical Minimum (0)
        0x26, 0xFF, 0x00,  //   Logical Maximum (255)
        0x75, 0x08,        //   Report Size (8)
        0x95, 0x33,        //   Report Count (51): three 17-byte samples
        0x81, 0x02,        //   Input (Data, Var, Abs)
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

size_t MaxInputBytes(const ReportSizes& sizes) {
    size_t most = 0;
    for (const auto& [id, n] : sizes.input) {
        most = std::max(most, n + (sizes.usesIds ? 1 : 0));
    }
    return most;
}

}  // namespace brisk::devserver
