#include "capture/capture_recorder.h"

#include <algorithm>
#include <cstring>

#include "capture/usbpcap.h"
#include "base/side_file.h"

namespace brisk::capture {
namespace {

// How often the writer takes the queue: often enough that a crash loses
// little, seldom enough that a batch is one write of a few kilobytes.
constexpr auto kWriterPeriod = std::chrono::milliseconds(50);

}  // namespace

CaptureRecorder::CaptureRecorder(size_t capacity) : capacity(std::max<size_t>(capacity, 1)) {}

CaptureRecorder::~CaptureRecorder() {
    Stop();
}

bool CaptureRecorder::Create(const std::string& where, std::string& error) {
    file = SideFile::Create("--record", where, error);
    if (!file) {
        return false;
    }
    pending.reserve(capacity);
    return true;
}

void CaptureRecorder::Start() {
    if (!file || writer.joinable()) {
        return;
    }
    steadyOrigin = std::chrono::steady_clock::now();
    wallOriginMicros =
        static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count());
    {
        std::lock_guard<std::mutex> lock(mtx);
        recording = true;
        stopRequested = false;
    }
    writer = std::thread(&CaptureRecorder::WriterLoop, this);
}

void CaptureRecorder::Stop() {
    {
        std::lock_guard<std::mutex> lock(mtx);
        stopRequested = true;
    }
    wake.notify_all();
    if (writer.joinable()) {
        writer.join();
    }
    // Not started: nothing was written, only the empty file is left.
    file.reset();
}

bool CaptureRecorder::Recording() const {
    std::lock_guard<std::mutex> lock(mtx);
    return recording;
}

CaptureRecorder::Entry* CaptureRecorder::Slot(std::unique_lock<std::mutex>& lock, Kind kind,
                                              uint8_t address) {
    const auto now = std::chrono::steady_clock::now();
    lock = std::unique_lock<std::mutex>(mtx);
    if (!recording || overflowed) {
        return nullptr;
    }
    if (pending.size() >= capacity) {
        overflowed = true;  // the writer says so and stops; this thread goes on at once
        return nullptr;
    }
    Entry& e = pending.emplace_back();
    e.at = now;
    e.kind = kind;
    e.address = address;
    return &e;
}

void CaptureRecorder::DeviceShown(uint8_t address, uint8_t interfaceNumber, uint16_t vendorId,
                                  uint16_t productId, uint16_t release,
                                  const std::u16string& serial) {
    std::unique_lock<std::mutex> lock;
    Entry* e = Slot(lock, Kind::kDeviceShown, address);
    if (e == nullptr) {
        return;
    }
    e->interfaceNumber = interfaceNumber;
    e->vendorId = vendorId;
    e->productId = productId;
    e->release = release;
    const size_t units = std::min(serial.size(), kMaxEntryBytes / 2);
    for (size_t i = 0; i < units; ++i) {
        e->bytes[2 * i] = static_cast<uint8_t>(serial[i]);
        e->bytes[2 * i + 1] = static_cast<uint8_t>(serial[i] >> 8);
    }
    e->length = static_cast<uint16_t>(2 * units);
}

void CaptureRecorder::InputReport(uint8_t address, uint8_t interfaceNumber, const uint8_t* data,
                                  size_t length) {
    std::unique_lock<std::mutex> lock;
    Entry* e = Slot(lock, Kind::kInputReport, address);
    if (e == nullptr) {
        return;
    }
    e->interfaceNumber = interfaceNumber;
    e->length = static_cast<uint16_t>(std::min(length, kMaxEntryBytes));
    std::memcpy(e->bytes, data, e->length);
}

void CaptureRecorder::ReadFailed(uint8_t address, uint8_t interfaceNumber) {
    std::unique_lock<std::mutex> lock;
    Entry* e = Slot(lock, Kind::kReadFailed, address);
    if (e != nullptr) {
        e->interfaceNumber = interfaceNumber;
        e->ok = false;
    }
}

void CaptureRecorder::FeatureSent(uint8_t address, uint8_t interfaceNumber, const uint8_t* data,
                                  size_t length, bool accepted) {
    std::unique_lock<std::mutex> lock;
    Entry* e = Slot(lock, Kind::kFeatureSent, address);
    if (e == nullptr) {
        return;
    }
    e->interfaceNumber = interfaceNumber;
    e->ok = accepted;
    e->length = static_cast<uint16_t>(std::min(length, kMaxEntryBytes));
    std::memcpy(e->bytes, data, e->length);
}

void CaptureRecorder::FeatureRead(uint8_t address, uint8_t interfaceNumber, uint8_t reportId,
                                  uint16_t asked, const uint8_t* data, size_t length,
                                  bool answered) {
    std::unique_lock<std::mutex> lock;
    Entry* e = Slot(lock, Kind::kFeatureRead, address);
    if (e == nullptr) {
        return;
    }
    e->interfaceNumber = interfaceNumber;
    e->ok = answered;
    e->reportId = reportId;
    e->asked = asked;
    e->length = answered ? static_cast<uint16_t>(std::min(length, kMaxEntryBytes)) : 0;
    std::memcpy(e->bytes, data, e->length);
}

uint64_t CaptureRecorder::Micros(std::chrono::steady_clock::time_point at) const {
    const auto since = std::chrono::duration_cast<std::chrono::microseconds>(at - steadyOrigin);
    return wallOriginMicros + static_cast<uint64_t>(std::max<int64_t>(since.count(), 0));
}

// One entry as the packets a USB analyser would show for it: completions of
// interrupt IN transfers for reports and losses; a setup stage and its
// completion for each control transfer (no separate status stage packet:
// USBPcap's completion carries the outcome).
void CaptureRecorder::Encode(const Entry& e, std::vector<uint8_t>& out) {
    const uint64_t micros = Micros(e.at);
    UsbPcapHeader h;
    h.device = e.address;
    auto control = [&](uint16_t function, uint8_t endpoint, const SetupPacket& setup,
                       const uint8_t* data, uint32_t length, bool outgoing, uint32_t status) {
        h.irpId = nextIrp++;
        h.function = function;
        h.transfer = kTransferControl;
        h.endpoint = endpoint;
        // Setup stage: the setup packet, followed by the data of an OUT transfer.
        uint8_t buf[8 + kMaxEntryBytes];
        EncodeSetup(setup, buf);
        const uint32_t outBytes = outgoing ? length : 0;
        std::memcpy(buf + 8, data, outBytes);
        h.info = 0;
        h.stage = kStageSetup;
        h.status = 0;
        AppendPacket(out, micros, h, buf, 8 + outBytes, 8 + outBytes);
        h.info = kInfoDeviceToHost;
        h.stage = kStageComplete;
        h.status = status;
        const uint32_t inBytes = outgoing ? 0 : length;
        AppendPacket(out, micros, h, data, inBytes, inBytes);
    };
    switch (e.kind) {
        case Kind::kDeviceShown: {
            const bool hasSerial = e.length > 0;
            const std::vector<uint8_t> device =
                DeviceDescriptor(e.vendorId, e.productId, e.release, hasSerial);
            control(kUrbGetDescriptorFromDevice, kEndpointIn, GetDeviceDescriptorSetup(),
                    device.data(), static_cast<uint32_t>(device.size()), false, 0);
            const std::vector<uint8_t> config = HidConfigurationDescriptor(e.interfaceNumber);
            const auto configBytes = static_cast<uint16_t>(config.size());
            control(kUrbGetDescriptorFromDevice, kEndpointIn,
                    GetConfigurationDescriptorSetup(configBytes), config.data(), configBytes, false,
                    0);
            if (hasSerial) {
                std::u16string serial;
                for (size_t i = 0; i + 1 < e.length; i += 2) {
                    serial.push_back(static_cast<char16_t>(e.bytes[i] | e.bytes[i + 1] << 8));
                }
                const std::vector<uint8_t> text = StringDescriptor(serial);
                control(kUrbGetDescriptorFromDevice, kEndpointIn, GetStringDescriptorSetup(1),
                        text.data(), static_cast<uint32_t>(text.size()), false, 0);
            }
            break;
        }
        case Kind::kInputReport:
        case Kind::kReadFailed:
            h.irpId = nextIrp++;
            h.function = kUrbInterruptTransfer;
            h.info = kInfoDeviceToHost;
            h.endpoint = static_cast<uint8_t>(kEndpointIn | (e.interfaceNumber + 1));
            h.transfer = kTransferInterrupt;
            h.status = e.ok ? 0 : kUsbdStatusDeviceGone;
            // Every byte as read, trailing zeros too: a report's last byte may be a
            // zero that means something.
            AppendPacket(out, micros, h, e.bytes, e.length, e.length);
            break;
        case Kind::kFeatureSent:
            control(kUrbClassInterface, 0x00,
                    SetFeatureSetup(e.length > 0 ? e.bytes[0] : 0, e.interfaceNumber, e.length),
                    e.bytes, e.length, true, e.ok ? 0 : kUsbdStatusStall);
            break;
        case Kind::kFeatureRead:
            control(kUrbClassInterface, kEndpointIn,
                    GetFeatureSetup(e.reportId, e.interfaceNumber, e.asked), e.bytes, e.length,
                    false, e.ok ? 0 : kUsbdStatusStall);
            break;
    }
}

void CaptureRecorder::WriterLoop() {
    std::vector<Entry> draining;
    draining.reserve(capacity);
    std::vector<uint8_t> bytes;
    AppendFileHeader(bytes);
    bool more = true;
    while (more) {
        bool overflow = false;
        {
            std::unique_lock<std::mutex> lock(mtx);
            wake.wait_for(lock, kWriterPeriod, [this] { return stopRequested; });
            pending.swap(draining);
            overflow = overflowed;
            more = !stopRequested && !overflow;
        }
        for (const Entry& e : draining) {
            Encode(e, bytes);
        }
        draining.clear();
        std::string reason;
        const bool written =
            bytes.empty() || file->WriteFlushed(bytes.data(), bytes.size(), reason);
        bytes.clear();
        if (!written) {
            file->Stop(reason);
            break;
        }
        if (overflow) {
            file->Stop("the disk cannot keep up (" + std::to_string(capacity) +
                       " transfers waiting)");
        }
    }
    {
        std::lock_guard<std::mutex> lock(mtx);
        recording = false;
        pending.clear();
    }
    file.reset();
}

}  // namespace brisk::capture
