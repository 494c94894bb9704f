// Where a fleet's pages go: the run pages in a folder beside the fleet page,
// one per log, under names that never collide (two stations' "run.csv" make
// two pages) and need no escaping on any file system. Pure.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brisk::report {

// "lab/fleet.html" -> "lab/fleet-runs".
std::string RunsFolderFor(const std::string& fleetPage);

// A page name for each log, in the same order: its name without folder and
// extension, made safe ("bench 3.csv" -> "bench_3.html") and unique, ignoring
// case, by a "-2", "-3", ... suffix.
std::vector<std::string> RunPageNames(const std::vector<std::string>& logs);

// The link from the fleet page to a run page in `folder` (its last part only).
std::string PageHref(std::string_view folderName, std::string_view pageName);

// What a folder given as a fleet's input contributes: its *.csv files.
bool IsLogFileName(std::string_view name);

}  // namespace brisk::report
