// What the Windows HID backend reads out of the strings Windows hands it: the
// interface number in a HID interface path, whether a device instance ID is a
// given USB device's own, and the place a location path names. Pure
// functions, built natively too so that their tests and fuzzing need no Wine.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/hid.h"

namespace brisk::win32_hid {

// The number after "&mi_" (either case) in "\\?\hid#vid_28de&pid_2300&mi_00#…",
// two hexadecimal digits; -1 when the path has none.
int InterfaceNumberOfPath(std::wstring_view path);

// True when `id` is the device ID of the USB device vendorId:productId itself,
// "USB\VID_28DE&PID_2300\LHR-5A1B2C3D" in either case, and none of its
// interfaces ("&MI_" anywhere in it).
bool IsUsbDeviceIdOf(std::wstring_view id, uint16_t vendorId, uint16_t productId);

// "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)#USB(2)": the root is everything
// before the first "#USB(" step, the ports the numbers of the steps, {3, 2}.
// Unknown when the path is empty, begins with a step, or anything after the
// root is not a "#USB(n)" step with n from 1 to 255.
PortKey PortKeyOfLocationPath(std::wstring_view path);

}  // namespace brisk::win32_hid
