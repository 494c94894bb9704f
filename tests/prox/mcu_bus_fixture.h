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

// The headset's internal hub on root port 3: Watchman on port 2, MCU on port 1.
inline const PortKey kMcuPort{L"0000:00:14.0", {3, 1}};
inline const PortKey kWatchmanPort{L"0000:00:14.0", {3, 2}};

inline sim::UsbDeviceDesc McuDesc(const sim::VirtualMcu& mcu, const PortKey& place = kMcuPort) {
    return sim::McuUsbDevice(place, mcu.Interfaces());
}

// Something else on the hub that is not the MCU (the Watchman's vendor and product).
inline sim::UsbDeviceDesc ForeignDesc() {
    sim::UsbDeviceDesc d;
    d.vendorId = 0x28DE;
    d.productId = 0x2300;
    d.serial = L"LHR-5A1B2C3D";
    d.port = kWatchmanPort;
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
