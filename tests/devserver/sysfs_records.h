// The emulated USB tree as umockdev records: one paragraph a sysfs device,
// laid out as the Linux kernel lays out a HID device on USB (controller, root
// hub, hubs, the USB device, one interface, hid and hidraw node for each HID
// interface), with the attributes and uevent properties that hidraw users
// such as Wine's winebus and brisk's Linux backend read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/hid.h"

namespace brisk::devserver {

// Where a device sits in the emulated sysfs, from its place on the virtual
// bus, whose root names the host controller by its PCI address.
struct UsbPlace {
    std::string controller;  // PCI address of the host controller, "0000:00:14.0"
    std::vector<int> ports;  // port numbers from the root hub down, {3, 2}
};
// False when the root is no PCI address ("dddd:bb:dd.f" in hex) or a port
// is out of range.
bool PlaceOfPort(const PortKey& port, UsbPlace& out);

// Kernel device names: "usb1" for a root hub, "1-3.2" below it.
std::string UsbDeviceName(int bus, const std::vector<int>& ports);

struct Record {
    std::string sysPath;  // "/sys/devices/…", as umockdev names it
    std::string text;     // the paragraph for umockdev_testbed_add_from_string
};

// The root hub of bus `bus` on its controller, and a hub at `ports`.
Record RootHubRecord(const std::string& controller, int bus);
Record HubRecord(const std::string& controller, int bus, const std::vector<int>& ports);

struct UsbFunction {
    uint16_t vendorId = 0, productId = 0, version = 0x0100;
    std::string serial;  // empty: none
    std::string manufacturer, product;
    std::string controller;
    int bus = 1;
    std::vector<int> ports;
    int devnum = 2;
    size_t interfaceCount = 1;
};

struct HidInterfaceRecordArgs {
    size_t iface = 0;
    unsigned hidSequence = 1;  // the kernel's running number in "0003:VID:PID.NNNN"
    int hidraw = 0;            // hidrawN
    std::vector<uint8_t> descriptor;
};

constexpr int kHidrawMajor = 240;

Record UsbDeviceRecord(const UsbFunction& f);
// The interface, hid and hidraw paragraphs of one HID interface, parents first.
std::vector<Record> HidInterfaceRecords(const UsbFunction& f, const HidInterfaceRecordArgs& a);

// "usb-0000:00:14.0-3.2/input0", as the kernel's usbhid sets HID_PHYS.
std::string HidPhys(const UsbFunction& f, size_t iface);

}  // namespace brisk::devserver
