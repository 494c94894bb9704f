#include <gtest/gtest.h>

#include "app/driver.h"
#include "platform/console.h"

namespace brisk {
namespace {

// Logoff and shutdown belong to the next handler in the chain; only the three
// ways a person ends a run raise the stop flag.
TEST(ConsoleControl, OnlyCtrlCBreakAndCloseStopTheRun) {
    stopRequested.store(false);
    EXPECT_FALSE(OnConsoleControl(kCtrlLogoffEvent));
    EXPECT_FALSE(OnConsoleControl(kCtrlShutdownEvent));
    EXPECT_FALSE(OnConsoleControl(3));
    EXPECT_FALSE(stopRequested.load());

    for (unsigned long event : {kCtrlCEvent, kCtrlBreakEvent, kCtrlCloseEvent}) {
        stopRequested.store(false);
        EXPECT_TRUE(OnConsoleControl(event)) << event;
        EXPECT_TRUE(stopRequested.load()) << event;
    }
    stopRequested.store(false);
}

}  // namespace
}  // namespace brisk
