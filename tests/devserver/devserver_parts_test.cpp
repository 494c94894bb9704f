// The device server's descriptors and sysfs records: the report sizes brisk
// reads, the kernel's naming, and records umockdev takes as they are.
#include <gtest/gtest.h>
#include <umockdev.h>

#include <fstream>
#include <iterator>

#include "devserver/hid_descriptors.h"
#include "devserver/sysfs_records.h"
#include "imu/imu_report.h"
#include "prox/mcu_protocol.h"

namespace brisk::devserver {
namespace {

TEST(DevserverDescriptors, DeclareTheReportSizesTheToolReads) {
    ReportSizes imu = ReadReportSizes(WatchmanImuDescriptor());
    ASSERT_TRUE(imu.ok);
    EXPECT_TRUE(imu.usesIds);
    ASSERT_EQ(imu.input.count(kImuReportId), 1u);
    EXPECT_EQ(InputBytesOf(imu, kImuReportId), kImuReportMinBytes);  // 52 with the ID, as real
    EXPECT_EQ(InputBytesOf(imu, 0x21), 58u);
    // Every identity read's answer is 64 bytes with its ID, as on the wire.
    for (uint8_t id : {0x01, 0x05, 0x10, 0x11}) {
        ASSERT_EQ(imu.feature.count(id), 1u) << int(id);
        EXPECT_EQ(imu.feature[id] + 1, 64u) << int(id);
    }
    // The light's format and 0x07: 5 bytes as the captures' hosts send them.
    for (uint8_t id : {0x04, 0x07}) {
        ASSERT_EQ(imu.feature.count(id), 1u) << int(id);
        EXPECT_EQ(imu.feature[id] + 1, 5u) << int(id);
    }
    EXPECT_EQ(imu.feature.size(), 6u);

    ReportSizes light = ReadReportSizes(WatchmanLightDescriptor());
    ASSERT_TRUE(light.ok);
    const std::map<uint8_t, size_t> lightSizes = {{0x21, 57}, {0x25, 63}, {0x27, 58}, {0x28, 63}};
    EXPECT_EQ(light.input, lightSizes);
    const std::map<uint8_t, size_t> lightFeatures = {{0x04, 4}, {0x07, 4}};
    EXPECT_EQ(light.feature, lightFeatures);

    ReportSizes mcu = ReadReportSizes(McuDescriptor());
    ASSERT_TRUE(mcu.ok);
    EXPECT_FALSE(mcu.usesIds);
    EXPECT_EQ(MaxInputBytes(mcu), kMcuReportBytes - 1);  // hidraw gives no ID byte
    ASSERT_EQ(mcu.feature.count(0), 1u);
    EXPECT_EQ(mcu.feature[0] + 1, kMcuReportBytes);  // HidD_SetFeature sends ID 0 first

    ReportSizes other = ReadReportSizes(WatchmanOtherDescriptor());
    ASSERT_TRUE(other.ok);
    EXPECT_EQ(other.input.count(kImuReportId), 0u);  // never taken for the IMU
}

TEST(DevserverDescriptors, ChosenByVendorAndInterface) {
    EXPECT_EQ(&DescriptorFor(0x28DE, 0x2300, 0), &WatchmanImuDescriptor());
    EXPECT_EQ(&DescriptorFor(0x28DE, 0x2300, 1), &WatchmanLightDescriptor());
    EXPECT_EQ(&DescriptorFor(0x28DE, 0x2300, 2), &WatchmanOtherDescriptor());
    EXPECT_EQ(&DescriptorFor(0x35BD, 0x0101, 0), &McuDescriptor());
}

TEST(DevserverDescriptors, ReaderHandlesPushPopLongItemsAndTruncation) {
    std::vector<uint8_t> d = {
        0x85, 0x05, 0x75, 0x08, 0x95, 0x04,  // ID 5, 4 bytes
        0xA4,                                // Push
        0x95, 0x10, 0x81, 0x02,              // input: 16 bytes
        0xB4,                                // Pop: back to 4
        0xFE, 0x02, 0x00, 0xAA, 0xBB,        // long item, skipped whole
        0x91, 0x02,                          // output: 4 bytes
        0x75, 0x01, 0x95, 0x03, 0x81, 0x02,  // 3 bits more input: rounds up
    };
    ReportSizes s = ReadReportSizes(d);
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.input[5], 17u);
    EXPECT_EQ(s.output[5], 4u);
    EXPECT_EQ(MaxInputBytes(s), 18u);

    EXPECT_FALSE(ReadReportSizes({0x95}).ok);              // data cut off
    EXPECT_FALSE(ReadReportSizes({0xB4}).ok);              // pop of nothing
    EXPECT_FALSE(ReadReportSizes({0x85, 0x00}).ok);        // report ID 0 is reserved
    EXPECT_FALSE(ReadReportSizes({0xFE, 0x05, 0x00}).ok);  // long item past the end
}

TEST(DevserverRecords, BusPlacesBecomeKernelNames) {
    UsbPlace p;
    ASSERT_TRUE(PlaceOfPort({L"0000:00:14.0", {3, 2}}, p));
    EXPECT_EQ(p.controller, "0000:00:14.0");
    EXPECT_EQ(p.ports, (std::vector<int>{3, 2}));
    EXPECT_EQ(UsbDeviceName(1, p.ports), "1-3.2");
    EXPECT_EQ(UsbDeviceName(2, {}), "usb2");

    ASSERT_TRUE(PlaceOfPort({L"0000:00:0d.1", {12, 1}}, p));
    EXPECT_EQ(p.controller, "0000:00:0d.1");
    EXPECT_EQ(p.ports, (std::vector<int>{12, 1}));

    const PortKey bad[] = {
        {},
        {L"usb1", {1}},
        {L"0000:00:14.0x", {1}},
        {L"0000:00:1G.0", {1}},
        {L"0000:00:0D.0", {1}},  // sysfs writes PCI addresses in lower case
        {L"0000:00:14.0", {0}},
        {L"0000:00:14.0", {256}},
    };
    for (const PortKey& port : bad) {
        EXPECT_FALSE(PlaceOfPort(port, p)) << port.root.size();
    }
}

UsbFunction Watchman() {
    UsbFunction f;
    f.vendorId = 0x28DE;
    f.productId = 0x2300;
    f.serial = "LHR-5A1B2C3D";
    f.manufacturer = "Valve";
    f.product = "Watchman";
    f.controller = "0000:00:14.0";
    f.bus = 1;
    f.ports = {3, 2};
    f.devnum = 11;
    f.interfaceCount = 3;
    return f;
}

TEST(DevserverRecords, HidInterfaceCarriesWhatHidrawUsersRead) {
    HidInterfaceRecordArgs a;
    a.iface = 2;
    a.hidSequence = 0x1c;
    a.hidraw = 3;
    a.descriptor = {0x06, 0x00, 0xFF};
    std::vector<Record> r = HidInterfaceRecords(Watchman(), a);
    ASSERT_EQ(r.size(), 3u);
    const std::string device = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3.2";
    EXPECT_EQ(r[0].sysPath, device + "/1-3.2:1.2");
    EXPECT_EQ(r[1].sysPath, r[0].sysPath + "/0003:28DE:2300.001C");
    EXPECT_EQ(r[2].sysPath, r[1].sysPath + "/hidraw/hidraw3");
    EXPECT_NE(r[0].text.find("A: bInterfaceNumber=02\n"), std::string::npos);
    EXPECT_NE(r[1].text.find("E: HID_ID=0003:000028DE:00002300\n"), std::string::npos);
    EXPECT_NE(r[1].text.find("E: HID_PHYS=usb-0000:00:14.0-3.2/input2\n"), std::string::npos);
    EXPECT_NE(r[1].text.find("E: HID_UNIQ=LHR-5A1B2C3D\n"), std::string::npos);
    EXPECT_NE(r[1].text.find("H: report_descriptor=0600FF\n"), std::string::npos);
    EXPECT_NE(r[2].text.find("E: DEVNAME=/dev/hidraw3\n"), std::string::npos);
    EXPECT_NE(r[2].text.find("A: dev=240:3\n"), std::string::npos);

    Record dev = UsbDeviceRecord(Watchman());
    EXPECT_EQ(dev.sysPath, device);
    EXPECT_NE(dev.text.find("A: idVendor=28de\n"), std::string::npos);
    EXPECT_NE(dev.text.find("A: serial=LHR-5A1B2C3D\n"), std::string::npos);
    UsbFunction noSerial = Watchman();
    noSerial.serial.clear();
    EXPECT_EQ(UsbDeviceRecord(noSerial).text.find("serial="), std::string::npos);
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// umockdev takes the records parents first and writes what a reader of sysfs
// finds: the descriptor byte for byte, the uevent properties, the class link.
TEST(DevserverRecords, UmockdevTakesThemAsTheyAre) {
    UMockdevTestbed* tb = umockdev_testbed_new();
    char* rootDir = umockdev_testbed_get_root_dir(tb);
    std::string root = rootDir;
    g_free(rootDir);
    UsbFunction f = Watchman();
    HidInterfaceRecordArgs a;
    a.hidraw = 0;
    a.descriptor = WatchmanImuDescriptor();
    std::string text = RootHubRecord(f.controller, 1).text + "\n" +
                       HubRecord(f.controller, 1, {3}).text + "\n" + UsbDeviceRecord(f).text + "\n";
    for (const Record& r : HidInterfaceRecords(f, a)) {
        text += r.text + "\n";
    }
    GError* error = nullptr;
    ASSERT_TRUE(umockdev_testbed_add_from_string(tb, text.c_str(), &error))
        << (error ? error->message : "");
    std::vector<Record> r = HidInterfaceRecords(f, a);
    std::string descriptor = Slurp(root + r[1].sysPath + "/report_descriptor");
    EXPECT_EQ(std::vector<uint8_t>(descriptor.begin(), descriptor.end()), WatchmanImuDescriptor());
    EXPECT_NE(Slurp(root + r[2].sysPath + "/uevent").find("DEVNAME=hidraw0\n"), std::string::npos);
    EXPECT_EQ(Slurp(root + "/sys/class/hidraw/hidraw0/dev"), "240:0");
    EXPECT_NE(Slurp(root + "/sys/class/hidraw/hidraw0/device/uevent")
                  .find("HID_PHYS=usb-0000:00:14.0-3.2/input0\n"),
              std::string::npos);
    EXPECT_EQ(Slurp(root + UsbDeviceRecord(f).sysPath + "/idProduct"), "2300");
    g_object_unref(tb);
}

}  // namespace
}  // namespace brisk::devserver
