#include "run/presence.h"

namespace brisk {

void PresenceTracker::Watch(RunPart part, double at) {
    std::lock_guard<std::mutex> lock(mtx);
    Device& d = part == RunPart::kMcu ? mcu : imu;
    d.presence.watched = true;
    d.watchedAt = at;
}

void PresenceTracker::Lost(Device& d, double at) {
    d.presence.watched = true;  // only a started device is lost
    ++d.presence.losses;
    d.presence.lastLostAt = at;
    if (d.lostSince < 0) {
        d.lostSince = at;
    }
}

void PresenceTracker::Back(Device& d, double at) {
    ++d.presence.returns;
    if (d.lostSince >= 0) {
        d.presence.secondsWithout += at - d.lostSince;
        d.lostSince = -1.0;
    }
}

void PresenceTracker::Heard(LineEvent event, double at) {
    std::lock_guard<std::mutex> lock(mtx);
    switch (event) {
        case LineEvent::kImuLost:
            Lost(imu, at);
            break;
        case LineEvent::kImuBack:
            Back(imu, at);
            break;
        case LineEvent::kMcuLost:
            Lost(mcu, at);
            break;
        case LineEvent::kMcuBack:
            Back(mcu, at);
            break;
        case LineEvent::kDisplayLost:
            if (displayLostAt < 0) {
                displayLostAt = at;
            }
            break;
        default:
            break;
    }
}

PartPresence PresenceTracker::Presence(RunPart part, double end) const {
    std::lock_guard<std::mutex> lock(mtx);
    const Device& d = part == RunPart::kMcu ? mcu : imu;
    PartPresence p = d.presence;
    p.presentAtEnd = d.lostSince < 0;
    if (!p.presentAtEnd && end > d.lostSince) {
        p.secondsWithout += end - d.lostSince;
    }
    return p;
}

double PresenceTracker::DisplayLostAt() const {
    std::lock_guard<std::mutex> lock(mtx);
    return displayLostAt;
}

double PresenceTracker::ImuStartedAt() const {
    std::lock_guard<std::mutex> lock(mtx);
    return imu.watchedAt;
}

}  // namespace brisk
