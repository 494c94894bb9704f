// The run page's IMU health section: the figures, the flags, and a log-log
// plot of each gyro axis's Allan deviation.
#pragma once

#include <string>

#include "report/logged_health.h"

namespace brisk::report {

// Nothing when the log has no health figures (written before they existed).
// The figures' times count from the IMU stream's first report; shown at
// `streamStart` later, they are on the page's one clock (elapsed since the
// tool started). `notWeighed` is said beside the flags: empty when the
// verdict weighed them.
void HealthSection(std::string& out, const LoggedHealth& h, double streamStart,
                   const std::string& notWeighed);

// The Allan plot alone, as an SVG element.
void AllanPlot(std::string& out, const LoggedHealth& h);

}  // namespace brisk::report
