// What the Windows backend reads out of the strings Windows hands it, and
// what the places it reads mean to the hub pairing above the HID host.
#include <gtest/gtest.h>

#include "device/hub_pairing.h"
#include "platform/win32/device_ids.h"

namespace brisk::win32_hid {
namespace {

const std::wstring kRoot = L"PCIROOT(0)#PCI(1400)#USBROOT(0)";

TEST(InterfaceNumberOfPath, TwoHexDigitsAfterTheMarkerInEitherCase) {
    struct Case {
        const wchar_t* path;
        int want;
    };
    const Case cases[] = {
        {L"\\\\?\\hid#vid_28de&pid_2300&mi_00#8&1a2b&0&0000#{4d1e55b2}", 0},
        {L"\\\\?\\HID#VID_28DE&PID_2300&MI_02#8&1A2B&0&0000", 2},
        {L"\\\\?\\hid#vid_046d&pid_c52b&mi_1a&col01#9&2&0&0000#{4d1e55b2}", 0x1A},
        {L"\\\\?\\hid#vid_35bd&pid_0101#7&1&0&0000#{4d1e55b2}", -1},  // one interface only
        {L"\\\\?\\hid#vid_28de&pid_2300#mi_00", -1},
        {L"\\\\?\\hid#vid_28de&pid_2300&mi_0", -1},
        {L"\\\\?\\hid#vid_28de&pid_2300&mi_0g#x", -1},
        {L"", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(InterfaceNumberOfPath(c.path), c.want) << c.want;
    }
}

TEST(IsUsbDeviceIdOf, TheDeviceItselfNotItsInterfacesNorAnother) {
    struct Case {
        const wchar_t* id;
        bool want;
    };
    const Case cases[] = {
        {L"USB\\VID_28DE&PID_2300\\LHR-5A1B2C3D", true},
        {L"usb\\vid_28de&pid_2300\\lhr-5a1b2c3d", true},
        {L"USB\\VID_28DE&PID_2300\\6&1f2e3d4c&0&2", true},
        {L"USB\\VID_28DE&PID_2300&MI_00\\7&abc&0&0000", false},
        {L"USB\\VID_28DE&PID_2300\\X&MI_00", false},  // an instance that reads as an interface
        {L"HID\\VID_28DE&PID_2300&MI_00\\8&abc&0&0000", false},
        {L"USB\\VID_28DE&PID_23001\\LHR", false},
        {L"USB\\VID_28DE&PID_230\\LHR", false},
        {L"USB\\VID_35BD&PID_0101\\6&1&0&1", false},
        {L"USB\\ROOT_HUB30\\4&1&0&0", false},
        {L"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsUsbDeviceIdOf(c.id, 0x28DE, 0x2300), c.want) << c.want;
    }
}

TEST(PortKeyOfLocationPath, RootThenThePortSteps) {
    struct Case {
        std::wstring path;
        PortKey want;  // unknown (empty root) when refused
    };
    const Case cases[] = {
        {kRoot + L"#USB(3)#USB(2)", {kRoot, {3, 2}}},
        {kRoot + L"#USB(12)", {kRoot, {12}}},
        {kRoot, {kRoot, {}}},  // the root hub itself
        {L"ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS03)#USB(2)",
         {L"ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS03)", {2}}},
        {L"", {}},
        {L"#USB(3)", {}},
        {kRoot + L"#USB(3)#USBMI(0)", {}},
        {kRoot + L"#USB(3", {}},
        {kRoot + L"#USB()", {}},
        {kRoot + L"#USB(0)", {}},
        {kRoot + L"#USB(256)", {}},
        {kRoot + L"#USB(3)x", {}},
        {kRoot + L"#USB(-1)", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PortKeyOfLocationPath(c.path), c.want) << c.path.size();
    }
}

// The hub rule on places Windows reports: a Watchman pairs with an MCU when
// they share the hub above them or the one above that.
TEST(PortKeyOfLocationPath, PlacesPairDevicesThatShareAHub) {
    const std::wstring otherRoot = L"PCIROOT(0)#PCI(0D00)#USBROOT(0)";
    struct Case {
        const char* what;
        std::wstring watchman;
        std::vector<std::wstring> mcus;
        bool paired;
    };
    const Case cases[] = {
        {"the headset's own hub", kRoot + L"#USB(3)#USB(2)", {kRoot + L"#USB(3)#USB(1)"}, true},
        {"through the root hub", kRoot + L"#USB(1)", {kRoot + L"#USB(4)#USB(1)"}, true},
        {"another controller", otherRoot + L"#USB(3)#USB(2)", {kRoot + L"#USB(3)#USB(1)"}, false},
        {"two headsets, the one beside it",
         otherRoot + L"#USB(1)#USB(2)",
         {kRoot + L"#USB(3)#USB(1)", otherRoot + L"#USB(1)#USB(1)"},
         true},
        {"two headsets, neither beside it",
         kRoot + L"#USB(5)#USB(2)#USB(1)",
         {kRoot + L"#USB(3)#USB(1)", otherRoot + L"#USB(1)#USB(1)"},
         false},
        {"no place (Wine)", L"", {kRoot + L"#USB(3)#USB(1)"}, false},
    };
    for (const Case& c : cases) {
        const PortKey watchman = PortKeyOfLocationPath(c.watchman);
        bool paired = false;
        for (const std::wstring& mcu : c.mcus) {
            paired = paired || SharesHub(watchman, PortKeyOfLocationPath(mcu));
        }
        EXPECT_EQ(paired, c.paired) << c.what;
    }
}

}  // namespace
}  // namespace brisk::win32_hid
