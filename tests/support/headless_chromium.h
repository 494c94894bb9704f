// Debian's headless Chromium on a page of ours: no sandbox, GPU, network or
// first-run chores, a profile folder of the test's own, the page's console
// sent to stderr. The pages have no script, so any console message at all
// (Chromium logs them as "...:CONSOLE...") means something broke.
#pragma once

#include <string>
#include <vector>

#include "support/subprocess.h"

namespace brisk::test {

inline constexpr const char* kChromiumPath = "/usr/bin/chromium";

// `what` is the output to make: {"--dump-dom"}, or {"--screenshot=F",
// "--window-size=W,H"}.
RunResult RunHeadlessChromium(const std::string& profileDir, const std::string& pagePath,
                              const std::vector<std::string>& what);

// The console messages and uncaught errors among Chromium's lines.
std::vector<std::string> ConsoleMessages(const RunResult& browser);

}  // namespace brisk::test
