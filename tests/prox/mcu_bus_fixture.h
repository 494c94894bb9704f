// A virtual bus with a headset MCU on the internal hub next to the Watchman's
// place, and the check every test ends with: nothing left open, nothing
// closed twice.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sim/usb_bus.h"
#include "sim/virtual_mcu.h"
#include "sim/watchman.h"

namespace brisk::test {

// The headset's internal hub: Watchman on port 2, MCU on port 1.
inline const std::wstring kHubPath = L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)";
inline const std::wstring kMcuPath = kHubPath + L"#USB(1)";

inline sim::UsbDeviceDesc McuDesc(const sim::VirtualMcu& mcu,
                                  const std::wstring& place = kMcuPath) {
    return sim::McuUsbDevice(place, mcu.Interfaces());
}

// Something else on the hub that is not the MCU (the Watchman's vendor and product).
inline sim::UsbDeviceDesc ForeignDesc() {
    sim::UsbDeviceDesc d;
    d.vendorId = 0x28DE;
    d.productId = 0x2300;
    d.serial = L"LHR-5A1B2C3D";
    d.locationPath = kHubPath + L"#USB(2)";
    d.interfaces = {std::make_shared<sim::SilentInterface>(),
                    std::make_shared<sim::SilentInterface>()};
    return d;
}

class McuBusTest : public ::testing::Test {
  protected:
    void TearDown() override {
        EXPECT_EQ(bus.OpenHandles(), 0u);
        EXPECT_EQ(bus.OpenEvents(), 0u);
        EXPECT_EQ(bus.BadCloses(), 0u);
    }

    sim::UsbDeviceId AttachMcu(sim::VirtualMcu& mcu) { return bus.Attach(McuDesc(mcu)); }

    sim::UsbBus bus;
};

}  // namespace brisk::test
