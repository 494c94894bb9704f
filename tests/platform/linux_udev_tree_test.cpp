// Discovery on the Linux HID host over an emulated sysfs (umockdev): each
// hidraw node listed with what sysfs says of it, the Watchman beside the MCU
// found by the ports they share, a Watchman on another hub only by its
// serial, and two headsets make the choice the user's. Runs under
// umockdev-wrapper; skipped elsewhere.
#include <gtest/gtest.h>

#include <umockdev.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/hub_pairing.h"
#include "imu/watchman_discovery.h"
#include "imu/watchman_light.h"
#include "platform/hid.h"
#include "prox/mcu_discovery.h"

namespace brisk {
namespace {

constexpr char kController[] = "/devices/pci0000:00/0000:00:14.0";

// The sysfs path of a USB device, "1-3.2" under usb1/1-3.
std::string UsbPath(const std::string& name) {
    const size_t dash = name.find('-');
    std::string path = std::string(kController) + "/usb" + name.substr(0, dash);
    for (size_t dot = name.find('.', dash); dot != std::string::npos;
         dot = name.find('.', dot + 1)) {
        path += "/" + name.substr(0, dot);
    }
    return path + "/" + name;
}

// The bus number and devpath the kernel gives "1-3.2": 1 and "3.2".
std::string UsbPlaceAttrs(const std::string& name) {
    const size_t dash = name.find('-');
    return "A: busnum=" + name.substr(0, dash) + "\nA: devpath=" + name.substr(dash + 1) + "\n";
}

std::string UsbDeviceRecord(const std::string& name, const char* vid, const char* pid,
                            const std::string& serial) {
    std::string r = "P: " + UsbPath(name) +
                    "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: idVendor=" + vid +
                    "\nA: idProduct=" + pid + "\nA: bcdDevice=0102\n" + UsbPlaceAttrs(name);
    if (!serial.empty()) {
        r += "A: serial=" + serial + "\n";
    }
    return r + "\n";
}

// One HID interface: usb_interface, hid device and hidraw node.
std::string HidInterfaceRecords(const std::string& device, const char* vid, const char* pid,
                                int iface, int hidraw, const char* descriptorHex) {
    const std::string ifacePath = UsbPath(device) + "/" + device + ":1." + std::to_string(iface);
    const std::string hidPath =
        ifacePath + "/0003:" + vid + ":" + pid + ".000" + std::to_string(hidraw);
    const std::string raw = "hidraw" + std::to_string(hidraw);
    return "P: " + ifacePath +
           "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceNumber=0" +
           std::to_string(iface) + "\n\n" + "P: " + hidPath +
           "\nE: SUBSYSTEM=hid\nH: report_descriptor=" + descriptorHex + "\n\n" + "P: " + hidPath +
           "/hidraw/" + raw + "\nN: " + raw + "\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/" + raw +
           "\nE: MAJOR=240\nE: MINOR=" + std::to_string(hidraw) + "\n\n";
}

constexpr char kImuDescriptor[] = "0600FF0901A101852075089534810209018502950FB102C0";
constexpr char kMcuDescriptor[] = "0600FF0901A10175089540810209019540B102C0";

std::string Hub(const std::string& name) {
    return UsbDeviceRecord(name, "05e3", "0610", "");
}

std::string Watchman(const std::string& name, const std::string& serial, int firstHidraw) {
    // MI_02 comes first, so discovery has to pass it over.
    return UsbDeviceRecord(name, "28de", "2300", serial) +
           HidInterfaceRecords(name, "28DE", "2300", 2, firstHidraw, kImuDescriptor) +
           HidInterfaceRecords(name, "28DE", "2300", 0, firstHidraw + 1, kImuDescriptor);
}

std::string Mcu(const std::string& name, int hidraw) {
    return UsbDeviceRecord(name, "35bd", "0101", "") +
           HidInterfaceRecords(name, "35BD", "0101", 0, hidraw, kMcuDescriptor);
}

// A HID device of no bus brisk knows (uhid, say): no USB parents at all.
std::string VirtualHid(int hidraw) {
    const std::string hidPath = "/devices/virtual/misc/uhid/0003:28DE:2300.00F0";
    const std::string raw = "hidraw" + std::to_string(hidraw);
    return "P: " + hidPath + "\nE: SUBSYSTEM=hid\nH: report_descriptor=" + kImuDescriptor +
           "\n\nP: " + hidPath + "/hidraw/" + raw + "\nN: " + raw +
           "\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/" + raw +
           "\nE: MAJOR=240\nE: MINOR=" + std::to_string(hidraw) + "\n\n";
}

std::string RootHubs() {
    std::string r;
    for (const char* bus : {"1", "2", "3"}) {
        r += "P: " + std::string(kController) + "/usb" + bus +
             "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: idVendor=1d6b\nA: idProduct=0002\n" +
             "A: busnum=" + bus + "\nA: devpath=0\n\n";
    }
    return r;
}

class LinuxUdevTree : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* preload = std::getenv("LD_PRELOAD");
        if (preload == nullptr || std::strstr(preload, "libumockdev-preload") == nullptr) {
            GTEST_SKIP() << "needs umockdev-wrapper";
        }
        testbed = umockdev_testbed_new();
    }
    void TearDown() override {
        if (testbed != nullptr) {
            g_object_unref(testbed);
        }
    }
    void Add(const std::string& records) {
        GError* error = nullptr;
        ASSERT_TRUE(umockdev_testbed_add_from_string(testbed, records.c_str(), &error))
            << (error != nullptr ? error->message : "");
    }
    UMockdevTestbed* testbed = nullptr;
};

TEST_F(LinuxUdevTree, TheHeadsetsWatchmanIsFoundByTheHubItSharesWithTheMcu) {
    Add(RootHubs() + Hub("1-3") + Mcu("1-3.1", 0) + Watchman("1-3.2", "LHR-5A1B2C3D", 1) +
        Watchman("2-1", "LHR-TRACKER1", 3) + VirtualHid(5));
    HidHost& host = PlatformHidHost();

    std::vector<HidDeviceInfo> devices;
    ASSERT_TRUE(host.ListHidDevices(devices));
    // In sysfs order, which discovery does not rely on.
    std::sort(devices.begin(), devices.end(),
              [](const HidDeviceInfo& a, const HidDeviceInfo& b) { return a.path < b.path; });
    const PortKey headsetMcu{L"usb1", {3, 1}};
    const PortKey headsetWatchman{L"usb1", {3, 2}};
    const PortKey tracker{L"usb2", {1}};
    const std::vector<HidDeviceInfo> want{
        {0x35BD, 0x0101, 0, L"", L"/dev/hidraw0", headsetMcu},
        {0x28DE, 0x2300, 2, L"LHR-5A1B2C3D", L"/dev/hidraw1", headsetWatchman},
        {0x28DE, 0x2300, 0, L"LHR-5A1B2C3D", L"/dev/hidraw2", headsetWatchman},
        {0x28DE, 0x2300, 2, L"LHR-TRACKER1", L"/dev/hidraw3", tracker},
        {0x28DE, 0x2300, 0, L"LHR-TRACKER1", L"/dev/hidraw4", tracker},
        {0, 0, -1, L"", L"/dev/hidraw5", PortKey{}},  // not on USB
    };
    ASSERT_EQ(devices.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(devices[i].vendorId, want[i].vendorId);
        EXPECT_EQ(devices[i].productId, want[i].productId);
        EXPECT_EQ(devices[i].interfaceNumber, want[i].interfaceNumber);
        EXPECT_EQ(devices[i].serial, want[i].serial);
        EXPECT_EQ(devices[i].path, want[i].path);
        EXPECT_EQ(devices[i].port, want[i].port);
        if (want[i].vendorId == 0x28DE) {
            // From the HID device's report_descriptor: the IMU report only,
            // so no interface of these units is taken for the light.
            EXPECT_EQ(devices[i].inputReportIds, std::vector<uint8_t>{0x20});
            EXPECT_FALSE(IsWatchmanLight(devices[i], want[i].serial));
        }
    }
    EXPECT_EQ(McuPortKeys(devices), std::vector<PortKey>{headsetMcu});

    std::wstring chosen;
    Handle imu = OpenWatchman(host, L"", &chosen, false);
    ASSERT_NE(imu, kInvalidHandle);
    EXPECT_EQ(chosen, L"LHR-5A1B2C3D");
    HidAttributes attr;
    ASSERT_TRUE(host.Attributes(imu, attr));
    EXPECT_EQ(attr.vendorId, 0x28DE);
    EXPECT_EQ(attr.productId, 0x2300);
    EXPECT_EQ(attr.version, 0x0102);
    host.Close(imu);

    imu = OpenWatchman(host, L"LHR-TRACKER1", &chosen, false);
    ASSERT_NE(imu, kInvalidHandle);
    EXPECT_EQ(chosen, L"LHR-TRACKER1");
    host.Close(imu);

    const std::vector<Handle> mcus = EnumerateMcuInterfaces(host);
    ASSERT_EQ(mcus.size(), 1u);
    std::wstring serial = L"stale";
    EXPECT_FALSE(host.SerialString(mcus[0], serial));  // the MCU has none
    EXPECT_TRUE(serial.empty());
    host.Close(mcus[0]);
}

TEST_F(LinuxUdevTree, TwoHeadsetsLeaveTheChoiceToTheSerial) {
    Add(RootHubs() + Hub("1-3") + Mcu("1-3.1", 0) + Watchman("1-3.2", "LHR-AAAAAAAA", 1) +
        Hub("3-1") + Mcu("3-1.1", 3) + Watchman("3-1.2", "LHR-BBBBBBBB", 4));
    HidHost& host = PlatformHidHost();
    std::vector<HidDeviceInfo> devices;
    ASSERT_TRUE(host.ListHidDevices(devices));
    std::vector<PortKey> mcus = McuPortKeys(devices);
    std::sort(mcus.begin(), mcus.end(),
              [](const PortKey& a, const PortKey& b) { return a.root < b.root; });
    EXPECT_EQ(mcus, (std::vector<PortKey>{{L"usb1", {3, 1}}, {L"usb3", {1, 1}}}));
    // Each headset's Watchman pairs with its own MCU only.
    for (const HidDeviceInfo& d : devices) {
        if (IsWatchmanImu(d)) {
            EXPECT_NE(SharesHub(d.port, mcus[0]), SharesHub(d.port, mcus[1])) << d.path;
        }
    }
    std::wstring chosen;
    EXPECT_EQ(OpenWatchman(host, L"", &chosen, false), kInvalidHandle);
    const Handle imu = OpenWatchman(host, L"LHR-BBBBBBBB", &chosen, false);
    ASSERT_NE(imu, kInvalidHandle);
    EXPECT_EQ(chosen, L"LHR-BBBBBBBB");
    host.Close(imu);
}

TEST_F(LinuxUdevTree, AWatchmanWithoutAnMcuIsNotTakenUnasked) {
    Add(RootHubs() + Hub("1-3") + Watchman("1-3.2", "LHR-5A1B2C3D", 0));
    HidHost& host = PlatformHidHost();
    std::vector<HidDeviceInfo> devices;
    ASSERT_TRUE(host.ListHidDevices(devices));
    EXPECT_TRUE(McuPortKeys(devices).empty());
    std::wstring chosen;
    EXPECT_EQ(OpenWatchman(host, L"", &chosen, false), kInvalidHandle);
}

}  // namespace
}  // namespace brisk
