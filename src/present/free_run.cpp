#include "present/free_run.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {

FreeRunChange FreeRunDetector::OnFrame(double dt, double elapsed) {
    avg_ += kSmoothing * (dt - avg_);
    if (0.5 * period_ > avg_) {
        ++fastCount_;
        slowCount_ = 0;
    } else if (dt > 0.8 * period_) {
        ++slowCount_;
        fastCount_ = 0;
    }

    if (!freeRunning_ && fastCount_ >= kFastToEnter) {
        freeRunning_ = true;
        ++events_;
        // A free-run right after another one is the same flapping condition:
        // count it, but do not repeat the warning.
        announced_ = elapsed - lastFreeRunEnd_ > kQuietSeconds;
        return announced_ ? FreeRunChange::Entered : FreeRunChange::EnteredSilent;
    }
    if (freeRunning_ && slowCount_ >= kSlowToLeave) {
        freeRunning_ = false;
        avg_ = period_;
        lastFreeRunEnd_ = elapsed;
        return announced_ ? FreeRunChange::Left : FreeRunChange::LeftSilent;
    }
    return FreeRunChange::None;
}

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
