// What the Linux HID host reads out of sysfs attribute text and hidraw
// nodes: vendor, product and interface numbers, a USB device's place, its
// serial, the node a path names, report numbering, and errors as the callers
// know them.
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

#include "platform/hid.h"

namespace brisk::linux_hid {

// idVendor, idProduct, bcdDevice: exactly four hex digits (sysfs writes
// "%04x"), an optional line end after them.
std::optional<uint16_t> ParseHex16(std::string_view text);

// bInterfaceNumber: exactly two hex digits ("%02x"), an optional line end.
std::optional<uint8_t> ParseInterfaceNumber(std::string_view text);

// Where a USB device sits, from its busnum and devpath attributes: bus 1
// with devpath "3.2" is root port 3, then port 2 of the hub there; devpath
// "0" is the bus's root hub (no ports). The root is named "usb1" after the
// root hub. Unknown for anything else (a zero, a bus or port out of range,
// deeper than USB allows).
PortKey ParseUsbPort(std::string_view busnum, std::string_view devpath);

// The serial as SerialString hands it on: UTF-8 from the kernel (Latin-1 when
// it is not valid UTF-8), line end dropped, cut at the first zero and at the
// 128 characters Windows reads.
std::wstring SerialText(std::string_view raw);

// The path ListHidDevices hands out for a hidraw node: the node itself,
// "/dev/hidraw3". Empty unless it is absolute, printable ASCII, and no
// longer than a path can be.
std::wstring PathOfDevnode(std::string_view devnode);

// The node a path names, under the same rules; empty for anything else.
std::string DevnodeOfPath(std::wstring_view path);

// What a HID report descriptor says about report IDs: whether input reports
// come with the ID first. Items are walked by their size prefixes (long items
// too); one that runs past the end makes the whole descriptor Unknown.
enum class ReportIds { kUnnumbered, kNumbered, kUnknown };
ReportIds ScanReportDescriptor(const uint8_t* descriptor, size_t length);

// A failed read, poll or ioctl as the Win32 error the callers print: a device
// that is gone is ERROR_DEVICE_NOT_CONNECTED, as on Windows.
uint32_t Win32ErrorOf(int errnoValue);

// A failed feature request (HIDIOCGFEATURE) as the Win32 error hid.dll would
// give. Unlike a read's, a stall (EPIPE) or a garbled or late control
// transfer is the device refusing this one request, not leaving: it is
// ERROR_GEN_FAILURE, as a stalled HidD_GetFeature is, and may be asked
// again. Only the errors that mean the device is gone say so.
uint32_t FeatureErrorOf(int errnoValue);

}  // namespace brisk::linux_hid
