// TundraImu on the real Windows HID backend. Under Wine no Watchman is
// attached, so Start must refuse with the count line and the reason.
#include <gtest/gtest.h>

#include <string>

#include "imu/tundra_imu.h"
#include "support/output_capture.h"

namespace brisk {
namespace {

TEST(TundraImuWin32, StartFailsCleanlyWithoutAWatchman) {
    for (const char* serial : {"", "LHR-5A1B2C3D"}) {
        SCOPED_TRACE(serial);
        TundraImu imu;
        bool started = true;
        std::string out, err;
        {
            test::OutputCapture capture(test::OutputCapture::PassOn::No);
            started = imu.Start(serial);
            out = capture.Out();
            err = capture.Err();
        }
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
