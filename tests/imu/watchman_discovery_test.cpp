// Watchman discovery on the virtual bus: what is opened, what is kept, what is
// printed.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "imu/watchman_discovery.h"
#include "imu/watchman_light.h"
#include "sim/usb_bus.h"
#include "sim/virtual_mcu.h"
#include "support/output_capture.h"

namespace brisk {
namespace {

using test::OutputCapture;

const std::wstring kRoot = L"0000:00:14.0";
const PortKey kHeadsetWatchman{kRoot, {3, 2}};
const PortKey kHeadsetMcu{kRoot, {3, 1}};
const PortKey kOtherController{L"0000:00:14.1", {5, 1}};
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
    sim::UsbDeviceId AddWatchman(const std::wstring& serial, const PortKey& port,
                                 std::vector<size_t> listOrder = {}) {
        sim::UsbDeviceDesc d;
        d.vendorId = 0x28DE;
        d.productId = 0x2300;
        d.serial = serial;
        d.port = port;
        d.interfaces = Silent(3);
        d.listOrder = std::move(listOrder);
        return bus.Attach(std::move(d));
    }

    void AddMcu(const PortKey& port) {
        sim::UsbDeviceDesc d;
        d.vendorId = 0x35BD;
        d.productId = 0x0101;
        d.serial = L"DV0001";
        d.port = port;
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
    AddWatchman(L"LHR-00000002", {kRoot, {3, 4}});
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
    AddMcu({kRoot, {7, 1, 1}});  // present, but on no shared hub
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

TEST_F(Discovery, OpensOnlyWatchmanInterfaceZeroEachOnce) {
    // The Watchman lists its other interfaces first; a receiver has an
    // interface 0 of its own, which is not opened at all.
    AddWatchman(L"LHR-5A1B2C3D", kHeadsetWatchman, {2, 1, 0});
    sim::UsbDeviceDesc receiver;
    receiver.vendorId = 0x046D;
    receiver.productId = 0xC52B;
    receiver.port = {kRoot, {3, 3}};
    receiver.interfaces = Silent(2);
    bus.Attach(std::move(receiver));
    AddMcu(kHeadsetMcu);
    Discover(L"");
    ASSERT_NE(handle, kInvalidHandle);
    EXPECT_EQ(out, "TundraImu: 1 Watchman device(s), 1 MCU-paired\n");
    EXPECT_EQ(bus.OpensOf(L"28de:2300/if0"), 1u);
    EXPECT_EQ(bus.OpensOf(L"28de:2300/if1"), 0u);
    EXPECT_EQ(bus.OpensOf(L"28de:2300/if2"), 0u);
    EXPECT_EQ(bus.OpensOf(L"046d:c52b/"), 0u);
    EXPECT_EQ(bus.OpensOf(L"35bd:0101/"), 0u);
}

// Which Watchman pairs, by where each device sits: rows of whole buses.
TEST_F(Discovery, PairsByThePortsTheDevicesShare) {
    struct Case {
        const char* what;
        std::vector<PortKey> watchmen;  // serials LHR-0, LHR-1, ... in this order
        std::vector<PortKey> mcus;
        const char* count;
        const wchar_t* chosen;  // null: none taken unasked
    };
    const PortKey second{L"0000:00:0d.0", {1, 4}};
    const Case cases[] = {
        {"through the root hub",
         {{kRoot, {1}}},
         {{kRoot, {4, 1}}},
         "1 Watchman device(s), 1 MCU-paired",
         L"LHR-0"},
        {"one hub further down",
         {{kRoot, {3, 4, 1}}},
         {kHeadsetMcu},
         "1 Watchman device(s), 1 MCU-paired",
         L"LHR-0"},
        {"too far apart below one root hub",
         {{kRoot, {1, 2, 3}}},
         {{kRoot, {4, 1, 2}}},
         "1 Watchman device(s), 0 MCU-paired",
         nullptr},
        {"another root on the same ports",
         {{L"0000:00:14.1", {3, 2}}},
         {kHeadsetMcu},
         "1 Watchman device(s), 0 MCU-paired",
         nullptr},
        {"no place on the bus",
         {PortKey{}},
         {kHeadsetMcu},
         "1 Watchman device(s), 0 MCU-paired",
         nullptr},
        {"the MCU's place unknown",
         {kHeadsetWatchman},
         {PortKey{}},
         "1 Watchman device(s), 0 MCU-paired",
         nullptr},
        {"a tracker elsewhere and the headset",
         {kOtherController, kHeadsetWatchman},
         {kHeadsetMcu},
         "2 Watchman device(s), 1 MCU-paired",
         L"LHR-1"},
        {"two headsets on two hubs",
         {kHeadsetWatchman, {second.root, {1, 2}}},
         {kHeadsetMcu, second},
         "2 Watchman device(s), 2 MCU-paired",
         nullptr},
        {"two headsets, one MCU unplugged",
         {kHeadsetWatchman, {second.root, {1, 2}}},
         {second},
         "2 Watchman device(s), 1 MCU-paired",
         L"LHR-1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::UsbBus rowBus;
        for (size_t i = 0; i < c.watchmen.size(); ++i) {
            sim::UsbDeviceDesc d;
            d.vendorId = 0x28DE;
            d.productId = 0x2300;
            d.serial = L"LHR-" + std::to_wstring(i);
            d.port = c.watchmen[i];
            d.interfaces = Silent(1);
            rowBus.Attach(std::move(d));
        }
        for (const PortKey& mcu : c.mcus) {
            rowBus.Attach(sim::McuUsbDevice(mcu, Silent(1)));
        }
        std::wstring rowChosen;
        OutputCapture capture(OutputCapture::PassOn::No);
        const Handle h = OpenWatchman(rowBus, L"", &rowChosen, true);
        EXPECT_EQ(capture.Out(), std::string("TundraImu: ") + c.count + "\n");
        EXPECT_EQ(h != kInvalidHandle, c.chosen != nullptr);
        if (c.chosen != nullptr) {
            EXPECT_EQ(rowChosen, c.chosen);
            rowBus.Close(h);
        }
        EXPECT_EQ(rowBus.OpenHandles(), 0u);
    }
}

TEST(DiscoveryRecords, McuPlacesAreKnownOnesOnceAndWatchmenAreInterfaceZero) {
    const PortKey mcu{L"usb1", {3, 1}};
    const std::vector<HidDeviceInfo> listed{
        {0x35BD, 0x0101, 0, L"", L"/dev/hidraw0", mcu},
        {0x35BD, 0x0101, 1, L"", L"/dev/hidraw1", mcu},  // its second interface
        {0x35BD, 0x0101, 0, L"", L"/dev/hidraw2", PortKey{}},
        {0x35BD, 0x0102, 0, L"", L"/dev/hidraw3", {L"usb2", {1}}},
        {0x28DE, 0x2300, 0, L"LHR-1", L"/dev/hidraw4", {L"usb1", {3, 2}}},
    };
    EXPECT_EQ(McuPortKeys(listed), std::vector<PortKey>{mcu});
    EXPECT_TRUE(IsWatchmanImu(listed[4]));
    HidDeviceInfo other = listed[4];
    other.interfaceNumber = 2;
    EXPECT_FALSE(IsWatchmanImu(other));
    other.interfaceNumber = -1;  // not known: never taken for the IMU
    EXPECT_FALSE(IsWatchmanImu(other));
    EXPECT_FALSE(IsWatchmanImu(listed[0]));
}

TEST(DiscoveryRecords, TheLightIsTheInterfaceThatDeclaresLightReports) {
    using Ids = std::optional<std::vector<uint8_t>>;
    struct Case {
        const char* what;
        int interfaceNumber;
        Ids ids;
        std::wstring serial;
        bool light;
    };
    const Case cases[] = {
        {"pulses on interface 1", 1, std::vector<uint8_t>{0x21, 0x25, 0x27, 0x28}, L"LHR-1", true},
        {"sweep words only, on interface 2", 2, std::vector<uint8_t>{0x28}, L"LHR-1", true},
        {"pulses only, on interface 0", 0, std::vector<uint8_t>{0x25}, L"LHR-1", true},
        {"the IMU's reports on interface 1", 1, std::vector<uint8_t>{0x20, 0x21}, L"LHR-1", false},
        {"no input reports on interface 1", 1, std::vector<uint8_t>{}, L"LHR-1", false},
        {"IDs unknown: interface 1 as before", 1, std::nullopt, L"LHR-1", true},
        {"IDs unknown: interface 2 is not taken", 2, std::nullopt, L"LHR-1", false},
        {"another unit's light", 1, std::vector<uint8_t>{0x25}, L"LHR-2", false},
    };
    for (const Case& c : cases) {
        HidDeviceInfo device{0x28DE, 0x2300, c.interfaceNumber, c.serial, L"p", {}, c.ids};
        EXPECT_EQ(IsWatchmanLight(device, L"LHR-1"), c.light) << c.what;
    }
    HidDeviceInfo mcu{0x35BD, 0x0101, 1, L"LHR-1", L"p", {}, std::vector<uint8_t>{0x25}};
    EXPECT_FALSE(IsWatchmanLight(mcu, L"LHR-1"));
}

TEST(DiscoveryRecords, TheVirtualBusListsWhatItsModelsDeclare) {
    sim::UsbBus bus;
    sim::UsbDeviceDesc d;
    d.vendorId = 0x28DE;
    d.productId = 0x2300;
    d.serial = L"LHR-1";
    // A firmware that moved the light to interface 2, an interface without
    // inputs where it used to be.
    d.interfaces = {std::make_shared<sim::SilentInterface>(std::vector<uint8_t>{0x20, 0x21}),
                    std::make_shared<sim::SilentInterface>(std::vector<uint8_t>{}),
                    std::make_shared<sim::SilentInterface>(std::vector<uint8_t>{0x25, 0x28}),
                    std::make_shared<sim::SilentInterface>()};
    bus.Attach(std::move(d));
    std::vector<HidDeviceInfo> listed;
    ASSERT_TRUE(bus.ListHidDevices(listed));
    ASSERT_EQ(listed.size(), 4u);
    std::vector<int> lights;
    for (const HidDeviceInfo& device : listed) {
        if (IsWatchmanLight(device, L"LHR-1")) {
            lights.push_back(device.interfaceNumber);
        }
    }
    EXPECT_EQ(lights, std::vector<int>{2});
    EXPECT_EQ(listed[0].inputReportIds, (std::vector<uint8_t>{0x20, 0x21}));
    EXPECT_EQ(listed[3].inputReportIds, std::nullopt);
}

}  // namespace
}  // namespace brisk
