// What the Linux HID host reads out of sysfs text, and what the places it
// reads mean to the hub pairing above the HID host.
#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "device/hub_pairing.h"
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

TEST(LinuxSysfsIds, BusnumAndDevpathGiveRootAndPorts) {
    struct Case {
        const char* busnum;
        const char* devpath;
        PortKey want;  // unknown (empty root) when refused
    };
    const Case cases[] = {
        {"1", "3.2", {L"usb1", {3, 2}}},
        {"3\n", "1\n", {L"usb3", {1}}},
        {"2", "0", {L"usb2", {}}},  // the root hub itself
        {"12", "1.4.4.1", {L"usb12", {1, 4, 4, 1}}},
        {"1", "1.2.3.4.5.6.7", {L"usb1", {1, 2, 3, 4, 5, 6, 7}}},
        {"1", "1.2.3.4.5.6.7.1", {}},  // deeper than USB allows
        {"1", "3.2:1.0", {}},          // an interface, not a device
        {"1", "", {}},
        {"1", "3..2", {}},
        {"1", "3.", {}},
        {"1", ".3", {}},
        {"0", "1", {}},
        {"1", "0.1", {}},
        {"1", "256", {}},
        {"1000", "1", {}},
        {"", "1", {}},
        {"x", "1", {}},
        {"1", "3.2 ", {}},
        {"-1", "1", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseUsbPort(c.busnum, c.devpath), c.want) << c.busnum << " " << c.devpath;
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

TEST(LinuxSysfsIds, PathsAreTheNodesThemselves) {
    struct Case {
        std::string devnode;
        std::wstring path;  // empty: refused, both ways
    };
    const Case cases[] = {
        {"/dev/hidraw3", L"/dev/hidraw3"},
        {"/dev/weird#/name", L"/dev/weird#/name"},
        {"hidraw3", L""},
        {"", L""},
        {"/dev/hid raw", L""},
        {"/dev/hidraw\xC3\xA9", L""},
        {"/" + std::string(5000, 'a'), L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PathOfDevnode(c.devnode), c.path) << c.devnode;
        if (!c.path.empty()) {
            EXPECT_EQ(DevnodeOfPath(c.path), c.devnode);
        }
    }
    // Only a path that is a node leads to one: the Windows shape does not.
    for (const wchar_t* path : {L"hid#vid_28de&pid_2300&mi_00#/dev/hidraw3",
                                L"\\\\?\\hid#vid_28de&pid_2300&mi_00#7&1&0&0000", L"",
                                L"/dev/hidraw\u00e9", L"/dev/hid raw"}) {
        EXPECT_EQ(DevnodeOfPath(path), "");
    }
    EXPECT_EQ(DevnodeOfPath(L"/" + std::wstring(5000, L'a')), "");
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

// A feature request the device refuses (a stall, a garbled or late control
// transfer) is worth asking again; only a device that is gone says so.
TEST(LinuxSysfsIds, FeatureErrorsTellARefusalFromADeviceGone) {
    struct Case {
        int err;
        uint32_t want;
    };
    const Case cases[] = {
        {EPIPE, kErrorGenFailure},
        {EIO, kErrorGenFailure},
        {EPROTO, kErrorGenFailure},
        {ETIMEDOUT, kErrorGenFailure},
        {EOVERFLOW, kErrorGenFailure},
        {ENODEV, kErrorDeviceNotConnected},
        {ESHUTDOWN, kErrorDeviceNotConnected},
        {ENXIO, kErrorDeviceNotConnected},
        {EBADF, kErrorInvalidHandle},
        {EINVAL, 87u},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FeatureErrorOf(c.err), c.want) << c.err;
    }
}

// The hub rule of discovery on the places read here: a Watchman pairs with
// an MCU when they share the hub above them or the one above that.
TEST(LinuxSysfsIds, PlacesPairDevicesThatShareAHub) {
    struct Place {
        const char* busnum;
        const char* devpath;
    };
    struct Case {
        const char* what;
        Place watchman;
        std::vector<Place> mcus;
        bool paired;
    };
    const Case cases[] = {
        {"the headset's own hub", {"1", "3.2"}, {{"1", "3.1"}}, true},
        {"a Watchman one hub further down", {"1", "3.4.1"}, {{"1", "3.1"}}, true},
        {"another bus", {"3", "1.2"}, {{"1", "3.1"}}, false},
        {"another hub of another bus", {"2", "1.4.2"}, {{"1", "3.1"}}, false},
        {"two headsets, the one on this bus", {"2", "1.2"}, {{"1", "3.1"}, {"2", "1.1"}}, true},
        {"two headsets, neither beside it", {"4", "2.2"}, {{"1", "3.1"}, {"2", "1.1"}}, false},
        {"an MCU whose place cannot be read", {"1", "3.2"}, {{"1", "3..1"}}, false},
        {"no MCU", {"1", "3.2"}, {}, false},
    };
    for (const Case& c : cases) {
        const PortKey watchman = ParseUsbPort(c.watchman.busnum, c.watchman.devpath);
        bool paired = false;
        for (const Place& mcu : c.mcus) {
            paired = paired || SharesHub(watchman, ParseUsbPort(mcu.busnum, mcu.devpath));
        }
        EXPECT_EQ(paired, c.paired) << c.what;
    }
}

}  // namespace
}  // namespace brisk::linux_hid
