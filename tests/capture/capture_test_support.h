// Small captures written packet by packet, as brisk's recorder lays them out,
// for the reader's tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/usbpcap.h"

namespace brisk::capture::test {

class CaptureBuilder {
  public:
    CaptureBuilder() { AppendFileHeader(bytes); }

    // The descriptors brisk records when a device shows up.
    CaptureBuilder& Device(uint64_t micros, uint16_t address, uint16_t vendor, uint16_t product,
                           const std::u16string& serial = u"") {
        Control(micros, address, GetDeviceDescriptorSetup(),
                DeviceDescriptor(vendor, product, 0x0100, !serial.empty()));
        if (!serial.empty()) {
            Control(micros, address, GetStringDescriptorSetup(1), StringDescriptor(serial));
        }
        return *this;
    }
    CaptureBuilder& Report(uint64_t micros, uint16_t address, std::vector<uint8_t> data,
                           uint32_t status = 0, uint8_t endpoint = 0x81) {
        UsbPcapHeader h;
        h.info = kInfoDeviceToHost;
        h.device = address;
        h.endpoint = endpoint;
        h.status = status;
        const auto n = static_cast<uint32_t>(data.size());
        AppendPacket(bytes, kBase + micros, h, data.data(), CapturedLength(data.data(), n), n);
        return *this;
    }
    CaptureBuilder& Lost(uint64_t micros, uint16_t address) {
        return Report(micros, address, {}, kUsbdStatusDeviceGone);
    }
    CaptureBuilder& Control(uint64_t micros, uint16_t address, const SetupPacket& setup,
                            const std::vector<uint8_t>& answer, uint32_t status = 0) {
        UsbPcapHeader h;
        h.transfer = kTransferControl;
        h.device = address;
        h.endpoint = kEndpointIn;
        uint8_t s[8];
        EncodeSetup(setup, s);
        AppendPacket(bytes, kBase + micros, h, s, 8, 8);
        h.info = kInfoDeviceToHost;
        h.stage = kStageComplete;
        h.status = status;
        const auto n = static_cast<uint32_t>(answer.size());
        AppendPacket(bytes, kBase + micros, h, answer.data(), n, n);
        return *this;
    }
    // A completion with no request before it (the capture started late).
    CaptureBuilder& Orphan(uint64_t micros, uint16_t address, const std::vector<uint8_t>& answer) {
        UsbPcapHeader h;
        h.transfer = kTransferControl;
        h.device = address;
        h.endpoint = kEndpointIn;
        h.info = kInfoDeviceToHost;
        h.stage = kStageComplete;
        const auto n = static_cast<uint32_t>(answer.size());
        AppendPacket(bytes, kBase + micros, h, answer.data(), n, n);
        return *this;
    }

    std::vector<uint8_t> bytes;
    static constexpr uint64_t kBase = 1700000000ull * 1000000;  // a plausible wall clock
};

}  // namespace brisk::capture::test
