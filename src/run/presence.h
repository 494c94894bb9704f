// Whether the devices the run watches are there, learnt from the lines their
// readers print when they lose a device and when it comes back (the line
// events the output function tells its listener of): the device classes need
// not know. Fed from any printing thread; read once the run has ended.
#pragma once

#include <mutex>

#include "base/line_event.h"
#include "run/reasons.h"

namespace brisk {

class PresenceTracker {
  public:
    // `part` (the IMU or the MCU) started at run second `at`.
    void Watch(RunPart part, double at);
    // A printed line marked `event`, at run second `at`; events of no device
    // are ignored.
    void Heard(LineEvent event, double at);

    // The device's presence at run second `end`. A loss with no return
    // counts as time without it up to `end`.
    PartPresence Presence(RunPart part, double end) const;
    // When the present loop said the display was lost; negative when it did not.
    double DisplayLostAt() const;
    // When the IMU started; negative when it did not.
    double ImuStartedAt() const;

  private:
    struct Device {
        PartPresence presence;
        double watchedAt = -1.0;
        double lostSince = -1.0;  // negative while present
    };
    static void Lost(Device& d, double at);
    static void Back(Device& d, double at);

    mutable std::mutex mtx;  // guards the members below; never held while printing
    Device imu, mcu;
    double displayLostAt = -1.0;
};

}  // namespace brisk
