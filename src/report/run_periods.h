// Periods of a run read from its log: when a device was gone. Read from the
// events the log carries as data, never from the lines' words. Pure.
#pragma once

#include <cstdint>
#include <vector>

#include "report/events.h"
#include "report/log_reader.h"
#include "report/series.h"

namespace brisk::report {

// The run's end on the log's clock: its summary row, else its last row read.
double RunEnd(const LoggedRun& log);

// From each `lost` event to the next `back` event (or the run's end).
std::vector<Span> LostPeriods(const LoggedRun& log, EventKind lost, EventKind back);

// Seconds without the IMU, as the tool counts them: from each loss to its
// return, or to the run's end. NaN for a log with neither status rows nor
// IMU events.
double SecondsWithoutImu(const LoggedRun& log);

struct LostAndBack {
    uint64_t lost = 0, back = 0;
};
LostAndBack CountLostAndBack(const std::vector<LogEvent>& events, EventKind lost, EventKind back);

}  // namespace brisk::report
