// Findings a run page shows that its verdict did not weigh. Logs written
// since the reasons table say so themselves: the summary row's noted reasons
// (raised, not counted) and its counted codes. Older logs are read by what
// they have: health flags the fail reasons do not name ("IMU health: ...")
// and a device lost and not back. The page says so beside any such finding.
#pragma once

#include <string>
#include <vector>

#include "report/log_reader.h"

namespace brisk::report {

struct UnweighedFinding {
    std::string what;  // the noted reasons as logged; "the IMU, lost at 4.000 s and not back"
    std::string why;   // "the run was made without --imu-health"; empty when the log does not say
};

// Nothing for a run with no verdict (its log stops before the summary).
std::vector<UnweighedFinding> FindingsNotWeighed(const LoggedRun& log);

// Whether the verdict weighed the IMU health flags.
bool HealthFlagsWeighed(const LoggedSummary& summary);

// Why the health flags were not weighed, in a few words; empty when unknown.
std::string WhyHealthNotWeighed(const LoggedRun& log);

}  // namespace brisk::report
