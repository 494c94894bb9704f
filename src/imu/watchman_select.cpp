#include "imu/watchman_select.h"

#include <cwctype>

namespace brisk {
namespace {

constexpr wchar_t kMi00Marker[] = L"&mi_00";
constexpr wchar_t kHubSeparator[] = L"#USB(";

}  // namespace

bool IsMi00Path(const std::wstring& path) {
    std::wstring lower = path;
    for (wchar_t& c : lower) {
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    }
    return lower.find(kMi00Marker) != std::wstring::npos;
}

std::vector<std::wstring> HubPaths(const std::wstring& locationPath) {
    std::vector<std::wstring> out;
    std::wstring rest = locationPath;
    for (int step = 0; step < 2; ++step) {
        const size_t cut = rest.rfind(kHubSeparator);
        if (cut == std::wstring::npos) {
            break;
        }
        rest.resize(cut);
        out.push_back(rest);
    }
    return out;
}

bool SharesHub(const std::wstring& a, const std::wstring& b) {
    if (a.empty() || b.empty()) {
        return false;
    }
    const std::vector<std::wstring> hubsA = HubPaths(a);
    const std::vector<std::wstring> hubsB = HubPaths(b);
    for (const std::wstring& ha : hubsA) {
        for (const std::wstring& hb : hubsB) {
            if (ha == hb) {
                return true;
            }
        }
    }
    return false;
}

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
