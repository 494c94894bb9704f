// The run page's photodiode map (--optical): each photodiode drawn at its
// configured position in two views of the unit, coloured by its state, with
// the list of them beside.
#pragma once

#include <string>

#include "report/log_reader.h"

namespace brisk::report {

// Nothing when the log has no photodiode rows (a run without --optical,
// one whose configuration was not read, an older log).
void PhotodiodeSection(std::string& out, const LoggedRun& log);

}  // namespace brisk::report
