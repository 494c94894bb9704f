#include "imu/watchman_select.h"

namespace brisk {

size_t ChooseWatchman(const std::vector<CandidateInfo>& candidates,
                      const std::wstring& requestedSerial) {
    if (!requestedSerial.empty()) {
        for (size_t i = 0; i < candidates.size(); ++i) {
            if (candidates[i].serial == requestedSerial) {
                return i;
            }
        }
        return kNoCandidate;
    }
    size_t chosen = kNoCandidate;
    size_t pairedCount = 0;
    for (size_t i = 0; i < candidates.size(); ++i) {
        if (candidates[i].paired) {
            ++pairedCount;
            chosen = i;
        }
    }
    return pairedCount == 1 ? chosen : kNoCandidate;
}

}  // namespace brisk
