// The moments a report marks on its time axis, told apart by the words the
// tool prints for them (message rows of the run log).
#pragma once

#include <string_view>

namespace brisk::report {

enum class EventKind {
    None,
    ImuLost,
    ImuBack,
    McuLost,
    McuBack,
    Donned,
    Doffed,
    FreeRunBegin,
    FreeRunEnd,
    DisplayLost,
    // The closing lines: not marked on the charts, but a log that stops
    // right after them still tells its verdict.
    PresentResult,
    ImuResult,
    Verdict,
};

EventKind RecogniseEvent(std::string_view text);

// Whether the charts draw a marker for it.
bool IsMarked(EventKind kind);

// "IMU lost", "headset donned", ...
const char* EventName(EventKind kind);

}  // namespace brisk::report
