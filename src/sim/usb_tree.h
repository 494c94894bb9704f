// The devices of the virtual USB bus: what each one is, where it sits, whether
// it is plugged in, and the HID interface paths the bus hands out for it.
//
// Plain data without a lock of its own: UsbBus owns one and calls it with the
// bus's lock held. Devices are numbered in the order they were added and stay
// here when unplugged; an absent device is neither listed nor opened.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/hid.h"
#include "sim/usb_bus.h"

namespace brisk::sim {

class UsbTree {
  public:
    // Adds a device with one path per interface. Returns its number.
    UsbDeviceId Add(UsbDeviceDesc desc);
    // False for a number that was never handed out.
    bool SetPresent(UsbDeviceId device, bool present);
    bool Present(UsbDeviceId device) const;
    const UsbDeviceDesc& Desc(UsbDeviceId device) const;
    // The model behind one of a device's interfaces; null for a dead one.
    HidInterfaceModel* Model(UsbDeviceId device, size_t iface) const;
    // The present device and interface whose HID path is `path`.
    bool FindHidPath(const std::wstring& path, UsbDeviceId& device, size_t& iface) const;
    // The serial a device reports, as HidD_GetSerialNumberString reads it.
    std::wstring Serial(UsbDeviceId device) const;

    // Every present interface, device by device in each one's list order.
    void ListHidDevices(std::vector<HidDeviceInfo>& out) const;

  private:
    struct Device {
        UsbDeviceDesc desc;
        bool present = true;
        std::vector<std::wstring> hidPaths;  // by interface number
    };

    std::vector<Device> devices;
};

}  // namespace brisk::sim
