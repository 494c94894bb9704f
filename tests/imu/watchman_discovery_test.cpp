// Watchman discovery on the virtual bus: what is opened, what is kept, what is
// printed.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "imu/watchman_discovery.h"
#include "sim/usb_bus.h"
#include "support/output_capture.h"

namespace brisk {
namespace {

using test::OutputCapture;

const std::wstring kRoot = L"PCIROOT(0)#PCI(1400)#USBROOT(0)";
const std::wstring kHeadsetWatchman = kRoot + L"#USB(3)#USB(2)";
const std::wstring kHeadsetMcu = kRoot + L"#USB(3)#USB(1)";
const std::wstring kOtherController = L"PCIROOT(0)#PCI(1401)#USBROOT(0)#USB(5)#USB(1)";
const char kPairedTag[] = "  [shares hub with Davovo MCU]";

std::vector<std::shared_ptr<sim::HidInterfaceModel>> Silent(size_t count) {
    std::vector<std::shared_ptr<sim::HidInterfaceModel>> out;
    for (size_t i = 0; i < count; ++i) {
        out.push_back(std::make_shared<sim::SilentInterface>());
    }
    return out;
}

class Discovery : public ::testing::Test {
  protected:
    sim::UsbDeviceId AddWatchman(const std::wstring& serial, const std::wstring& lp,
                                 std::vector<size_t> listOrder = {}) {
        sim::UsbDeviceDesc d;
        d.vendorId = 0x28DE;
        d.productId = 0x2300;
        d.serial = serial;
        d.locationPath = lp;
        d.interfaces = Silent(3);
        d.listOrder = std::move(listOrder);
        return bus.Attach(std::move(d));
    }

    void AddMcu(const std::wstring& lp) {
        sim::UsbDeviceDesc d;
        d.vendorId = 0x35BD;
        d.productId = 0x0101;
        d.serial = L"DV0001";
        d.locationPath = lp;
        d.interfaces = Silent(2);
        bus.Attach(std::move(d));
    }

    // One verbose discovery with its output captured. The handle stays open
    // until the test ends.
    void Discover(const std::wstring& serial) {
        chosen = L"(untouched)";
        OutputCapture capture(OutputCapture::PassOn::No);
        handle = OpenWatchman(bus, serial, &chosen, true);
        out = capture.Out();
        err = capture.Err();
    }

    std::wstring SerialOfHandle() {
        std::wstring s;
        bus.SerialString(handle, s);
        return s;
    }

    void TearDown() override {
        // Nothing but the returned handle may survive a discovery.
        EXPECT_EQ(bus.OpenHandles(), handle == kInvalidHandle ? 0u : 1u);
        if (handle != kInvalidHandle) {
            bus.Close(handle);
        }
        EXPECT_EQ(bus.OpenHandles(), 0u);
        EXPECT_EQ(bus.BadCloses(), 0u);
    }

    sim::UsbBus bus;
    Handle handle = kInvalidHandle;
    std::wstring chosen;
    std::string out;
    std::string err;
};

TEST_F(Discovery, TakesTheWatchmanBesideTheMcu) {
    AddWatchman(L"LHR-5A1B2C3D", kHeadsetWatchman);
    AddMcu(kHeadsetMcu);
    Discover(L"");
    ASSERT_NE(handle, kInvalidHandle);
    EXPECT_EQ(chosen, L"LHR-5A1B2C3D");
    EXPECT_EQ(SerialOfHandle(), L"LHR-5A1B2C3D");
    EXPECT_EQ(out, "TundraImu: 1 Watchman device(s), 1 MCU-paired\n");
    EXPECT_EQ(err, "");
}

TEST_F(Discovery, RefusesALoneWatchmanWithoutMcu) {
    AddWatchman(L"LHR-5A1B2C3D", kHeadsetWatchman);
    Discover(L"");
    EXPECT_EQ(handle, kInvalidHandle);
    EXPECT_EQ(chosen, L"(untouched)");
    EXPECT_EQ(out, "TundraImu: 1 Watchman device(s), 0 MCU-paired\n");
    EXPECT_EQ(err,
              "TundraImu: cannot pick among 1 Watchman device(s) (0 MCU-paired, no Davovo MCU on "
              "the bus) — is the Davovo attached? Or pass its LHR serial:\n"
              "  LHR-5A1B2C3D\n");
}

TEST_F(Discovery, RefusesTwoPairedWatchmenAndTagsBoth) {
    AddWatchman(L"LHR-00000001", kHeadsetWatchman);
    AddWatchman(L"LHR-00000002", kRoot + L"#USB(3)#USB(4)");
    AddMcu(kHeadsetMcu);
    Discover(L"");
    EXPECT_EQ(handle, kInvalidHandle);
    EXPECT_EQ(out, "TundraImu: 2 Watchman device(s), 2 MCU-paired\n");
    EXPECT_EQ(err, std::string("TundraImu: cannot pick among 2 Watchman device(s) (2 MCU-paired) "
                               "— is the Davovo attached? Or pass its LHR serial:\n") +
                       "  LHR-00000001" + kPairedTag + "\n" + "  LHR-00000002" + kPairedTag + "\n");
}

TEST_F(Discovery, TakesThePairedOneOfTwo) {
    AddWatchman(L"LHR-7RACKER0", kOtherController);
    AddWatchman(L"LHR-5A1B2C3D", kHeadsetWatchman);
    AddMcu(kHeadsetMcu);
    Discover(L"");
    ASSERT_NE(handle, kInvalidHandle);
    EXPECT_EQ(chosen, L"LHR-5A1B2C3D");
    EXPECT_EQ(SerialOfHandle(), L"LHR-5A1B2C3D");
    EXPECT_EQ(out, "TundraImu: 2 Watchman device(s), 1 MCU-paired\n");
    EXPECT_EQ(err, "");
}

TEST_F(Discovery, ARequestedSerialWinsOverPairing) {
    AddWatchman(L"LHR-5A1B2C3D", kHeadsetWatchman);
    AddWatchman(L"LHR-7RACKER0", kOtherController);
    AddMcu(kHeadsetMcu);
    Discover(L"LHR-7RACKER0");
    ASSERT_NE(handle, kInvalidHandle);
    EXPECT_EQ(chosen, L"LHR-7RACKER0");
    EXPECT_EQ(SerialOfHandle(), L"LHR-7RACKER0");
    EXPECT_EQ(out, "TundraImu: 2 Watchman device(s), 1 MCU-paired\n");
    EXPECT_EQ(err, "");
}

TEST_F(Discovery, SerialsCompareCaseSensitively) {
    AddWatchman(L"LHR-5A1B2C3D", kHeadsetWatchman);
    AddMcu(kRoot + L"#USB(7)#USB(1)#USB(1)");  // present, but on no shared hub
    Discover(L"lhr-5a1b2c3d");
    EXPECT_EQ(handle, kInvalidHandle);
    EXPECT_EQ(out, "TundraImu: 1 Watchman device(s), 0 MCU-paired\n");
    EXPECT_EQ(err,
              "TundraImu: cannot pick among 1 Watchman device(s) (0 MCU-paired) — is the Davovo "
              "attached? Or pass its LHR serial:\n"
              "  LHR-5A1B2C3D\n");
}

TEST_F(Discovery, DuplicateSerialsTakeTheFirst) {
    AddWatchman(L"LHR-D0D0D0D0", kOtherController);
    const sim::UsbDeviceId second = AddWatchman(L"LHR-D0D0D0D0", kHeadsetWatchman);
    AddMcu(kHeadsetMcu);
    Discover(L"LHR-D0D0D0D0");
    ASSERT_NE(handle, kInvalidHandle);
    EXPECT_EQ(out, "TundraImu: 2 Watchman device(s), 1 MCU-paired\n");
    // The first in enumeration order is the unpaired one: unplugging the
    // second must leave the returned handle alive.
    bus.Unplug(second);
    HidAttributes attr;
    EXPECT_TRUE(bus.Attributes(handle, attr));
}

TEST_F(Discovery, NoWatchmanPrintsOnlyTheCount) {
    AddMcu(kHeadsetMcu);
    Discover(L"");
    EXPECT_EQ(handle, kInvalidHandle);
    EXPECT_EQ(out, "TundraImu: 0 Watchman device(s), 0 MCU-paired\n");
    EXPECT_EQ(err, "");
    Discover(L"LHR-5A1B2C3D");
    EXPECT_EQ(handle, kInvalidHandle);
    EXPECT_EQ(err, "");
}

TEST_F(Discovery, QuietWhenNotVerbose) {
    AddWatchman(L"LHR-5A1B2C3D", kHeadsetWatchman);
    OutputCapture capture(OutputCapture::PassOn::No);
    const Handle h = OpenWatchman(bus, L"", nullptr, false);  // no chosenOut either
    EXPECT_EQ(capture.Out(), "");
    EXPECT_EQ(capture.Err(), "");
    EXPECT_EQ(h, kInvalidHandle);
}

TEST_F(Discovery, OpensOnlyMi00InterfacesEachOnce) {
    // The Watchman lists its other interfaces first; a keyboard has an MI_00
    // of its own, which is opened, found foreign and closed.
    AddWatchman(L"LHR-5A1B2C3D", kHeadsetWatchman, {2, 1, 0});
    sim::UsbDeviceDesc kbd;
    kbd.vendorId = 0x046D;
    kbd.productId = 0xC52B;
    kbd.locationPath = kRoot + L"#USB(3)#USB(3)";
    kbd.interfaces = Silent(2);
    bus.Attach(std::move(kbd));
    AddMcu(kHeadsetMcu);
    Discover(L"");
    ASSERT_NE(handle, kInvalidHandle);
    EXPECT_EQ(out, "TundraImu: 1 Watchman device(s), 1 MCU-paired\n");
    EXPECT_EQ(bus.OpensOf(L"vid_28de&pid_2300&mi_00"), 1u);
    EXPECT_EQ(bus.OpensOf(L"vid_28de&pid_2300&mi_01"), 0u);
    EXPECT_EQ(bus.OpensOf(L"vid_28de&pid_2300&mi_02"), 0u);
    EXPECT_EQ(bus.OpensOf(L"vid_046d&pid_c52b&mi_00"), 1u);
    EXPECT_EQ(bus.OpensOf(L"vid_046d&pid_c52b&mi_01"), 0u);
    EXPECT_EQ(bus.OpensOf(L"vid_35bd&pid_0101&mi_01"), 0u);
}

TEST_F(Discovery, PairsThroughTheRootHub) {
    AddWatchman(L"LHR-5A1B2C3D", kRoot + L"#USB(1)");
    AddMcu(kRoot + L"#USB(4)#USB(1)");
    Discover(L"");
    EXPECT_NE(handle, kInvalidHandle);
    EXPECT_EQ(out, "TundraImu: 1 Watchman device(s), 1 MCU-paired\n");
}

TEST_F(Discovery, NoPlaceOnTheBusMeansNotPaired) {
    AddWatchman(L"LHR-5A1B2C3D", L"");
    AddMcu(kHeadsetMcu);
    Discover(L"");
    EXPECT_EQ(handle, kInvalidHandle);
    EXPECT_EQ(out, "TundraImu: 1 Watchman device(s), 0 MCU-paired\n");
}

TEST_F(Discovery, TreeHelpersFindTheUsbDeviceNodeAndMcuPaths) {
    AddWatchman(L"LHR-5A1B2C3D", kHeadsetWatchman);
    AddMcu(kHeadsetMcu);
    std::vector<HidInterface> ifaces;
    ASSERT_TRUE(bus.ListHidInterfaces(ifaces));
    ASSERT_FALSE(ifaces.empty());
    const DevNode hidNode = ifaces[0].node;  // the Watchman's MI_00
    EXPECT_EQ(LocationPath(bus, hidNode), L"");

    DevNode usbNode = 0;
    ASSERT_TRUE(FindUsbDeviceNode(bus, hidNode, L"USB\\VID_28DE&PID_2300\\", usbNode));
    std::wstring id;
    ASSERT_TRUE(bus.DeviceId(usbNode, id));
    EXPECT_EQ(id, L"USB\\VID_28DE&PID_2300\\LHR-5A1B2C3D");
    EXPECT_EQ(LocationPath(bus, usbNode), kHeadsetWatchman);
    EXPECT_FALSE(FindUsbDeviceNode(bus, hidNode, L"USB\\VID_35BD&PID_0101\\", usbNode));

    // Interface nodes of the MCU are listed too, and passed over.
    EXPECT_EQ(McuLocationPaths(bus), std::vector<std::wstring>{kHeadsetMcu});
}

}  // namespace
}  // namespace brisk
