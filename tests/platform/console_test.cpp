#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/console.h"

namespace brisk {
namespace {

std::atomic<int> eventsSeen{0};

bool CountingHandler(unsigned long eventType) {
    eventsSeen.fetch_add(1);
    return eventType != kCtrlLogoffEvent;
}

// Windows ends the process as soon as a close event's handler returns, so the
// handler must hold the close until the driver has shut down in order.
TEST(Console, CloseEventWaitsForTheShutdown) {
    using namespace std::chrono;
    eventsSeen.store(0);
    InstallConsoleHandler(CountingHandler);
    EXPECT_FALSE(DeliverConsoleEvent(kCtrlLogoffEvent));
    EXPECT_TRUE(DeliverConsoleEvent(kCtrlCEvent));  // Ctrl+C returns at once

    std::atomic<bool> returned{false};
    auto start = steady_clock::now();
    std::thread closer([&] {
        EXPECT_TRUE(DeliverConsoleEvent(kCtrlCloseEvent));
        returned.store(true);
    });
    std::this_thread::sleep_for(milliseconds(300));
#ifdef _WIN32
    EXPECT_FALSE(returned.load()) << "the close event returned before the shutdown was done";
#endif
    ConsoleShutdownDone();
    closer.join();
    EXPECT_LT(steady_clock::now() - start, seconds(4));
    EXPECT_EQ(eventsSeen.load(), 3);
}

}  // namespace
}  // namespace brisk
