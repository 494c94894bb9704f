// McuProx: the headset's proximity sensor. Finds the MCU, switches its
// telemetry on, reads distances on a thread of its own, derives worn/away with
// hysteresis, and rediscovers the MCU every 2 s after it is lost.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/hid.h"
#include "platform/reader_thread.h"
#include "prox/prox_tracker.h"

namespace brisk {

class McuProx {
  public:
    explicit McuProx(HidHost& host = PlatformHidHost());
    ~McuProx();
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
    void ReaderLoop();
    // Waits 2 s, then tries once. False when asked to stop meanwhile.
    bool Reconnect(TelemetryTracker& tracker);
    // Closes the interface and clears the published state.
    void DropDevice();

    HidHost& host;
    uint16_t periodMs = 50;
    ReaderThread reader{host};
    std::atomic<bool> worn{false};
    std::atomic<uint16_t> distance{0};
    uint16_t const threshold = kProxThreshold;
    uint16_t const hysteresis = kProxHysteresis;
};

}  // namespace brisk
