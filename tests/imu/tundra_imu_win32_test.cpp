// TundraImu on the real Windows HID backend. Under Wine no Watchman is
// attached, so Start must refuse with the count line and the reason.
#include <gtest/gtest.h>

#include <string>

#include "imu/tundra_imu.h"

namespace brisk {
namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

TEST(TundraImuWin32, StartFailsCleanlyWithoutAWatchman) {
    for (const char* serial : {"", "LHR-5A1B2C3D"}) {
        SCOPED_TRACE(serial);
        TundraImu imu;
        CaptureStdout();
        CaptureStderr();
        const bool started = imu.Start(serial);
        const std::string out = GetCapturedStdout();
        const std::string err = GetCapturedStderr();
        EXPECT_FALSE(started);
        EXPECT_EQ(out, "TundraImu: 0 Watchman device(s), 0 MCU-paired\n");
        EXPECT_EQ(err,
                  "TundraImu: no matching 28DE:2300 MI_00 device (Davovo unplugged? wrong "
                  "--imu-serial?)\n");
        EXPECT_FALSE(imu.IsRunning());
        ImuSample sample;
        EXPECT_FALSE(imu.Latest(sample));
        EXPECT_EQ(imu.Stats().reports, 0u);
        imu.Stop();
        EXPECT_FALSE(imu.IsRunning());
    }
}

}  // namespace
}  // namespace brisk
