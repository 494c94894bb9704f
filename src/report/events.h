// The moments a report marks on its time axis: the events of the run log's
// message rows.
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

// From the `event` column of a message row ("imu_lost", ...).
EventKind EventFromLogName(std::string_view name);

// From a line's words: for logs written before the tool logged its events.
EventKind RecogniseEvent(std::string_view text);

// Whether the charts draw a marker for it.
bool IsMarked(EventKind kind);

// "IMU lost", "headset donned", ...
const char* EventName(EventKind kind);

}  // namespace brisk::report
