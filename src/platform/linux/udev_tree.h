// The Linux device tree through libudev, shaped like the CfgMgr32 tree the
// discovery code walks: a hidraw node's HID device is the interface's node,
// its parents are the usb_interface, the usb_device and the hub above it;
// device IDs and location paths are built by sysfs_ids.h.
//
// DevNodes are small numbers handed out per sysfs path and kept for the
// life of the process, so a node stays valid after a listing as on Windows;
// a query about a device that has gone since simply fails. Every call opens
// a libudev context of its own (one is not safe across threads, and the IMU
// and MCU readers rediscover on threads of their own).
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/hid.h"

namespace brisk::linux_hid {

// What sysfs says of the device behind a hidraw node.
struct HidrawFacts {
    std::optional<uint16_t> vendorId;
    std::optional<uint16_t> productId;
    std::optional<uint16_t> version;    // the USB device's bcdDevice
    std::optional<std::string> serial;  // raw attribute text; none without a serial
    std::string descriptorFile;         // the HID device's report_descriptor, or empty
};

class UdevTree {
  public:
    bool ListHidInterfaces(std::vector<HidInterface>& out);
    bool ListDeviceNodes(const std::wstring& enumerator, std::vector<DevNode>& out);
    bool ParentNode(DevNode node, DevNode& parent);
    bool DeviceId(DevNode node, std::wstring& id);
    bool LocationPath(DevNode node, std::wstring& path);

    // The facts of the hidraw node at `devnode` ("/dev/hidraw3"). False when
    // udev does not know that node.
    bool FactsOfDevnode(const std::string& devnode, HidrawFacts& out);

  private:
    DevNode Intern(const char* syspath);
    bool SyspathOf(DevNode node, std::string& syspath);

    std::mutex mtx;                     // guards the two tables; held for lookups only
    std::vector<std::string> syspaths;  // node - 1 -> sysfs path
    std::unordered_map<std::string, DevNode> nodes;
};

}  // namespace brisk::linux_hid
