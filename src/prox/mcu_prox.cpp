#include "prox/mcu_prox.h"

#include <chrono>
#include <cstdio>
#include <system_error>

#include "prox/mcu_discovery.h"
#include "prox/mcu_protocol.h"

namespace brisk {
namespace {

constexpr uint32_t kReadTimeoutMs = 1000;
// The reconnect wait: 2 s in steps short enough for Stop to stay prompt.
constexpr int kReconnectSleeps = 20;
constexpr auto kReconnectStep = std::chrono::milliseconds(100);

}  // namespace

McuProx::McuProx(HidHost& host) : host(host) {}

McuProx::~McuProx() {
    Stop();
}

bool McuProx::Start(uint16_t period) {
    if (running.load()) {
        return true;
    }
    periodMs = period;
    Handle const event = host.CreateReadEvent();
    if (event == nullptr) {
        // Without its event no read can be made; nothing else would tell why.
        fprintf(stderr, "McuProx: cannot create the read event\n");
        return false;
    }
    Handle const h = OpenTelemetryInterface(host, periodMs, event);
    if (h == kInvalidHandle) {
        host.Close(event);
        fprintf(stderr,
                "McuProx: no 35BD:0101 interface ACKed the rate command (Davovo unplugged?)\n");
        return false;
    }
    if (reader.joinable()) {
        reader.join();  // assigning over a joinable thread would end the process
    }
    device.Set(h);
    readEvent = event;
    stopFlag.store(false);
    running.store(true);
    try {
        reader = std::thread(&McuProx::ReaderLoop, this);
    } catch (const std::system_error&) {
        // Proximity is optional: the run goes on without it rather than end.
        running.store(false);
        DropDevice();
        host.Close(readEvent);
        readEvent = nullptr;
        fprintf(stderr, "McuProx: cannot start the reader thread — no proximity data\n");
        return false;
    }
    printf("McuProx: telemetry at %u ms, threshold %u +/- %u\n", unsigned{periodMs},
           unsigned{threshold}, unsigned{hysteresis});
    return true;
}

void McuProx::Stop() {
    if (!running.load() && !reader.joinable()) {
        return;
    }
    stopFlag.store(true);
    device.CancelRead();
    if (reader.joinable()) {
        reader.join();
    }
    // The reader is gone: nobody else touches the handles now.
    device.Close();
    if (readEvent != nullptr) {
        host.Close(readEvent);
        readEvent = nullptr;
    }
    running.store(false);
}

void McuProx::DropDevice() {
    device.Close();
    worn.store(false, std::memory_order_relaxed);
    distance.store(0, std::memory_order_relaxed);
}

bool McuProx::Reconnect(TelemetryTracker& tracker) {
    for (int i = 0; i < kReconnectSleeps; ++i) {
        if (stopFlag.load()) {
            return false;
        }
        std::this_thread::sleep_for(kReconnectStep);
    }
    if (stopFlag.load()) {
        return false;
    }
    Handle const h = OpenTelemetryInterface(host, periodMs, readEvent);
    if (h == kInvalidHandle) {
        return true;  // silent; the next pass waits another 2 s
    }
    device.Set(h);
    if (stopFlag.load()) {
        return false;  // Stop closes it after the join
    }
    tracker.Restart();
    fprintf(stderr, "McuProx: device reconnected, telemetry restarted\n");
    return true;
}

void McuProx::ReaderLoop() {
    uint8_t buf[kMcuReportBytes];
    TelemetryTracker tracker(threshold, hysteresis);
    // Only this thread writes `device` while it runs, so it may read it unlocked.
    while (!stopFlag.load()) {
        if (device.Get() == nullptr) {
            if (!Reconnect(tracker)) {
                break;
            }
            continue;
        }
        uint32_t err = 0;
        int const got =
            ReadReportTimed(host, device.Get(), readEvent, buf, sizeof buf, kReadTimeoutMs, &err);
        if (got < 0) {
            if (stopFlag.load()) {
                break;
            }
            fprintf(stderr, "McuProx: read failed (err %lu) — device gone, waiting for reconnect\n",
                    static_cast<unsigned long>(err));
            DropDevice();
            continue;
        }
        if (got == 0) {
            if (stopFlag.load()) {
                break;
            }
            if (tracker.OnTimeout()) {
                fprintf(stderr,
                        "McuProx: telemetry silent %ds — device gone, waiting for reconnect\n",
                        tracker.SilentReads());
                DropDevice();
            }
            continue;
        }
        TelemetryUpdate const u =
            tracker.OnReport(buf, static_cast<size_t>(got), worn.load(std::memory_order_relaxed));
        if (u.telemetry) {
            distance.store(u.distance, std::memory_order_relaxed);
        }
        if (u.decided) {
            worn.store(u.worn, std::memory_order_relaxed);
        }
    }
    running.store(false);
}

}  // namespace brisk
