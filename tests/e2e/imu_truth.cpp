#include "e2e/imu_truth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "support/subprocess.h"

namespace brisk::e2e {
namespace {

constexpr const char* kTshark = "/usr/bin/tshark";

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

struct Slot {
    bool filled = false;
    uint32_t time = 0;
    int seq = 0;
};

Slot SlotOf(const std::vector<uint8_t>& r, size_t k) {
    Slot s;
    const auto first = r.begin() + static_cast<std::ptrdiff_t>(1 + 17 * k);
    s.filled = std::any_of(first, first + 17, [](uint8_t b) { return b != 0; });
    for (int i = 0; i < 4; ++i) {
        s.time |= static_cast<uint32_t>(first[12 + i]) << (8 * i);
    }
    s.seq = first[16];
    return s;
}

}  // namespace

std::vector<std::vector<uint8_t>> TsharkInputReports(const std::string& file, int address,
                                                     const char* endpoint) {
    std::string filter = std::string("usb.transfer_type == 0x01 && usb.endpoint_address == ") +
                         endpoint + " && (usb.data_len > 0 || usb.usbd_status != 0)";
    if (address > 0) {
        filter += " && usb.device_address == " + std::to_string(address);
    }
    const test::RunResult t = test::RunProgram({kTshark, "-r", file, "-Y", filter, "-T", "fields",
                                                "-e", "usbhid.data", "-e", "usb.capdata"},
                                               {});
    EXPECT_TRUE(t.exited);
    std::vector<std::vector<uint8_t>> out;
    // The data is one field or the other: usbhid.data where the capture
    // says the interface is HID (brisk's recordings), usb.capdata elsewhere.
    for (const test::TimedLine& l : t.out) {
        std::string hex = l.text;
        hex.erase(std::remove(hex.begin(), hex.end(), '\t'), hex.end());
        out.push_back(FromHex(hex));
    }
    return out;
}

ImuTruth CountImuTruth(const std::vector<std::vector<uint8_t>>& reports) {
    ImuTruth truth;
    bool haveLast = false;
    Slot last;
    for (const std::vector<uint8_t>& r : reports) {
        if (r.empty()) {
            haveLast = false;  // the device left: what comes back starts anew
            continue;
        }
        if (r.size() < 52 || r[0] != 0x20) {
            continue;
        }
        ++truth.reports;
        std::vector<Slot> left;
        for (size_t k = 0; k < 3; ++k) {
            if (SlotOf(r, k).filled) {
                left.push_back(SlotOf(r, k));
            }
        }
        if (!haveLast && !left.empty()) {
            // The first sample of all: the report's oldest, the one every
            // other is less than half the circle ahead of.
            auto oldest = std::find_if(left.begin(), left.end(), [&](const Slot& a) {
                return std::all_of(left.begin(), left.end(),
                                   [&](const Slot& b) { return ((b.seq - a.seq) & 0xFF) < 128; });
            });
            if (oldest == left.end()) {
                oldest = left.begin();
            }
            last = *oldest;
            haveLast = true;
            ++truth.samples;
            left.erase(oldest);
        }
        for (;;) {
            auto next = left.end();
            int best = 128;
            for (auto it = left.begin(); it != left.end(); ++it) {
                const int ahead = (it->seq - last.seq) & 0xFF;
                if (ahead < best && (ahead > 0 || it->time != last.time)) {
                    best = ahead;
                    next = it;
                }
            }
            if (next == left.end()) {
                break;
            }
            truth.breaks += best != 1 ? 1 : 0;
            ++truth.samples;
            last = *next;
            left.erase(next);
        }
    }
    return truth;
}

}  // namespace brisk::e2e
