#include "report/events.h"

#include "base/line_event.h"

namespace brisk::report {

EventKind EventFromLogName(std::string_view name) {
    switch (LineEventFromName(name)) {
        case LineEvent::kImuLost:
            return EventKind::ImuLost;
        case LineEvent::kImuBack:
            return EventKind::ImuBack;
        case LineEvent::kMcuLost:
            return EventKind::McuLost;
        case LineEvent::kMcuBack:
            return EventKind::McuBack;
        case LineEvent::kDonned:
            return EventKind::Donned;
        case LineEvent::kDoffed:
            return EventKind::Doffed;
        case LineEvent::kFreeRunBegin:
            return EventKind::FreeRunBegin;
        case LineEvent::kFreeRunEnd:
            return EventKind::FreeRunEnd;
        case LineEvent::kDisplayLost:
            return EventKind::DisplayLost;
        case LineEvent::kPresentResult:
            return EventKind::PresentResult;
        case LineEvent::kImuResult:
            return EventKind::ImuResult;
        case LineEvent::kVerdict:
            return EventKind::Verdict;
        case LineEvent::kNone:
            break;
    }
    return EventKind::None;
}

EventKind RecogniseEvent(std::string_view text) {
    struct Prefix {
        std::string_view words;
        EventKind kind;
    };
    static constexpr Prefix kPrefixes[] = {
        {"TundraImu: read failed", EventKind::ImuLost},
        {"TundraImu: ReadFile failed", EventKind::ImuLost},
        {"TundraImu: stream silent", EventKind::ImuLost},
        {"TundraImu: reconnected to", EventKind::ImuBack},
        {"McuProx: read failed", EventKind::McuLost},
        {"McuProx: telemetry silent", EventKind::McuLost},
        {"McuProx: device reconnected", EventKind::McuBack},
        {"prox: headset DONNED", EventKind::Donned},
        {"prox: headset DOFFED", EventKind::Doffed},
        {"WARNING: present loop free-running", EventKind::FreeRunBegin},
        {"free-run over", EventKind::FreeRunEnd},
        {"PRESENT RESULT:", EventKind::PresentResult},
        {"IMU RESULT:", EventKind::ImuResult},
        {"VERDICT:", EventKind::Verdict},
    };
    for (const Prefix& p : kPrefixes) {
        if (text.starts_with(p.words)) {
            return p.kind;
        }
    }
    // The presenter says it in several sentences of its own.
    if (text.find("display lost") != std::string_view::npos) {
        return EventKind::DisplayLost;
    }
    return EventKind::None;
}

bool IsMarked(EventKind kind) {
    return kind != EventKind::None && kind != EventKind::PresentResult &&
           kind != EventKind::ImuResult && kind != EventKind::Verdict;
}

const char* EventName(EventKind kind) {
    switch (kind) {
        case EventKind::ImuLost:
            return "IMU lost";
        case EventKind::ImuBack:
            return "IMU back";
        case EventKind::McuLost:
            return "MCU lost";
        case EventKind::McuBack:
            return "MCU back";
        case EventKind::Donned:
            return "headset donned";
        case EventKind::Doffed:
            return "headset doffed";
        case EventKind::FreeRunBegin:
            return "free-run begins";
        case EventKind::FreeRunEnd:
            return "free-run over";
        case EventKind::DisplayLost:
            return "display lost";
        case EventKind::PresentResult:
            return "present result";
        case EventKind::ImuResult:
            return "IMU result";
        case EventKind::Verdict:
            return "verdict";
        case EventKind::None:
            break;
    }
    return "message";
}

}  // namespace brisk::report
