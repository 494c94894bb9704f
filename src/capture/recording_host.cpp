#include "capture/recording_host.h"

namespace brisk::capture {
namespace {

// USB addresses run from 1 to 127.
constexpr size_t kMaxAddresses = 127;

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

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

uint8_t InterfaceNumberOfPath(const std::wstring& path) {
    for (size_t i = 0; i + 5 < path.size(); ++i) {
        if (path[i] == L'&' && (path[i + 1] == L'm' || path[i + 1] == L'M') &&
            (path[i + 2] == L'i' || path[i + 2] == L'I') && path[i + 3] == L'_') {
            const int hi = HexDigit(path[i + 4]), lo = HexDigit(path[i + 5]);
            if (hi >= 0 && lo >= 0) {
                return static_cast<uint8_t>(hi * 16 + lo);
            }
        }
    }
    return 0;
}

RecordingHidHost::RecordingHidHost(HidHost& inner, CaptureRecorder& recorder)
    : inner(inner), recorder(recorder) {}

bool RecordingHidHost::ListHidInterfaces(std::vector<HidInterface>& out) {
    return inner.ListHidInterfaces(out);
}

bool RecordingHidHost::ListDeviceNodes(const std::wstring& enumerator, std::vector<DevNode>& out) {
    return inner.ListDeviceNodes(enumerator, out);
}

bool RecordingHidHost::ParentNode(DevNode node, DevNode& parent) {
    return inner.ParentNode(node, parent);
}

bool RecordingHidHost::DeviceId(DevNode node, std::wstring& id) {
    return inner.DeviceId(node, id);
}

bool RecordingHidHost::LocationPath(DevNode node, std::wstring& path) {
    return inner.LocationPath(node, path);
}

Handle RecordingHidHost::Open(const std::wstring& path) {
    Handle const h = inner.Open(path);
    if (h != kInvalidHandle && h != nullptr) {
        std::lock_guard<std::mutex> lock(mtx);
        handles[h] = OpenInterface{InterfaceNumberOfPath(path), 0};
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

}  // namespace brisk::capture
