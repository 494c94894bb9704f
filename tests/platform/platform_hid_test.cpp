// The platform's own HID host on a machine with no HID devices attached
// (Linux, and Windows under Wine): enumeration yields nothing.
#include <gtest/gtest.h>

#include "platform/hid.h"

namespace brisk {
namespace {

TEST(PlatformHidHost, NoHidInterfacesWithoutDevices) {
    std::vector<HidInterface> found{{L"stale", 7}};
    ASSERT_TRUE(PlatformHidHost().ListHidInterfaces(found));
    EXPECT_TRUE(found.empty());
}

TEST(PlatformHidHost, NoMcuNodesWithoutDevices) {
    std::vector<DevNode> nodes{1, 2};
    PlatformHidHost().ListDeviceNodes(L"USB\\VID_35BD&PID_0101", nodes);
    EXPECT_TRUE(nodes.empty());
}

}  // namespace
}  // namespace brisk
