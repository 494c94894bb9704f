#include "prox/mcu_prox.h"

#include <chrono>

#include "platform/output.h"
#include "prox/mcu_discovery.h"
#include "prox/mcu_protocol.h"

namespace brisk {
namespace {

constexpr uint32_t kReadTimeoutMs = 1000;
constexpr std::chrono::milliseconds kRediscoveryWait{2000};

}  // namespace

McuProx::McuProx(HidHost& host) : host(host) {}

McuProx::~McuProx() {
    Stop();
}

bool McuProx::Start(uint16_t period) {
    if (reader.Running()) {
        return true;
    }
    periodMs = period;
    if (!reader.CreateReadEvent()) {
        // Without its event no read can be made; nothing else would tell why.
        Print(stderr, "McuProx: cannot create the read event\n");
        return false;
    }
    Handle const h = OpenTelemetryInterface(host, periodMs, reader.ReadEvent());
    if (h == kInvalidHandle) {
        reader.Abandon();
        Print(stderr,
              "McuProx: no 35BD:0101 interface ACKed the rate command (Davovo unplugged?)\n");
        return false;
    }
    reader.Device().Set(h);
    if (!reader.Start([this] { ReaderLoop(); })) {
        // Proximity is optional: the run goes on without it rather than end.
        DropDevice();
        Print(stderr, "McuProx: cannot start the reader thread — no proximity data\n");
        return false;
    }
    Print(stdout, "McuProx: telemetry at %u ms, threshold %u +/- %u\n", unsigned{periodMs},
          unsigned{threshold}, unsigned{hysteresis});
    return true;
}

void McuProx::Stop() {
    reader.Stop();
}

void McuProx::DropDevice() {
    reader.Device().Close();
    worn.store(false, std::memory_order_relaxed);
    distance.store(0, std::memory_order_relaxed);
}

bool McuProx::Reconnect(TelemetryTracker& tracker) {
    if (!reader.Pause(kRediscoveryWait)) {
        return false;
    }
    Handle const h = OpenTelemetryInterface(host, periodMs, reader.ReadEvent());
    if (h == kInvalidHandle) {
        return true;  // silent; the next pass waits another 2 s
    }
    reader.Device().Set(h);
    if (reader.Stopping()) {
        return false;  // Stop closes it after the join
    }
    tracker.Restart();
    PrintEvent(LineEvent::kMcuBack, stderr, "McuProx: device reconnected, telemetry restarted\n");
    return true;
}

void McuProx::ReaderLoop() {
    ReaderDevice& device = reader.Device();
    uint8_t buf[kMcuReportBytes];
    TelemetryTracker tracker(threshold, hysteresis);
    // Only this thread writes `device` while it runs, so it may read it unlocked.
    while (!reader.Stopping()) {
        if (device.Get() == nullptr) {
            if (!Reconnect(tracker)) {
                break;
            }
            continue;
        }
        uint32_t err = 0;
        int const got = ReadReportTimed(host, device.Get(), reader.ReadEvent(), buf, sizeof buf,
                                        kReadTimeoutMs, &err);
        if (got < 0) {
            if (reader.Stopping()) {
                break;
            }
            // Dropped before the line, so whoever reads the line sees the state it announces.
            DropDevice();
            PrintEvent(LineEvent::kMcuLost, stderr,
                       "McuProx: read failed (err %lu) — device gone, waiting for reconnect\n",
                       static_cast<unsigned long>(err));
            continue;
        }
        if (got == 0) {
            if (reader.Stopping()) {
                break;
            }
            if (tracker.OnTimeout()) {
                DropDevice();
                PrintEvent(LineEvent::kMcuLost, stderr,
                           "McuProx: telemetry silent %ds — device gone, waiting for reconnect\n",
                           tracker.SilentReads());
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
}

}  // namespace brisk
