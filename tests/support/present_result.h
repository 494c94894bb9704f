// The presenter's totals line ("PRESENT RESULT: ..."), taken apart, for the
// presenter tests and the end-to-end tests alike.
#pragma once

#include <optional>
#include <string>

namespace brisk::test {

struct PresentResult {
    long long frames = 0;
    double seconds = 0.0;
    double fps = 0.0;
    long long presentErrors = 0;
    long long waitTimeouts = 0;
    long long freeRunEvents = 0;
};

// Nothing unless `line` is the totals line in exactly its printed shape.
std::optional<PresentResult> ParsePresentResult(const std::string& line);

}  // namespace brisk::test
