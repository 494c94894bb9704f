#include "prox/prox_tracker.h"

#include "prox/mcu_protocol.h"

namespace brisk {

bool DecideWorn(bool worn, uint32_t mean, uint16_t threshold, uint16_t hysteresis) {
    if (worn) {
        bool const canLeave = threshold >= hysteresis;
        return !(canLeave && mean <= static_cast<uint32_t>(threshold - hysteresis));
    }
    return mean >= static_cast<uint32_t>(threshold) + hysteresis;
}

void DistanceMean::Push(uint16_t distance) {
    ring[pos] = distance;
    pos = (pos + 1) % kProxMeanWindow;
    ++fill;
}

uint32_t DistanceMean::Mean() const {
    uint32_t sum = 0;
    for (uint16_t d : ring) {
        sum += d;
    }
    return sum / kProxMeanWindow;
}

void DistanceMean::Restart() {
    pos = 0;
    fill = 0;
}

TelemetryUpdate TelemetryTracker::OnReport(const uint8_t* report, size_t count, bool worn) {
    TelemetryUpdate update;
    if (!TelemetryDistance(LocateMessage(report, count), update.distance)) {
        return update;
    }
    update.telemetry = true;
    mean.Push(update.distance);
    if (mean.Full()) {
        update.decided = true;
        update.worn = DecideWorn(worn, mean.Mean(), threshold, hysteresis);
    }
    return update;
}

void TelemetryTracker::Restart() {
    mean.Restart();
}

}  // namespace brisk
