#include "support/present_result.h"

#include <regex>

namespace brisk::test {

std::optional<PresentResult> ParsePresentResult(const std::string& line) {
    static const std::regex kShape(
        R"(PRESENT RESULT: (\d+) frames in (\d+\.\d)s = (\d+\.\d\d) fps avg, )"
        R"(presentErrors (\d+), waitTimeouts (\d+), freeRunEvents (\d+))");
    std::smatch m;
    if (!std::regex_match(line, m, kShape)) {
        return std::nullopt;
    }
    PresentResult r;
    r.frames = std::stoll(m[1]);
    r.seconds = std::stod(m[2]);
    r.fps = std::stod(m[3]);
    r.presentErrors = std::stoll(m[4]);
    r.waitTimeouts = std::stoll(m[5]);
    r.freeRunEvents = std::stoll(m[6]);
    return r;
}

}  // namespace brisk::test
