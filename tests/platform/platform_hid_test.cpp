// The platform's own HID host on a machine with none of the headset's devices
// attached: Linux, where nothing is listed, and Windows under Wine, whose bus
// driver brings only a virtual mouse and keyboard once it is up.
#include <gtest/gtest.h>

#include "platform/hid.h"

namespace brisk {
namespace {

TEST(PlatformHidHost, NoHeadsetInterfacesWithoutDevices) {
    std::vector<HidDeviceInfo> found{{0x28DE, 0x2300, 0, L"stale", L"stale", {L"stale", {1}}}};
    ASSERT_TRUE(PlatformHidHost().ListHidDevices(found));
    for (const HidDeviceInfo& device : found) {
        EXPECT_NE(device.vendorId, 0x28DE) << device.path.c_str();
        EXPECT_NE(device.vendorId, 0x35BD) << device.path.c_str();
        EXPECT_NE(device.path, L"stale");
        EXPECT_FALSE(device.path.empty());
#ifdef _WIN32
        // hid.dll's capabilities say it for every interface it lists (Wine's
        // mouse and keyboard included); a failure there would leave the
        // light to the interface number alone.
        EXPECT_TRUE(device.inputReportIds.has_value()) << device.path.c_str();
#endif
    }
    // Other HID devices (a keyboard, say) may be listed: Windows and Linux
    // both have a real host now, and a machine running the tests may have them.
}

}  // namespace
}  // namespace brisk
