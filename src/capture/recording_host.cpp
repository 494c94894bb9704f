#include "capture/recording_host.h"

#include <algorithm>

namespace brisk::capture {
namespace {

// USB addresses run from 1 to 127.
constexpr size_t kMaxAddresses = 127;

std::u16string Utf16(const std::wstring& text) {
    std::u16string out;
    for (wchar_t c : text) {
        const auto u = static_cast<uint32_t>(c);
        if (u > 0xFFFF) {  // outside the BMP on a 32-bit wchar_t: a surrogate pair
            out.push_back(static_cast<char16_t>(0xD800 + ((u - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((u - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(u));
        }
    }
    return out;
}

}  // namespace

RecordingHidHost::RecordingHidHost(HidHost& inner, CaptureRecorder& recorder)
    : inner(inner), recorder(recorder) {}

bool RecordingHidHost::ListHidDevices(std::vector<HidDeviceInfo>& out) {
    const bool ok = inner.ListHidDevices(out);
    std::lock_guard<std::mutex> lock(mtx);
    for (const HidDeviceInfo& device : out) {
        const bool known = device.interfaceNumber >= 0 && device.interfaceNumber <= 0xFF;
        listedInterfaces[device.path] = known ? static_cast<uint8_t>(device.interfaceNumber) : 0;
    }
    return ok;
}

Handle RecordingHidHost::Open(const std::wstring& path) {
    Handle const h = inner.Open(path);
    if (h != kInvalidHandle && h != nullptr) {
        std::lock_guard<std::mutex> lock(mtx);
        const auto listed = listedInterfaces.find(path);
        handles[h] =
            OpenInterface{listed == listedInterfaces.end() ? uint8_t{0} : listed->second, 0};
    }
    return h;
}

bool RecordingHidHost::Attributes(Handle device, HidAttributes& out) {
    return inner.Attributes(device, out);
}

bool RecordingHidHost::SerialString(Handle device, std::wstring& out) {
    return inner.SerialString(device, out);
}

uint8_t RecordingHidHost::AddressOf(Handle device, uint8_t& interfaceNumber) {
    {
        std::lock_guard<std::mutex> lock(mtx);
        auto it = handles.find(device);
        if (it == handles.end()) {
            return 0;
        }
        interfaceNumber = it->second.interfaceNumber;
        if (it->second.address != 0 && !devices[it->second.address - 1].lost) {
            return it->second.address;
        }
    }
    // Asked once per handle (and after a loss), outside the lock.
    HidAttributes attr;
    if (!inner.Attributes(device, attr)) {
        return 0;
    }
    std::wstring serial;
    inner.SerialString(device, serial);

    std::lock_guard<std::mutex> lock(mtx);
    auto it = handles.find(device);
    if (it == handles.end()) {
        return 0;  // closed meanwhile
    }
    size_t index = 0;
    while (index < devices.size() && !(devices[index].attributes.vendorId == attr.vendorId &&
                                       devices[index].attributes.productId == attr.productId &&
                                       devices[index].serial == serial)) {
        ++index;
    }
    if (index == devices.size()) {
        if (devices.size() == kMaxAddresses) {
            return 0;
        }
        devices.push_back(Device{attr, serial, true});
    }
    const auto address = static_cast<uint8_t>(index + 1);
    if (devices[index].lost) {
        devices[index].lost = false;
        recorder.DeviceShown(address, it->second.interfaceNumber, attr.vendorId, attr.productId,
                             attr.version, Utf16(serial));
    }
    it->second.address = address;
    return address;
}

void RecordingHidHost::Lost(Handle device) {
    std::lock_guard<std::mutex> lock(mtx);
    auto it = handles.find(device);
    if (it == handles.end() || it->second.address == 0) {
        return;
    }
    Device& d = devices[it->second.address - 1];
    if (!d.lost) {
        d.lost = true;
        recorder.ReadFailed(it->second.address, it->second.interfaceNumber);
    }
}

bool RecordingHidHost::SetFeature(Handle device, const uint8_t* report, size_t length) {
    uint8_t interfaceNumber = 0;
    const uint8_t address = AddressOf(device, interfaceNumber);
    const bool ok = inner.SetFeature(device, report, length);
    if (address != 0 && report != nullptr) {
        recorder.FeatureSent(address, interfaceNumber, report, length, ok);
    }
    return ok;
}

FeatureResult RecordingHidHost::GetFeature(Handle device, uint8_t reportId, uint8_t* buf,
                                           uint32_t length) {
    uint8_t interfaceNumber = 0;
    const uint8_t address = AddressOf(device, interfaceNumber);
    const FeatureResult r = inner.GetFeature(device, reportId, buf, length);
    // An answer, or the device's stall (ERROR_GEN_FAILURE). A replay's "not
    // captured", a host that cannot ask, a bad handle and a device that is
    // gone put no answer on the bus: nothing to record (the loss shows in
    // the IMU's reads).
    const bool overTheBus = r.outcome == FeatureOutcome::kData ||
                            (r.outcome == FeatureOutcome::kFailed && r.error == kErrorGenFailure);
    if (address != 0 && buf != nullptr && overTheBus) {
        const auto asked = static_cast<uint16_t>(std::min<uint32_t>(length, 0xFFFF));
        recorder.FeatureRead(address, interfaceNumber, reportId, asked, buf,
                             std::min(r.bytes, length), r.outcome == FeatureOutcome::kData);
    }
    return r;
}

Handle RecordingHidHost::CreateReadEvent() {
    return inner.CreateReadEvent();
}

ReadResult RecordingHidHost::ReadTimed(Handle device, Handle event, uint8_t* buf, uint32_t length,
                                       uint32_t timeoutMs) {
    const ReadResult r = inner.ReadTimed(device, event, buf, length, timeoutMs);
    switch (r.outcome) {
        case ReadOutcome::Completed: {
            uint8_t interfaceNumber = 0;
            const uint8_t address = AddressOf(device, interfaceNumber);
            if (address != 0) {
                recorder.InputReport(address, interfaceNumber, buf,
                                     r.bytes < length ? r.bytes : length);
            }
            break;
        }
        case ReadOutcome::TimedOut:
            break;
        case ReadOutcome::FailedAtOnce:
        case ReadOutcome::FailedAfterPending:
            // A cancel is ours (a stop, a time-out), not the device's doing.
            if (r.error != kErrorOperationAborted) {
                Lost(device);
            }
            break;
    }
    return r;
}

void RecordingHidHost::CancelAll(Handle device) {
    inner.CancelAll(device);
}

void RecordingHidHost::Close(Handle handle) {
    {
        std::lock_guard<std::mutex> lock(mtx);
        handles.erase(handle);
    }
    inner.Close(handle);
}

bool RecordingHidHost::SetInputQueueDepth(Handle device, uint32_t wanted, uint32_t& granted) {
    return inner.SetInputQueueDepth(device, wanted, granted);
}

}  // namespace brisk::capture
