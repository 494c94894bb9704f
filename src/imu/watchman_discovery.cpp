#include "imu/watchman_discovery.h"

#include <cstdio>
#include <cwctype>

#include "imu/watchman_select.h"
#include "platform/headset_usb.h"
#include "platform/output.h"
#include "platform/utf8.h"

namespace brisk {
namespace {

using headset::kMcuEnumerator;
using headset::kWatchmanDeviceIdPrefix;
using headset::kWatchmanProductId;
using headset::kWatchmanVendorId;
constexpr wchar_t kInterfaceMarker[] = L"&MI_";
constexpr int kMaxClimb = 6;

struct WatchmanCandidate {
    Handle handle = kInvalidHandle;
    std::wstring serial;
    bool paired = false;
};

std::wstring Upper(std::wstring s) {
    for (wchar_t& c : s) {
        c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    }
    return s;
}

bool IsInterfaceNodeId(const std::wstring& upperId) {
    return upperId.find(kInterfaceMarker) != std::wstring::npos;
}

bool IsPairedWithMcu(HidHost& host, DevNode hidNode, const std::vector<std::wstring>& mcuPaths) {
    DevNode root = 0;
    if (!FindUsbDeviceNode(host, hidNode, kWatchmanDeviceIdPrefix, root)) {
        return false;
    }
    const std::wstring lp = LocationPath(host, root);
    for (const std::wstring& mcu : mcuPaths) {
        if (SharesHub(lp, mcu)) {
            return true;
        }
    }
    return false;
}

// Opens one interface if it is a Watchman MI_00; false (nothing left open)
// otherwise.
bool OpenCandidate(HidHost& host, const HidInterface& iface,
                   const std::vector<std::wstring>& mcuPaths, WatchmanCandidate& out) {
    if (!IsMi00Path(iface.path)) {
        return false;
    }
    const Handle handle = host.Open(iface.path);
    if (handle == kInvalidHandle || handle == nullptr) {
        return false;
    }
    HidAttributes attr;
    if (!host.Attributes(handle, attr) || attr.vendorId != kWatchmanVendorId ||
        attr.productId != kWatchmanProductId) {
        host.Close(handle);
        return false;
    }
    out.handle = handle;
    out.serial.clear();
    if (!host.SerialString(handle, out.serial)) {
        out.serial.clear();  // a device without a serial is listed with an empty one
    }
    out.paired = IsPairedWithMcu(host, iface.node, mcuPaths);
    return true;
}

void PrintRefusal(const std::vector<WatchmanCandidate>& candidates, size_t pairedCount,
                  bool noMcu) {
    // clang-format off
    Print(stderr, "TundraImu: cannot pick among %zu Watchman device(s) (%zu MCU-paired%s) — is the Davovo attached? Or pass its LHR serial:\n",
            candidates.size(), pairedCount, noMcu ? ", no Davovo MCU on the bus" : "");
    // clang-format on
    for (const WatchmanCandidate& c : candidates) {
        Print(stderr, "  %s%s\n", Utf8FromWide(c.serial).c_str(),
              c.paired ? "  [shares hub with Davovo MCU]" : "");
    }
}

}  // namespace

std::wstring LocationPath(HidHost& host, DevNode node) {
    std::wstring path;
    if (!host.LocationPath(node, path)) {
        return std::wstring();
    }
    // Up to the first terminating zero: the first entry of the list.
    const size_t end = path.find(L'\0');
    if (end != std::wstring::npos) {
        path.resize(end);
    }
    return path;
}

bool FindUsbDeviceNode(HidHost& host, DevNode node, const std::wstring& idPrefix, DevNode& out) {
    DevNode current = node;
    for (int level = 0; level < kMaxClimb; ++level) {
        DevNode parent = 0;
        std::wstring id;
        if (!host.ParentNode(current, parent) || !host.DeviceId(parent, id)) {
            return false;
        }
        id = Upper(id);
        if (id.starts_with(idPrefix) && !IsInterfaceNodeId(id)) {
            out = parent;
            return true;
        }
        current = parent;
    }
    return false;
}

std::vector<std::wstring> McuLocationPaths(HidHost& host) {
    std::vector<std::wstring> paths;
    std::vector<DevNode> nodes;
    if (!host.ListDeviceNodes(kMcuEnumerator, nodes)) {
        return paths;
    }
    for (DevNode node : nodes) {
        std::wstring id;
        if (!host.DeviceId(node, id) || IsInterfaceNodeId(Upper(id))) {
            continue;
        }
        std::wstring lp = LocationPath(host, node);
        if (!lp.empty()) {
            paths.push_back(std::move(lp));
        }
    }
    return paths;
}

Handle OpenWatchman(HidHost& host, const std::wstring& requestedSerial, std::wstring* chosenOut,
                    bool verbose) {
    std::vector<HidInterface> interfaces;
    if (!host.ListHidInterfaces(interfaces)) {
        return kInvalidHandle;
    }
    const std::vector<std::wstring> mcuPaths = McuLocationPaths(host);

    std::vector<WatchmanCandidate> candidates;
    for (const HidInterface& iface : interfaces) {
        WatchmanCandidate c;
        if (OpenCandidate(host, iface, mcuPaths, c)) {
            candidates.push_back(std::move(c));
        }
    }

    std::vector<CandidateInfo> infos;
    size_t pairedCount = 0;
    for (const WatchmanCandidate& c : candidates) {
        infos.push_back({c.serial, c.paired});
        pairedCount += c.paired ? 1 : 0;
    }
    if (verbose) {
        Print(stdout, "TundraImu: %zu Watchman device(s), %zu MCU-paired\n", candidates.size(),
              pairedCount);
    }

    const size_t pick = ChooseWatchman(infos, requestedSerial);
    Handle chosen = kInvalidHandle;
    for (size_t i = 0; i < candidates.size(); ++i) {
        if (i == pick) {
            chosen = candidates[i].handle;
            if (chosenOut != nullptr) {
                *chosenOut = candidates[i].serial;
            }
        } else {
            host.Close(candidates[i].handle);
        }
    }

    if (verbose && chosen == kInvalidHandle && !candidates.empty()) {
        PrintRefusal(candidates, pairedCount, mcuPaths.empty());
    }
    return chosen;
}

}  // namespace brisk
