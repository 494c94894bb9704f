#include "prox/mcu_prox.h"

#include "base/output.h"
#include "prox/mcu_discovery.h"
#include "prox/mcu_protocol.h"

namespace brisk {

McuProx::McuProx(HidHost& host)
    : host(host), reader(host, "McuProx", Silence::kMeansGone, kMcuReportBytes, *this) {}

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
    tracker.Restart();  // a new start warms up afresh
    if (!reader.Start()) {
        // Proximity is optional: the run goes on without it rather than end.
        ClearPublished();
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

void McuProx::ClearPublished() {
    worn.store(false, std::memory_order_relaxed);
    distance.store(0, std::memory_order_relaxed);
}

Handle McuProx::Reopen(Handle readEvent) {
    return OpenTelemetryInterface(host, periodMs, readEvent);
}

void McuProx::OnReopened() {
    tracker.Restart();
    PrintEvent(LineEvent::kMcuBack, stderr, "McuProx: device reconnected, telemetry restarted\n");
}

void McuProx::OnReport(const uint8_t* report, size_t length, int64_t /*arrivalNs*/) {
    TelemetryUpdate const u =
        tracker.OnReport(report, length, worn.load(std::memory_order_relaxed));
    if (u.telemetry) {
        distance.store(u.distance, std::memory_order_relaxed);
    }
    if (u.decided) {
        worn.store(u.worn, std::memory_order_relaxed);
    }
}

void McuProx::OnLost(const DeviceLoss& loss) {
    ClearPublished();
    if (loss.cause == DeviceLoss::Cause::kSilent) {
        PrintEvent(LineEvent::kMcuLost, stderr,
                   "McuProx: telemetry silent %ds — device gone, waiting for reconnect\n",
                   loss.silentReads);
        return;
    }
    PrintEvent(LineEvent::kMcuLost, stderr,
               "McuProx: read failed (err %lu) — device gone, waiting for reconnect\n",
               static_cast<unsigned long>(loss.error));
}

}  // namespace brisk
