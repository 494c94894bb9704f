// Text for the report page: printf into the page, and the page's ways of
// writing times and axis labels.
#pragma once

#include <string>

#include "platform/printf_format.h"

namespace brisk::report {

// Appends printf-formatted text to `out`, however long.
void Fmt(std::string& out, const char* format, ...) BRISK_PRINTF_FORMAT(2, 3);

// "1:02:03" or "2:03" for long runs, seconds with decimals for short ones.
std::string Clock(double seconds, bool fraction);
// "12.345 s".
std::string Seconds(double seconds);
// An axis label: as short as its value allows.
std::string TickLabel(double v);

}  // namespace brisk::report
