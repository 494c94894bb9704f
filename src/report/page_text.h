// Text for the report page: printf into the page, and the page's ways of
// writing times and axis labels.
#pragma once

#include <string>

#include "base/printf_format.h"

namespace brisk::report {

// Appends printf-formatted text to `out`, however long.
void Fmt(std::string& out, const char* format, ...) BRISK_PRINTF_FORMAT(2, 3);

// "1:02:03" or "2:03" for long runs, seconds with decimals for short ones.
std::string Clock(double seconds, bool fraction);
// "12.345 s".
std::string Seconds(double seconds);
// An axis label: as short as its value allows.
std::string TickLabel(double v);
// A label of a scale whose ticks are `step` apart: as many decimals as the
// step needs and no more ("0.5", "1.0", "1.5"; "200", "400"), and thousands
// as "k" from 100,000 up, so every label fits the axis's margin.
std::string TickLabel(double v, double step);

}  // namespace brisk::report
