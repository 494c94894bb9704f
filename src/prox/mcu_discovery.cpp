#include "prox/mcu_discovery.h"

#include <algorithm>

#include "prox/mcu_protocol.h"

namespace brisk {
namespace {

bool IsListedAsMcu(const HidDeviceInfo& device) {
    return device.vendorId == kMcuVendorId && device.productId == kMcuProductId;
}

bool IsMcu(HidHost& host, Handle device) {
    HidAttributes attr;
    return host.Attributes(device, attr) && attr.vendorId == kMcuVendorId &&
           attr.productId == kMcuProductId;
}

// Sends the rate command and waits for its "$", skipping telemetry that was
// already flowing, for at most kAckReads reads.
bool CommandAndAwaitAck(HidHost& host, Handle device, const RateCommandBytes& rateCmd,
                        Handle event) {
    if (!SendFeatureReport(host, device, rateCmd.data(), rateCmd.size())) {
        return false;
    }
    uint8_t buf[kMcuReportBytes];
    for (int i = 0; i < kAckReads; ++i) {
        int const got = ReadReportTimed(host, device, event, buf, sizeof buf, kAckTimeoutMs);
        switch (ClassifyAckRead(got, buf)) {
            case AckStep::Acknowledged:
                return true;
            case AckStep::KeepWaiting:
                continue;
            case AckStep::NotAcknowledged:
                return false;
        }
    }
    return false;
}

}  // namespace

std::vector<Handle> EnumerateMcuInterfaces(HidHost& host) {
    std::vector<Handle> out;
    std::vector<HidDeviceInfo> devices;
    if (!host.ListHidDevices(devices)) {
        return out;
    }
    for (const HidDeviceInfo& device : devices) {
        if (!IsListedAsMcu(device)) {
            continue;
        }
        Handle const h = host.Open(device.path);
        if (h == kInvalidHandle || h == nullptr) {
            continue;
        }
        if (IsMcu(host, h)) {
            out.push_back(h);
        } else {
            host.Close(h);
        }
    }
    return out;
}

bool SendFeatureReport(HidHost& host, Handle device, const uint8_t* command, size_t length) {
    McuReport const report = FrameCommand(command, length);
    return host.SetFeature(device, report.data(), report.size());
}

int ReadReportTimed(HidHost& host, Handle device, Handle event, uint8_t* buf, uint32_t length,
                    uint32_t timeoutMs, uint32_t* error) {
    ReadResult const r = host.ReadTimed(device, event, buf, length, timeoutMs);
    switch (r.outcome) {
        case ReadOutcome::Completed:
            // A backend claiming more than was asked for must not lead us past `buf`.
            return static_cast<int>(std::min(r.bytes, length));
        case ReadOutcome::TimedOut:
            return 0;
        case ReadOutcome::FailedAtOnce:
        case ReadOutcome::FailedAfterPending:
            break;
    }
    if (error != nullptr) {
        *error = r.error;
    }
    return -1;
}

Handle OpenTelemetryInterface(HidHost& host, uint16_t periodMs, Handle event) {
    std::vector<Handle> const handles = EnumerateMcuInterfaces(host);
    RateCommandBytes const rateCmd = RateCommand(periodMs);
    Handle chosen = kInvalidHandle;
    for (Handle h : handles) {
        if (chosen == kInvalidHandle && CommandAndAwaitAck(host, h, rateCmd, event)) {
            chosen = h;
            continue;
        }
        host.Close(h);
    }
    return chosen;
}

}  // namespace brisk
