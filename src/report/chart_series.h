// What the timeline draws of a run's status rows: the rows as logged, less
// the values that measure nothing, and where rows are missing. A status row
// holds the IMU's last reading while no sample comes and the MCU's last
// distance while it is gone; and the row a part stopped inside counts that
// part's second only up to its end. Drawn as they are, these read as a flat
// sensor through an outage and as a frame rate falling to zero at the end.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "report/log_reader.h"

namespace brisk::report {

struct ChartSeries {
    StatusSeries status;  // as logged, NaN where a value measures nothing
    // Rows further apart than this have rows missing between them: the
    // lines break there.
    double rowGapLimit = INFINITY;
    std::vector<std::string> notes;  // what was left out and why, for the page
};

ChartSeries SeriesToDraw(const LoggedRun& log);

}  // namespace brisk::report
