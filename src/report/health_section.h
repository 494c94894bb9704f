// The run page's IMU health section: the figures, the flags, and a log-log
// plot of each gyro axis's Allan deviation.
#pragma once

#include <string>

#include "report/logged_health.h"

namespace brisk::report {

// Nothing when the log has no health figures (written before they existed).
void HealthSection(std::string& out, const LoggedHealth& h);

// The Allan plot alone, as an SVG element.
void AllanPlot(std::string& out, const LoggedHealth& h);

}  // namespace brisk::report
