// The Linux device tree as discovery sees it: sysfs text parsed, the IDs,
// location paths and interface paths built from it, and what those mean to
// the pairing and interface rules above the HID host.
#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "imu/watchman_select.h"
#include "platform/hid.h"
#include "platform/linux/sysfs_ids.h"

namespace brisk::linux_hid {
namespace {

TEST(LinuxSysfsIds, HexAttributesTakeExactlyTheirDigits) {
    struct Case {
        const char* text;
        std::optional<uint16_t> want;
    };
    const Case cases[] = {
        {"28de", 0x28DE}, {"28DE\n", 0x28DE}, {"0101", 0x0101}, {"ffff", 0xFFFF},
        {"28d", {}},      {"28dee", {}},      {"", {}},         {"0x28", {}},
        {" 28d", {}},     {"28de \n", {}},    {"28g0", {}},     {"\n", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseHex16(c.text), c.want) << '"' << c.text << '"';
    }
}

TEST(LinuxSysfsIds, InterfaceNumbersAreTwoHexDigits) {
    struct Case {
        const char* text;
        std::optional<uint8_t> want;
    };
    const Case cases[] = {
        {"00", 0}, {"01\n", 1}, {"0a", 10}, {"FF", 255},
        {"0", {}}, {"000", {}}, {"zz", {}}, {"", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseInterfaceNumber(c.text), c.want) << '"' << c.text << '"';
    }
}

TEST(LinuxSysfsIds, UsbDeviceNamesGiveBusAndPorts) {
    struct Case {
        const char* name;
        std::optional<UsbPlace> want;
    };
    const Case cases[] = {
        {"1-3.2", UsbPlace{1, {3, 2}}},
        {"3-1", UsbPlace{3, {1}}},
        {"usb2", UsbPlace{2, {}}},
        {"12-1.4.4.1", UsbPlace{12, {1, 4, 4, 1}}},
        {"1-1.2.3.4.5.6.7", UsbPlace{1, {1, 2, 3, 4, 5, 6, 7}}},
        {"1-1.2.3.4.5.6.7.1", {}},  // deeper than USB allows
        {"1-3.2:1.0", {}},          // an interface, not a device
        {"1-", {}},
        {"1-3..2", {}},
        {"1-3.", {}},
        {"0-1", {}},
        {"1-0", {}},
        {"1-256", {}},
        {"1000-1", {}},
        {"usb", {}},
        {"usb0", {}},
        {"x-1", {}},
        {"1-3.2 ", {}},
        {"-1", {}},
        {"0003:28DE:2300.0001", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseUsbDeviceName(c.name), c.want) << c.name;
    }
}

TEST(LinuxSysfsIds, SerialsReadAsWindowsHandsThemOn) {
    struct Case {
        std::string raw;
        std::wstring want;
    };
    const Case cases[] = {
        {"LHR-5A1B2C3D\n", L"LHR-5A1B2C3D"},
        {"", L""},
        {"\xC3\x84rger", L"\u00C4rger"},    // UTF-8
        {"\xFF\xFE", L"\u00FF\u00FE"},      // not UTF-8: each byte on its own
        {std::string("ab\0cd", 5), L"ab"},  // cut at a zero
        {std::string(200, 'S'), std::wstring(128, L'S')},
        {"with space", L"with space"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SerialText(c.raw), c.want);
    }
}

TEST(LinuxSysfsIds, InstanceIsTheSerialOnlyWhenWindowsWouldTakeIt) {
    struct Case {
        std::string serial;
        const char* sysname;
        std::wstring want;
    };
    const Case cases[] = {
        {"LHR-5A1B2C3D", "1-3.2", L"LHR-5A1B2C3D"},
        {"LHR-5A1B2C3D\n", "1-3.2", L"LHR-5A1B2C3D"},
        {"", "1-3.1", L"1-3.1"},
        {"X&MI_00", "1-3.2", L"1-3.2"},  // must not pass for an interface
        {"a b", "1-3.2", L"1-3.2"},
        {"a\\b", "1-3.2", L"1-3.2"},
        {"a,b", "1-3.2", L"1-3.2"},
        {"\xC3\x84", "1-3.2", L"1-3.2"},
        {std::string(101, 'S'), "1-3.2", L"1-3.2"},
        {std::string(100, 'S'), "1-3.2", std::wstring(100, L'S')},
        {"", "1-3\x01\\", L"1-3__"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(InstanceOf(c.serial, c.sysname), c.want) << c.serial;
    }
}

TEST(LinuxSysfsIds, DeviceIdsHaveTheWindowsShape) {
    EXPECT_EQ(DeviceIdOf(L"USB", 0x28DE, 0x2300, std::nullopt, L"LHR-5A1B2C3D"),
              L"USB\\VID_28DE&PID_2300\\LHR-5A1B2C3D");
    EXPECT_EQ(DeviceIdOf(L"USB", 0x35bd, 0x0101, uint8_t{0}, L"1-3.1:1.0"),
              L"USB\\VID_35BD&PID_0101&MI_00\\1-3.1:1.0");
    EXPECT_EQ(DeviceIdOf(L"HID", 0x28DE, 0x2300, uint8_t{0x1A}, L"0003:28DE:2300.0001"),
              L"HID\\VID_28DE&PID_2300&MI_1A\\0003:28DE:2300.0001");
    EXPECT_EQ(GenericIdOf("pci", "0000:00:14.0"), L"PCI\\0000:00:14.0");
    EXPECT_EQ(GenericIdOf("", "x"), L"");
    EXPECT_EQ(GenericIdOf("usb", ""), L"");
    EXPECT_EQ(GenericIdOf("usb", "a b"), L"");
}

TEST(LinuxSysfsIds, NodesUnderAnEnumeratorAreTheDeviceAndItsInterfaces) {
    const std::wstring mcu = L"USB\\VID_35BD&PID_0101";
    struct Case {
        const wchar_t* id;
        bool want;
    };
    const Case cases[] = {
        {L"USB\\VID_35BD&PID_0101\\1-3.1", true},
        {L"USB\\VID_35BD&PID_0101&MI_00\\1-3.1:1.0", true},
        {L"usb\\vid_35bd&pid_0101\\1-3.1", true},
        {L"USB\\VID_35BD&PID_0101", true},
        {L"USB\\VID_35BD&PID_01011\\1-3.1", false},
        {L"USB\\VID_35BD&PID_010", false},
        {L"HID\\VID_35BD&PID_0101&MI_00\\0003:35BD:0101.0002", false},
        {L"USB\\VID_28DE&PID_2300\\LHR-5A1B2C3D", false},
        {L"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IdUnderEnumerator(c.id, mcu), c.want) << c.id;
    }
    EXPECT_FALSE(IdUnderEnumerator(L"USB\\X", L""));
}

TEST(LinuxSysfsIds, InterfacePathsCarryTheInterfaceAndLeadBackToTheNode) {
    struct Case {
        std::optional<UsbIdentity> identity;
        const char* devnode;
        std::wstring path;
        bool mi00;
    };
    const Case cases[] = {
        {UsbIdentity{0x28DE, 0x2300, 0}, "/dev/hidraw3",
         L"hid#vid_28de&pid_2300&mi_00#/dev/hidraw3", true},
        {UsbIdentity{0x28DE, 0x2300, 2}, "/dev/hidraw5",
         L"hid#vid_28de&pid_2300&mi_02#/dev/hidraw5", false},
        {UsbIdentity{0x35BD, 0x0101, std::nullopt}, "/dev/hidraw0",
         L"hid#vid_35bd&pid_0101#/dev/hidraw0", false},
        {std::nullopt, "/dev/hidraw9", L"hid#/dev/hidraw9", false},
    };
    for (const Case& c : cases) {
        const std::wstring path = InterfacePathOf(c.identity, c.devnode);
        EXPECT_EQ(path, c.path);
        EXPECT_EQ(IsMi00Path(path), c.mi00) << c.devnode;
        EXPECT_EQ(DevnodeOfPath(path), c.devnode);
    }
    // Only an absolute, printable node makes a path.
    EXPECT_EQ(InterfacePathOf(std::nullopt, "hidraw3"), L"");
    EXPECT_EQ(InterfacePathOf(std::nullopt, ""), L"");
    EXPECT_EQ(InterfacePathOf(std::nullopt, "/dev/hid raw"), L"");
}

TEST(LinuxSysfsIds, DevnodesComeOnlyFromPathsThatNameOne) {
    struct Case {
        std::wstring path;
        const char* want;
    };
    const Case cases[] = {
        {L"/dev/hidraw0", "/dev/hidraw0"},
        {L"hid#vid_28de&pid_2300&mi_00#/dev/hidraw3", "/dev/hidraw3"},
        {L"hid#/dev/weird#/name", "/dev/weird#/name"},
        {L"hid#vid_28de&pid_2300&mi_00#", ""},
        {L"\\\\?\\hid#vid_28de&pid_2300&mi_00#7&1&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
         ""},
        {L"hid#/dev/hidraw\u00e9", ""},
        {L"hid#/dev/hid raw", ""},
        {L"", ""},
        {L"/" + std::wstring(5000, L'a'), ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DevnodeOfPath(c.path), c.want);
    }
}

TEST(LinuxSysfsIds, ReportDescriptorsSayWhetherReportsAreNumbered) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        ReportIds want;
    };
    const Case cases[] = {
        {"vendor page, 64-byte input and feature, no IDs",
         {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
          0x95, 0x40, 0x09, 0x01, 0x81, 0x02, 0x95, 0x40, 0x09, 0x01, 0xB1, 0x02, 0xC0},
         ReportIds::kUnnumbered},
        {"report ID 0x20 before the input",
         {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x20, 0x75, 0x08, 0x95, 0x3F, 0x81, 0x02,
          0xC0},
         ReportIds::kNumbered},
        {"0x85 only as the data of another item",
         {0x06, 0x85, 0xFF, 0x26, 0x85, 0x00, 0x75, 0x08, 0x95, 0x40, 0x81, 0x02},
         ReportIds::kUnnumbered},
        {"four-byte item, then a report ID",
         {0x27, 0xFF, 0xFF, 0xFF, 0x7F, 0x85, 0x01, 0x81, 0x02},
         ReportIds::kNumbered},
        {"long item skipped whole",
         {0xFE, 0x02, 0x10, 0x85, 0x01, 0x81, 0x02},
         ReportIds::kUnnumbered},
        {"long item, then a report ID", {0xFE, 0x01, 0x10, 0xAA, 0x85, 0x01}, ReportIds::kNumbered},
        {"item cut short", {0x09, 0x01, 0x75}, ReportIds::kUnknown},
        {"four-byte item cut short", {0x27, 0xFF, 0xFF}, ReportIds::kUnknown},
        {"long item cut short", {0xFE, 0x04, 0x10, 0xAA}, ReportIds::kUnknown},
        {"long item header cut short", {0xFE, 0x04}, ReportIds::kUnknown},
        {"empty", {}, ReportIds::kUnknown},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ScanReportDescriptor(c.bytes.data(), c.bytes.size()), c.want) << c.what;
    }
}

TEST(LinuxSysfsIds, ErrorsReadAsTheWin32OnesTheToolPrints) {
    struct Case {
        int err;
        uint32_t want;
    };
    const Case cases[] = {
        {ENODEV, kErrorDeviceNotConnected}, {EIO, kErrorDeviceNotConnected},
        {ENXIO, kErrorDeviceNotConnected},  {EBADF, kErrorInvalidHandle},
        {EINVAL, kErrorGenFailure},         {ENOMEM, kErrorGenFailure},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Win32ErrorOf(c.err), c.want) << c.err;
    }
}

// The hub rule of discovery on the location paths built here: a Watchman
// pairs with an MCU when they share the hub above them or the one above that.
TEST(LinuxSysfsIds, LocationPathsPairDevicesThatShareAHub) {
    struct Case {
        const char* what;
        const char* watchman;
        std::vector<const char*> mcus;
        bool paired;
    };
    const Case cases[] = {
        {"the headset's own hub", "1-3.2", {"1-3.1"}, true},
        {"a Watchman one hub further down", "1-3.4.1", {"1-3.1"}, true},
        {"another bus", "3-1.2", {"1-3.1"}, false},
        {"another hub of another bus", "2-1.4.2", {"1-3.1"}, false},
        {"two MCUs, one beside it", "2-1.2", {"1-3.1", "2-1.1"}, true},
        {"two MCUs, neither beside it", "4-2.2", {"1-3.1", "2-1.1"}, false},
        {"no MCU", "1-3.2", {}, false},
    };
    for (const Case& c : cases) {
        const std::wstring lp = LocationPathOf(*ParseUsbDeviceName(c.watchman));
        bool paired = false;
        for (const char* mcu : c.mcus) {
            paired = paired || SharesHub(lp, LocationPathOf(*ParseUsbDeviceName(mcu)));
        }
        EXPECT_EQ(paired, c.paired) << c.what;
    }
    EXPECT_EQ(LocationPathOf(UsbPlace{1, {3, 2}}), L"USBROOT(1)#USB(3)#USB(2)");
    EXPECT_EQ(HubPaths(L"USBROOT(1)#USB(3)#USB(2)"),
              (std::vector<std::wstring>{L"USBROOT(1)#USB(3)", L"USBROOT(1)"}));
}

}  // namespace
}  // namespace brisk::linux_hid
