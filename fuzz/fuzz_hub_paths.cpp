// Location paths, interface paths and serials as Windows reports them for
// devices on the bus (their text comes from device firmware and drivers),
// through the rules of Watchman discovery: the interface number of a path,
// the place a location path names, hub pairing and the choice of one.
//
// Input: lines of text (UTF-8). Line 1 and 2 are two location paths, line 3
// a requested serial, and every further line a candidate's serial, paired
// with the MCU when it starts with '+'.
#include <algorithm>
#include <string>

#include "device/hub_pairing.h"
#include "fuzz_support.h"
#include "imu/watchman_select.h"
#include "platform/win32/device_ids.h"

namespace {

using brisk::kNoCandidate;
using brisk::PortKey;

bool IsHexDigit(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

// Where "&mi_" first stands in `s`, ASCII case aside; npos when nowhere.
size_t FindInterfaceMarker(const std::wstring& s) {
    const std::wstring marker = L"&mi_";
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
            return i;
        }
    }
    return std::wstring::npos;
}

void CheckInterfaceNumber(const std::wstring& path) {
    const int number = brisk::win32_hid::InterfaceNumberOfPath(path);
    FUZZ_CHECK(number >= -1 && number <= 0xFF);
    const size_t at = FindInterfaceMarker(path);
    if (number >= 0) {
        // The two characters after the first marker, read as hex.
        FUZZ_CHECK(at != std::wstring::npos && at + 6 <= path.size());
        FUZZ_CHECK(std::stoi(std::string(path.begin() + long(at) + 4, path.begin() + long(at) + 6),
                             nullptr, 16) == number);
    } else if (at != std::wstring::npos && at + 6 <= path.size()) {
        // A marker with two hex digits after it is always read.
        FUZZ_CHECK(!IsHexDigit(path[at + 4]) || !IsHexDigit(path[at + 5]));
    }
}

// A place that is known says back exactly what it was read from, once its
// port numbers are written plainly.
void CheckPortKey(const std::wstring& path, const PortKey& key) {
    if (!key.Known()) {
        return;
    }
    FUZZ_CHECK(key.root.find(L"#USB(") == std::wstring::npos);
    std::wstring again = key.root;
    for (unsigned port : key.ports) {
        FUZZ_CHECK(port >= 1 && port <= 255);
        again += L"#USB(" + std::to_wstring(port) + L")";
    }
    FUZZ_CHECK(brisk::win32_hid::PortKeyOfLocationPath(again) == key);
    FUZZ_CHECK(again.size() <= path.size());
    // Each hub is the device's place cut short, nearest first.
    const std::vector<PortKey> hubs = brisk::HubsAbove(key);
    FUZZ_CHECK(hubs.size() == std::min<size_t>(2, key.ports.size()));
    for (size_t i = 0; i < hubs.size(); ++i) {
        FUZZ_CHECK(hubs[i].root == key.root);
        FUZZ_CHECK(hubs[i].ports.size() == key.ports.size() - 1 - i);
        FUZZ_CHECK(std::equal(hubs[i].ports.begin(), hubs[i].ports.end(), key.ports.begin()));
    }
}

void CheckPairing(const PortKey& a, const PortKey& b) {
    const bool shares = brisk::SharesHub(a, b);
    FUZZ_CHECK(shares == brisk::SharesHub(b, a));
    if (!a.Known() || !b.Known()) {
        FUZZ_CHECK(!shares);
    }
    // A device shares a hub with itself exactly when it hangs on one.
    FUZZ_CHECK(brisk::SharesHub(a, a) == !brisk::HubsAbove(a).empty());
    // Sharing means a common hub: one of a's two hubs is one of b's.
    bool common = false;
    for (const PortKey& ha : brisk::HubsAbove(a)) {
        for (const PortKey& hb : brisk::HubsAbove(b)) {
            common = common || ha == hb;
        }
    }
    FUZZ_CHECK(shares == common);
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

    for (const std::wstring& t : text) {
        CheckInterfaceNumber(t);
    }
    const PortKey a = brisk::win32_hid::PortKeyOfLocationPath(text[0]);
    const PortKey b = brisk::win32_hid::PortKeyOfLocationPath(text[1]);
    CheckPortKey(text[0], a);
    CheckPortKey(text[1], b);
    CheckPairing(a, b);

    std::vector<brisk::CandidateInfo> candidates;
    for (size_t i = 3; i < text.size(); ++i) {
        const bool paired = !text[i].empty() && text[i][0] == L'+';
        candidates.push_back({paired ? text[i].substr(1) : text[i], paired});
    }
    CheckChoice(candidates, text[2]);
    CheckChoice(candidates, L"");
    return 0;
}
