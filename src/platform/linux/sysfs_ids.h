// How the Linux device tree is shown to the code above the HID host: sysfs
// attribute text parsed, and the Windows-shaped device IDs, location paths
// and interface paths that Watchman discovery and the MCU search read.
//
// Pure functions only; everything here reads text a device or sysfs gave us,
// so every parser takes the text whole, checks its shape and bounds, and says
// no rather than guess.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisk::linux_hid {

// idVendor, idProduct, bcdDevice: exactly four hex digits (sysfs writes
// "%04x"), an optional line end after them.
std::optional<uint16_t> ParseHex16(std::string_view text);

// bInterfaceNumber: exactly two hex digits ("%02x"), an optional line end.
std::optional<uint8_t> ParseInterfaceNumber(std::string_view text);

// Where a USB device sits, from its sysfs name: "1-3.2" is bus 1, root port 3,
// hub port 2; "usb1" is bus 1's root hub (no ports). Interfaces ("1-3.2:1.0")
// and anything else are refused.
struct UsbPlace {
    unsigned bus = 0;
    std::vector<unsigned> ports;  // root port first
    bool operator==(const UsbPlace&) const = default;
};
std::optional<UsbPlace> ParseUsbDeviceName(std::string_view sysname);

// The place as a Windows location path, "USBROOT(1)#USB(3)#USB(2)": one
// USBROOT step per bus, then one USB step per port, so the hub a device hangs
// on is its path cut before the last "#USB(" exactly as on Windows.
std::wstring LocationPathOf(const UsbPlace& place);

// The serial as SerialString hands it on: UTF-8 from the kernel (Latin-1 when
// it is not valid UTF-8), line end dropped, cut at the first zero and at the
// 128 characters Windows reads.
std::wstring SerialText(std::string_view raw);

// The instance part of a USB device's ID: its serial when Windows would take
// it as one (printable ASCII, no '\\', '&' or ',', short enough), otherwise
// the sysfs name, as Windows then makes one up. A serial holding "&MI_" must
// never make a device look like one of its interfaces.
std::wstring InstanceOf(std::string_view serial, std::string_view sysname);

// "USB\VID_28DE&PID_2300\LHR-5A1B2C3D", "USB\VID_28DE&PID_2300&MI_00\1-3.2:1.0",
// "HID\VID_28DE&PID_2300&MI_00\0003:28DE:2300.0001": VID and PID in upper
// case hex; no interface part when `interfaceNumber` is empty.
std::wstring DeviceIdOf(std::wstring_view bus, uint16_t vendorId, uint16_t productId,
                        std::optional<uint8_t> interfaceNumber, std::wstring_view instance);

// A node with none of the above: "SUBSYSTEM\sysname", printable ASCII only.
// Empty when either part is empty or not printable.
std::wstring GenericIdOf(std::string_view subsystem, std::string_view sysname);

// True when `id` is `enumerator` or lies below it: the enumerator followed by
// '\\' or '&' (case aside), as SetupAPI lists a device and its interfaces
// under "USB\VID_35BD&PID_0101".
bool IdUnderEnumerator(std::wstring_view id, std::wstring_view enumerator);

// The path ListHidInterfaces hands out for a hidraw node: the Windows-style
// identity (so "&mi_00" finds the IMU interface) and then the node itself,
// "hid#vid_28de&pid_2300&mi_00#/dev/hidraw3". Without a USB identity only
// "hid#/dev/hidraw3".
struct UsbIdentity {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::optional<uint8_t> interfaceNumber;
};
std::wstring InterfacePathOf(const std::optional<UsbIdentity>& identity, std::string_view devnode);

// The device node an interface path names: the part after the last "#/", or
// the whole path when it is one ("/dev/hidraw3"). Empty when there is none or
// it holds anything but printable ASCII.
std::string DevnodeOfPath(std::wstring_view path);

// What a HID report descriptor says about report IDs: whether input reports
// come with the ID first. Items are walked by their size prefixes (long items
// too); one that runs past the end makes the whole descriptor Unknown.
enum class ReportIds { kUnnumbered, kNumbered, kUnknown };
ReportIds ScanReportDescriptor(const uint8_t* descriptor, size_t length);

// A failed read, poll or ioctl as the Win32 error the callers print: a device
// that is gone is ERROR_DEVICE_NOT_CONNECTED, as on Windows.
uint32_t Win32ErrorOf(int errnoValue);

}  // namespace brisk::linux_hid
