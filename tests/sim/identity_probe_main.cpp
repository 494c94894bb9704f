// brisk-identity-probe: the identity read through this system's own HID
// host (hidraw on Linux, hid.dll on Windows), for a test to run under
// brisk-devserver (natively, or under Wine). Waits for the Watchman's IMU
// interface to be listed, reads the identity while the IMU stream is read
// beside it, and prints one line (identity_probe.h) with the stream's failed
// reads and the most tries one answer took after it. Exit 1 when no
// Watchman shows up.
#include <chrono>
#include <cstdio>
#include <thread>

#include "sim/identity_probe.h"

int main() {
    using namespace brisk;
    HidHost& host = PlatformHidHost();
    std::wstring path;
    for (int tries = 0; tries < 100 && path.empty(); ++tries) {
        path = test::WatchmanImuPath(host);
        if (path.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    if (path.empty()) {
        std::fprintf(stderr, "brisk-identity-probe: no Watchman listed\n");
        return 1;
    }
    const test::StreamedRead read = test::ReadWhileStreaming(host, path);
    if (!read.opened) {
        std::fprintf(stderr, "brisk-identity-probe: cannot open the Watchman\n");
        return 1;
    }
    const std::string line =
        test::IdentityLine(read.identity, identity::AllProblems(read.identity, read.usbSerial, {}));
    std::printf("%s imu_failures=%llu most_tries=%u\n", line.c_str(),
                static_cast<unsigned long long>(read.imuFailures),
                static_cast<unsigned>(read.identity.tally.mostTries));
    std::fprintf(stderr,
                 "brisk-identity-probe: %u requests in %.1f ms, %llu IMU reports beside them\n",
                 static_cast<unsigned>(read.identity.tally.requests), read.readMs,
                 static_cast<unsigned long long>(read.imuReports));
    return 0;
}
