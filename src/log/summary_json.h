// The run's JSON summary (--json FILE): one document written when the run
// ends, for stations and CI to read instead of the console. Its shape is
// docs/summary.schema.json: the verdict, the exit code, the counted reasons,
// and per part (imu, mcu, display) its result and figures; a part the run did
// not try is null, and so is a figure it did not measure.
#pragma once

#include <memory>
#include <string>

#include "base/side_file.h"
#include "log/log_rows.h"

namespace brisk {

// The document, pretty-printed, newline included.
std::string SummaryJson(const RunFacts& facts, const RunSummary& summary);

// "PASS", "FAIL" or "DISPLAY_LOST" for the log's verdict name.
std::string SummaryVerdict(const std::string& verdictName);

// Writes the document to a side file created before the run: a failure says
// so in one line and the run goes on.
void WriteSummaryJson(SideFile& file, const RunFacts& facts, const RunSummary& summary);

}  // namespace brisk
