// brisk-report LOG... -o FLEET.html: the fleet page and every run's own page.
#pragma once

#include <string>
#include <vector>

namespace brisk::report {

// `inputs`: logs and folders of logs (their *.csv files). Writes each
// readable log's page into RunsFolderFor(output) and the fleet page to
// `output`; a log that cannot be read is named on stderr and keeps its row.
// Returns the exit code: 0 written, 66 no log could be read, 73 a page could
// not be written.
int WriteFleet(const std::vector<std::string>& inputs, const std::string& output,
               const std::string& version);

}  // namespace brisk::report
