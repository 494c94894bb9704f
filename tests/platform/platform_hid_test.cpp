// The platform's own HID host on a machine with none of the headset's devices
// attached: Linux, where nothing is listed, and Windows under Wine, whose bus
// driver brings only a virtual mouse and keyboard once it is up.
#include <gtest/gtest.h>

#include <cwctype>

#include "platform/hid.h"

namespace brisk {
namespace {

TEST(PlatformHidHost, NoHeadsetInterfacesWithoutDevices) {
    std::vector<HidInterface> found{{L"stale", 7}};
    ASSERT_TRUE(PlatformHidHost().ListHidInterfaces(found));
    for (const HidInterface& iface : found) {
        std::wstring lower = iface.path;
        for (wchar_t& c : lower) {
            c = static_cast<wchar_t>(std::towlower(c));
        }
        EXPECT_EQ(lower.find(L"vid_28de"), std::wstring::npos) << iface.path.c_str();
        EXPECT_EQ(lower.find(L"vid_35bd"), std::wstring::npos) << iface.path.c_str();
        EXPECT_NE(iface.path, L"stale");
    }
    // Other HID devices (a keyboard, say) may be listed: Windows and Linux
    // both have a real host now, and a machine running the tests may have them.
}

TEST(PlatformHidHost, NoMcuNodesWithoutDevices) {
    std::vector<DevNode> nodes{1, 2};
    PlatformHidHost().ListDeviceNodes(L"USB\\VID_35BD&PID_0101", nodes);
    EXPECT_TRUE(nodes.empty());
}

}  // namespace
}  // namespace brisk
