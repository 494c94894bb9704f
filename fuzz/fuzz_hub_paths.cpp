// Location paths and serials as Windows reports them for devices on the bus
// (their text comes from device firmware and drivers), through the rules of
// Watchman discovery: MI_00 recognition, hub pairing and the choice of one.
//
// Input: lines of text (UTF-8). Line 1 and 2 are two location paths, line 3
// a requested serial, and every further line a candidate's serial, paired
// with the MCU when it starts with '+'.
#include <cwctype>

#include "fuzz_support.h"
#include "imu/watchman_select.h"

namespace {

using brisk::kNoCandidate;

const std::wstring kHubSeparator = L"#USB(";

bool ContainsMi00IgnoringAsciiCase(const std::wstring& s) {
    const std::wstring marker = L"&mi_00";
    for (size_t i = 0; i + marker.size() <= s.size(); ++i) {
        size_t k = 0;
        while (k < marker.size()) {
            wchar_t c = s[i + k];
            if (c >= L'A' && c <= L'Z') {
                c = static_cast<wchar_t>(c - L'A' + L'a');
            }
            if (c != marker[k]) {
                break;
            }
            ++k;
        }
        if (k == marker.size()) {
            return true;
        }
    }
    return false;
}

void CheckHubPaths(const std::wstring& path) {
    const std::vector<std::wstring> hubs = brisk::HubPaths(path);
    FUZZ_CHECK(hubs.size() <= 2);
    size_t longest = path.size();
    for (size_t i = 0; i < hubs.size(); ++i) {
        const std::wstring& hub = hubs[i];
        // Each is the path cut right before a hub step, nearest hub first.
        FUZZ_CHECK(hub.size() < longest);
        FUZZ_CHECK(path.compare(0, hub.size(), hub) == 0);
        FUZZ_CHECK(path.compare(hub.size(), kHubSeparator.size(), kHubSeparator) == 0);
        // Cut at the last separator of what was left, not an earlier one.
        FUZZ_CHECK(path.substr(0, longest).find(kHubSeparator, hub.size() + 1) ==
                   std::wstring::npos);
        longest = hub.size();
    }
    // Fewer than two only when the separators ran out.
    if (hubs.size() < 2) {
        FUZZ_CHECK(path.substr(0, longest).find(kHubSeparator) == std::wstring::npos);
    }
}

void CheckChoice(const std::vector<brisk::CandidateInfo>& candidates, const std::wstring& serial) {
    const size_t chosen = brisk::ChooseWatchman(candidates, serial);
    FUZZ_CHECK(chosen == kNoCandidate || chosen < candidates.size());
    if (!serial.empty()) {
        // The first exact match, pairing aside.
        size_t first = kNoCandidate;
        for (size_t i = 0; i < candidates.size() && first == kNoCandidate; ++i) {
            if (candidates[i].serial == serial) {
                first = i;
            }
        }
        FUZZ_CHECK(chosen == first);
        return;
    }
    size_t paired = 0;
    for (const brisk::CandidateInfo& c : candidates) {
        paired += c.paired ? 1 : 0;
    }
    // Never a guess: exactly one paired Watchman, or none chosen.
    FUZZ_CHECK((chosen != kNoCandidate) == (paired == 1));
    if (chosen != kNoCandidate) {
        FUZZ_CHECK(candidates[chosen].paired);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> lines = brisk::fuzz::Split(data, size, '\n');
    std::vector<std::wstring> text;
    for (const std::string& line : lines) {
        text.push_back(brisk::fuzz::Widen(line));
    }
    text.resize(std::max<size_t>(text.size(), 3));
    const std::wstring& a = text[0];
    const std::wstring& b = text[1];

    for (const std::wstring& t : text) {
        if (ContainsMi00IgnoringAsciiCase(t)) {
            FUZZ_CHECK(brisk::IsMi00Path(t));
        }
    }
    CheckHubPaths(a);
    CheckHubPaths(b);

    const bool shares = brisk::SharesHub(a, b);
    FUZZ_CHECK(shares == brisk::SharesHub(b, a));
    if (a.empty() || b.empty()) {
        FUZZ_CHECK(!shares);
    }
    // A device shares a hub with itself exactly when it hangs on one.
    FUZZ_CHECK(brisk::SharesHub(a, a) == !brisk::HubPaths(a).empty());
    // Sharing means a common hub: one of a's two hubs is one of b's.
    if (shares) {
        bool common = false;
        for (const std::wstring& ha : brisk::HubPaths(a)) {
            for (const std::wstring& hb : brisk::HubPaths(b)) {
                common = common || ha == hb;
            }
        }
        FUZZ_CHECK(common);
    }

    std::vector<brisk::CandidateInfo> candidates;
    for (size_t i = 3; i < text.size(); ++i) {
        const bool paired = !text[i].empty() && text[i][0] == L'+';
        candidates.push_back({paired ? text[i].substr(1) : text[i], paired});
    }
    CheckChoice(candidates, text[2]);
    CheckChoice(candidates, L"");
    return 0;
}
