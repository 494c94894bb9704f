// Helpers for the proximity tests: capturing what the tool prints
// (support/output_capture.h), and waiting on real-time conditions with margins
// a loaded machine can meet.
#pragma once

#include <chrono>
#include <thread>

#include "support/output_capture.h"

namespace brisk::test {

// Polls `condition` every few milliseconds; true as soon as it holds, false
// after `limit`. Limits are generous: they only bound a failing test.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    auto const end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace brisk::test
