// Discovery on the Linux HID host over an emulated sysfs (umockdev): the
// Watchman beside the MCU is found through the udev tree as on Windows, a
// Watchman on another hub only by its serial, and two headsets make the
// choice the user's. Runs under umockdev-wrapper; skipped elsewhere.
#include <gtest/gtest.h>

#include <umockdev.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "imu/watchman_discovery.h"
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

std::string UsbDeviceRecord(const std::string& name, const char* vid, const char* pid,
                            const std::string& serial) {
    std::string r = "P: " + UsbPath(name) +
                    "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: idVendor=" + vid +
                    "\nA: idProduct=" + pid + "\nA: bcdDevice=0102\n";
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

std::string RootHubs() {
    std::string r;
    for (const char* bus : {"1", "2", "3"}) {
        r += "P: " + std::string(kController) + "/usb" + bus +
             "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: idVendor=1d6b\nA: idProduct=0002\n\n";
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
        Watchman("2-1", "LHR-TRACKER1", 3));
    HidHost& host = PlatformHidHost();

    std::vector<HidInterface> interfaces;
    ASSERT_TRUE(host.ListHidInterfaces(interfaces));
    // In sysfs order, which discovery does not rely on.
    std::vector<std::wstring> paths;
    DevNode headsetImu = 0;
    for (const HidInterface& i : interfaces) {
        paths.push_back(i.path);
        if (i.path.ends_with(L"/dev/hidraw2")) {
            headsetImu = i.node;
        }
    }
    std::sort(paths.begin(), paths.end(), [](const std::wstring& a, const std::wstring& b) {
        return a.substr(a.find(L"#/")) < b.substr(b.find(L"#/"));
    });
    EXPECT_EQ(paths, (std::vector<std::wstring>{
                         L"hid#vid_35bd&pid_0101&mi_00#/dev/hidraw0",
                         L"hid#vid_28de&pid_2300&mi_02#/dev/hidraw1",
                         L"hid#vid_28de&pid_2300&mi_00#/dev/hidraw2",
                         L"hid#vid_28de&pid_2300&mi_02#/dev/hidraw3",
                         L"hid#vid_28de&pid_2300&mi_00#/dev/hidraw4",
                     }));
    EXPECT_EQ(McuLocationPaths(host), std::vector<std::wstring>{L"USBROOT(1)#USB(3)#USB(1)"});

    // The climb from a HID node to its USB device, as discovery makes it.
    DevNode usb = 0;
    ASSERT_TRUE(FindUsbDeviceNode(host, headsetImu, L"USB\\VID_28DE&PID_2300\\", usb));
    std::wstring id;
    ASSERT_TRUE(host.DeviceId(usb, id));
    EXPECT_EQ(id, L"USB\\VID_28DE&PID_2300\\LHR-5A1B2C3D");
    EXPECT_EQ(LocationPath(host, usb), L"USBROOT(1)#USB(3)#USB(2)");

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
    EXPECT_EQ(McuLocationPaths(host).size(), 2u);
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
    EXPECT_TRUE(McuLocationPaths(host).empty());
    std::wstring chosen;
    EXPECT_EQ(OpenWatchman(host, L"", &chosen, false), kInvalidHandle);
}

}  // namespace
}  // namespace brisk
