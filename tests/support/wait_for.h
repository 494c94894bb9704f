// Waiting on another thread's progress in a test: polls `done` every few
// milliseconds and gives up after `limit` (it only matters when a test fails).
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace brisk::test {

inline bool WaitFor(const std::function<bool()>& done,
                    std::chrono::milliseconds limit = std::chrono::seconds(8)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace brisk::test
