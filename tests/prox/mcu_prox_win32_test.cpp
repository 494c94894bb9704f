// McuProx on the real Windows HID host. Under Wine no HID device is present,
// so Start must fail cleanly with its line and leave nothing running.
#include <gtest/gtest.h>

#include "prox/mcu_prox.h"
#include "prox_test_support.h"

namespace brisk::test {
namespace {

TEST(McuProxWin32, StartWithoutMcuFailsWithItsLine) {
    McuProx prox;
    std::string err;
    {
        OutputCapture capture;
        EXPECT_FALSE(prox.Start(50));
        prox.Stop();
        err = capture.Err();
    }
    EXPECT_EQ(err, "McuProx: no 35BD:0101 interface ACKed the rate command (Davovo unplugged?)\n");
    EXPECT_FALSE(prox.IsWorn());
    EXPECT_EQ(prox.Distance(), 0);
}

}  // namespace
}  // namespace brisk::test
