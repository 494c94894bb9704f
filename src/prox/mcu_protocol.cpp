#include "prox/mcu_protocol.h"

#include <algorithm>

namespace brisk {

McuReport FrameCommand(const uint8_t* command, size_t length) {
    McuReport report{};
    size_t const n = command == nullptr ? 0 : std::min(length, kMcuMaxCommandBytes);
    std::copy(command, command + n, report.begin() + 1);
    return report;
}

RateCommandBytes RateCommand(uint16_t periodMs) {
    return {kMcuRateTag, static_cast<uint8_t>(periodMs >> 8),
            static_cast<uint8_t>(periodMs & 0xFF)};
}

McuMessage LocateMessage(const uint8_t* report, size_t count) {
    if (report == nullptr || count == 0) {
        return {};
    }
    if (report[0] == 0 && count >= 2) {
        return {report + 1, count - 1};
    }
    return {report, count};
}

bool TelemetryDistance(McuMessage message, uint16_t& distance) {
    if (message.bytes == nullptr || message.length < kTelemetryMinBytes ||
        message.bytes[0] != kMcuTelemetryTag) {
        return false;
    }
    uint8_t const high = message.bytes[kTelemetryDistanceOffset];
    uint8_t const low = message.bytes[kTelemetryDistanceOffset + 1];
    distance = static_cast<uint16_t>(high << 8 | low);
    return true;
}

AckStep ClassifyAckRead(int result, const uint8_t* report) {
    if (result <= 0) {
        return AckStep::NotAcknowledged;
    }
    McuMessage const message = LocateMessage(report, static_cast<size_t>(result));
    if (message.length == 0) {
        return AckStep::NotAcknowledged;
    }
    switch (message.bytes[0]) {
        case kMcuAckTag:
            return AckStep::Acknowledged;
        case kMcuTelemetryTag:
            return AckStep::KeepWaiting;
        default:
            return AckStep::NotAcknowledged;
    }
}

}  // namespace brisk
