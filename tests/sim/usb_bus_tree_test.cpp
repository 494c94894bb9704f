// The virtual bus's devices as discovery lists them, and its handle book.
#include <gtest/gtest.h>

#include <iterator>

#include "device/hub_pairing.h"
#include "sim/usb_bus.h"

namespace brisk::sim {
namespace {

const PortKey kHeadsetPort{L"0000:00:14.0", {3, 2}};
const PortKey kMcuPort{L"0000:00:14.0", {3, 1}};

// Three interfaces, listed 1, 2, 0 as a host may well do.
UsbDeviceDesc Tracker(std::wstring serial, PortKey port) {
    UsbDeviceDesc d;
    d.vendorId = 0x28DE;
    d.productId = 0x2300;
    d.serial = std::move(serial);
    d.port = std::move(port);
    d.interfaces = {std::make_shared<SilentInterface>(), std::make_shared<SilentInterface>(),
                    nullptr};
    d.listOrder = {1, 2, 0};
    return d;
}

UsbDeviceDesc Mcu(PortKey port) {
    UsbDeviceDesc d;
    d.vendorId = 0x35BD;
    d.productId = 0x0101;
    d.port = std::move(port);
    d.interfaces = {std::make_shared<SilentInterface>(), std::make_shared<SilentInterface>()};
    return d;
}

class UsbBusTree : public ::testing::Test {
  protected:
    void TearDown() override {
        EXPECT_EQ(bus.OpenHandles(), 0u);
        EXPECT_EQ(bus.OpenEvents(), 0u);
    }
    std::vector<HidDeviceInfo> List() {
        std::vector<HidDeviceInfo> found{{1, 2, 3, L"stale", L"stale", {}}};
        EXPECT_TRUE(bus.ListHidDevices(found));
        return found;
    }
    UsbBus bus;
};

TEST_F(UsbBusTree, InterfacesAreListedInTheDevicesOrderAsTheyWereDescribed) {
    bus.Attach(Tracker(L"LHR-5A1B2C3D", kHeadsetPort));
    bus.Attach(Mcu(kMcuPort));
    const std::vector<HidDeviceInfo> found = List();
    struct Want {
        uint16_t productId;
        int iface;
        const wchar_t* serial;
        const wchar_t* path;
        PortKey port;
    };
    const Want want[] = {
        {0x2300, 1, L"LHR-5A1B2C3D", L"virtual/0/28de:2300/if1", kHeadsetPort},
        {0x2300, 2, L"LHR-5A1B2C3D", L"virtual/0/28de:2300/if2", kHeadsetPort},
        {0x2300, 0, L"LHR-5A1B2C3D", L"virtual/0/28de:2300/if0", kHeadsetPort},
        {0x0101, 0, L"", L"virtual/1/35bd:0101/if0", kMcuPort},
        {0x0101, 1, L"", L"virtual/1/35bd:0101/if1", kMcuPort},
    };
    ASSERT_EQ(found.size(), std::size(want));
    for (size_t i = 0; i < found.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(found[i].productId, want[i].productId);
        EXPECT_EQ(found[i].interfaceNumber, want[i].iface);
        EXPECT_EQ(found[i].serial, want[i].serial);
        EXPECT_EQ(found[i].path, want[i].path);
        EXPECT_EQ(found[i].port, want[i].port);
    }
    // The Watchman and the MCU hang on one hub, as the headset's do.
    EXPECT_TRUE(SharesHub(found[2].port, found[3].port));

    // Opened, each says what it was listed as; the serial only where there is one.
    Handle mcuHandle = bus.Open(found[3].path);
    Handle trackerHandle = bus.Open(found[0].path);
    std::wstring serial = L"junk";
    EXPECT_FALSE(bus.SerialString(mcuHandle, serial));
    EXPECT_TRUE(serial.empty());
    EXPECT_TRUE(bus.SerialString(trackerHandle, serial));
    EXPECT_EQ(serial, L"LHR-5A1B2C3D");
    HidAttributes attr;
    ASSERT_TRUE(bus.Attributes(mcuHandle, attr));
    EXPECT_EQ(attr.vendorId, 0x35BD);
    EXPECT_EQ(attr.productId, 0x0101);
    bus.Close(mcuHandle);
    bus.Close(trackerHandle);
}

TEST_F(UsbBusTree, LongSerialsAreCutAsWindowsReadsThemAndPlacesMayBeUnknown) {
    bus.Attach(Tracker(std::wstring(200, L'S'), PortKey{}));
    const std::vector<HidDeviceInfo> found = List();
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].serial, std::wstring(127, L'S'));
    EXPECT_FALSE(found[0].port.Known());
    const Handle h = bus.Open(found[0].path);
    std::wstring serial;
    EXPECT_TRUE(bus.SerialString(h, serial));
    EXPECT_EQ(serial, found[0].serial);
    bus.Close(h);
}

TEST_F(UsbBusTree, UnpluggedDevicesLeaveTheListAndReturnUnchanged) {
    UsbDeviceId id = bus.Attach(Tracker(L"LHR-5A1B2C3D", kHeadsetPort));
    bus.Attach(Mcu(kMcuPort));
    const std::vector<HidDeviceInfo> before = List();

    bus.Unplug(id);
    const std::vector<HidDeviceInfo> during = List();
    ASSERT_EQ(during.size(), 2u);
    EXPECT_EQ(during[0].path, before[3].path);
    EXPECT_EQ(bus.Open(before[2].path), kInvalidHandle);

    bus.Plug(id);
    const std::vector<HidDeviceInfo> after = List();
    ASSERT_EQ(after.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(after[i].path, before[i].path);
        EXPECT_EQ(after[i].port, before[i].port);
    }
    Handle h = bus.Open(before[2].path);
    EXPECT_NE(h, kInvalidHandle);
    bus.Close(h);
}

TEST_F(UsbBusTree, HandlesAndEventsAreCountedAndBadClosesAreHarmless) {
    bus.Attach(Tracker(L"LHR-5A1B2C3D", kHeadsetPort));
    const std::wstring imuPath = List()[2].path;

    Handle a = bus.Open(imuPath);
    Handle b = bus.Open(imuPath);
    Handle e = bus.CreateReadEvent();
    EXPECT_NE(a, kInvalidHandle);
    EXPECT_NE(b, kInvalidHandle);
    EXPECT_NE(a, b);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(bus.Open(L"VIRTUAL/0/28DE:2300/IF0"), kInvalidHandle);  // paths are exact
    EXPECT_EQ(bus.Open(L"virtual/0/28de:2300/if9"), kInvalidHandle);
    EXPECT_EQ(bus.OpenHandles(), 2u);
    EXPECT_EQ(bus.OpenEvents(), 1u);
    EXPECT_EQ(bus.OpensOf(L"/if0"), 2u);
    EXPECT_EQ(bus.OpensOf(L"/"), 4u);  // failed attempts count too
    EXPECT_EQ(bus.OpensOf(L"/if1"), 0u);

    bus.Close(a);
    bus.Close(b);
    bus.Close(e);
    EXPECT_EQ(bus.BadCloses(), 0u);
    bus.Close(a);
    bus.Close(e);
    bus.Close(nullptr);
    bus.Close(kInvalidHandle);
    EXPECT_EQ(bus.BadCloses(), 4u);
    HidAttributes attr;
    EXPECT_FALSE(bus.Attributes(a, attr));
}

}  // namespace
}  // namespace brisk::sim
