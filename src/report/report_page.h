// The report page: one self-contained HTML file (inline CSS and SVG, no
// script, nothing fetched) that a bench engineer can open offline or attach
// to a bug.
#pragma once

#include <string>

#include "report/log_reader.h"

namespace brisk::report {

// `logName` is shown as the file the page was made from.
std::string RenderReport(const LoggedRun& log, const std::string& logName,
                         const std::string& version);

}  // namespace brisk::report
