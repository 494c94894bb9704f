// The Linux HID interfaces as sysfs shows them, read through libudev: each
// hidraw node with the HID device, USB interface and USB device above it.
// Every call opens a libudev context of its own (one is not safe across
// threads, and the IMU and MCU readers rediscover on threads of their own).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/hid.h"

namespace brisk::linux_hid {

// Every hidraw node as a record: its node as the path, vendor, product and
// serial from the USB device, the interface number from the USB interface,
// the port from the USB device's busnum and devpath. False when udev cannot
// be asked.
bool ListHidrawDevices(std::vector<HidDeviceInfo>& out);

// What sysfs says of the device behind a hidraw node.
struct HidrawFacts {
    std::optional<uint16_t> vendorId;
    std::optional<uint16_t> productId;
    std::optional<uint16_t> version;    // the USB device's bcdDevice
    std::optional<std::string> serial;  // raw attribute text; none without a serial
    std::string descriptorFile;         // the HID device's report_descriptor, or empty
};

// The facts of the hidraw node at `devnode` ("/dev/hidraw3"). False when
// udev does not know that node.
bool FactsOfDevnode(const std::string& devnode, HidrawFacts& out);

}  // namespace brisk::linux_hid
