// Free-run detection: when scan-out pacing disappears (a doffed headset stops
// signalling vsync the way we expect, or signals all the time) the present
// loop would spin as fast as the GPU allows. The detector watches the frame
// times and says when the loop should pace itself and when vsync is back.
#pragma once

#include <cstdint>

#include "platform/gpu_flavour.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {

enum class FreeRunChange {
    None,
    Entered,        // free-run began; announce it
    EnteredSilent,  // began within 10 s of the previous one's end; count only
    Left,           // vsync pacing is back; announce it
    LeftSilent,     // the end of a free-run that was never announced
};

class FreeRunDetector {
  public:
    // `period`: the mode's frame period in seconds.
    explicit FreeRunDetector(double period) : period_(period), avg_(period) {}

    // One finished frame: `dt` its time in seconds (top of frame to after the
    // scan-out wait), `elapsed` the run's seconds at the top of that frame.
    // At most one change per frame.
    FreeRunChange OnFrame(double dt, double elapsed);

    bool FreeRunning() const { return freeRunning_; }
    uint64_t Events() const { return events_; }

  private:
    static constexpr double kSmoothing = 0.1;
    static constexpr int kFastToEnter = 30;
    static constexpr int kSlowToLeave = 10;
    static constexpr double kQuietSeconds = 10.0;

    double period_;
    double avg_;  // smoothed frame time
    int fastCount_ = 0;
    int slowCount_ = 0;
    bool freeRunning_ = false;
    bool announced_ = false;
    double lastFreeRunEnd_ = -1e9;
    uint64_t events_ = 0;
};

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
