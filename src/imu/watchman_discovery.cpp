#include "imu/watchman_discovery.h"

#include <algorithm>
#include <cstdio>

#include "device/headset_usb.h"
#include "device/hub_pairing.h"
#include "imu/watchman_select.h"
#include "base/output.h"
#include "base/utf8.h"

namespace brisk {
namespace {

using headset::kMcuProductId;
using headset::kMcuVendorId;
using headset::kWatchmanImuInterface;
using headset::kWatchmanProductId;
using headset::kWatchmanVendorId;

struct WatchmanCandidate {
    Handle handle = kInvalidHandle;
    std::wstring serial;
    bool paired = false;
};

bool IsPairedWithMcu(const PortKey& place, const std::vector<PortKey>& mcuPorts) {
    for (const PortKey& mcu : mcuPorts) {
        if (SharesHub(place, mcu)) {
            return true;
        }
    }
    return false;
}

// Opens one Watchman IMU interface; false (nothing left open) when it cannot
// be opened or, once open, says it is something else.
bool OpenCandidate(HidHost& host, const HidDeviceInfo& device, const std::vector<PortKey>& mcuPorts,
                   WatchmanCandidate& out) {
    const Handle handle = host.Open(device.path);
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
    out.paired = IsPairedWithMcu(device.port, mcuPorts);
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

bool IsWatchmanImu(const HidDeviceInfo& device) {
    return device.vendorId == kWatchmanVendorId && device.productId == kWatchmanProductId &&
           device.interfaceNumber == kWatchmanImuInterface;
}

std::vector<PortKey> McuPortKeys(const std::vector<HidDeviceInfo>& devices) {
    std::vector<PortKey> ports;
    for (const HidDeviceInfo& device : devices) {
        if (device.vendorId != kMcuVendorId || device.productId != kMcuProductId ||
            !device.port.Known()) {
            continue;
        }
        // The MCU's interfaces all sit at its one place.
        if (std::find(ports.begin(), ports.end(), device.port) == ports.end()) {
            ports.push_back(device.port);
        }
    }
    return ports;
}

Handle OpenWatchman(HidHost& host, const std::wstring& requestedSerial, std::wstring* chosenOut,
                    bool verbose) {
    std::vector<HidDeviceInfo> devices;
    if (!host.ListHidDevices(devices)) {
        return kInvalidHandle;
    }
    const std::vector<PortKey> mcuPorts = McuPortKeys(devices);

    std::vector<WatchmanCandidate> candidates;
    for (const HidDeviceInfo& device : devices) {
        WatchmanCandidate c;
        if (IsWatchmanImu(device) && OpenCandidate(host, device, mcuPorts, c)) {
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
        PrintRefusal(candidates, pairedCount, mcuPorts.empty());
    }
    return chosen;
}

}  // namespace brisk
