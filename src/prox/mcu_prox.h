// McuProx: the headset's proximity sensor. Finds the MCU, switches its
// telemetry on, reads distances on a thread of its own (HidReaderLoop),
// derives worn/away with hysteresis, and rediscovers the MCU every 2 s after
// it is lost.
#pragma once

#include <atomic>
#include <cstdint>

#include "device/hid_reader_loop.h"
#include "platform/hid.h"
#include "prox/prox_tracker.h"

namespace brisk {

class McuProx : private HidReaderClient {
  public:
    explicit McuProx(HidHost& host = PlatformHidHost());
    ~McuProx() override;
    McuProx(const McuProx&) = delete;
    McuProx& operator=(const McuProx&) = delete;

    // True when the reader runs (also when it already did); false, with a
    // message, when no MCU interface acknowledged the rate command.
    bool Start(uint16_t periodMs);
    // Idempotent. The published values keep their last state.
    void Stop();

    // Lock-free, from any thread at any time.
    bool IsWorn() const { return worn.load(std::memory_order_relaxed); }
    uint16_t Distance() const { return distance.load(std::memory_order_relaxed); }

  private:
    // The reader loop's calls, on the reader thread. Three silent seconds in
    // a row lose the MCU; a reopen sends the rate command again.
    Handle Reopen(Handle readEvent) override;
    void OnReport(const uint8_t* report, size_t length, int64_t arrivalNs) override;
    void OnLost(const DeviceLoss& loss) override;
    void OnReopened() override;
    void ClearPublished();

    HidHost& host;
    uint16_t periodMs = 50;
    uint16_t const threshold = kProxThreshold;
    uint16_t const hysteresis = kProxHysteresis;
    HidReaderLoop reader;
    TelemetryTracker tracker{threshold, hysteresis};  // the reader thread's own while it runs
    std::atomic<bool> worn{false};
    std::atomic<uint16_t> distance{0};
};

}  // namespace brisk
