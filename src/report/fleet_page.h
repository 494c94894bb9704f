// The fleet page: every run of a lab on one self-contained HTML page (inline
// CSS, no script, nothing fetched), each row linking the run's own page, and
// the runs gathered by IMU serial so that a weak headset stands out from a
// weak station.
#pragma once

#include <string>
#include <vector>

#include "report/fleet_rows.h"

namespace brisk::report {

// `runs` in the order the table shows them (SortRuns).
std::string RenderFleetPage(const std::vector<FleetRun>& runs, const std::string& version);

}  // namespace brisk::report
