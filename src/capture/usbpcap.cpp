#include "capture/usbpcap.h"

#include <algorithm>

#include "capture/byte_order.h"

namespace brisk::capture {
namespace {

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, static_cast<uint16_t>(v));
    Put16(out, static_cast<uint16_t>(v >> 16));
}

// USBPcap's header is little-endian whatever the machine.
uint16_t Get16(const uint8_t* p) {
    return Load16(p, false);
}

uint32_t Get32(const uint8_t* p) {
    return Load32(p, false);
}

}  // namespace

void EncodeSetup(const SetupPacket& s, uint8_t out[8]) {
    out[0] = s.requestType;
    out[1] = s.request;
    out[2] = static_cast<uint8_t>(s.value);
    out[3] = static_cast<uint8_t>(s.value >> 8);
    out[4] = static_cast<uint8_t>(s.index);
    out[5] = static_cast<uint8_t>(s.index >> 8);
    out[6] = static_cast<uint8_t>(s.length);
    out[7] = static_cast<uint8_t>(s.length >> 8);
}

SetupPacket DecodeSetup(const uint8_t in[8]) {
    return SetupPacket{in[0], in[1], Get16(in + 2), Get16(in + 4), Get16(in + 6)};
}

SetupPacket SetFeatureSetup(uint8_t reportId, uint16_t interfaceNumber, uint16_t length) {
    // Host to device, class, interface; SET_REPORT; report type 3 (feature).
    return SetupPacket{0x21, 0x09, static_cast<uint16_t>(0x0300 | reportId), interfaceNumber,
                       length};
}

SetupPacket GetFeatureSetup(uint8_t reportId, uint16_t interfaceNumber, uint16_t length) {
    // Device to host, class, interface; GET_REPORT; report type 3 (feature).
    return SetupPacket{0xA1, 0x01, static_cast<uint16_t>(0x0300 | reportId), interfaceNumber,
                       length};
}

SetupPacket GetDeviceDescriptorSetup() {
    return SetupPacket{0x80, 0x06, 0x0100, 0, 18};
}

SetupPacket GetStringDescriptorSetup(uint8_t index) {
    return SetupPacket{0x80, 0x06, static_cast<uint16_t>(0x0300 | index), 0x0409, 255};
}

std::vector<uint8_t> DeviceDescriptor(uint16_t vendorId, uint16_t productId, uint16_t release,
                                      bool hasSerial) {
    std::vector<uint8_t> d{18, 1, 0x00, 0x02, 0, 0, 0, 64};
    Put16(d, vendorId);
    Put16(d, productId);
    Put16(d, release);
    d.push_back(0);  // iManufacturer
    d.push_back(0);  // iProduct
    d.push_back(hasSerial ? 1 : 0);
    d.push_back(1);  // bNumConfigurations
    return d;
}

std::vector<uint8_t> HidConfigurationDescriptor(uint8_t lastInterface) {
    const unsigned count = std::min<unsigned>(lastInterface, 14) + 1u;
    const auto total = static_cast<uint16_t>(9 + count * (9 + 9 + 7));
    std::vector<uint8_t> d{9, 2};
    Put16(d, total);
    const uint8_t rest[] = {static_cast<uint8_t>(count), 1, 0, 0x80, 50};
    d.insert(d.end(), rest, rest + sizeof rest);
    for (unsigned i = 0; i < count; ++i) {
        const uint8_t iface[] = {9, 4, static_cast<uint8_t>(i), 0, 1, 3, 0, 0, 0};
        const uint8_t hid[] = {9, 0x21, 0x11, 0x01, 0, 1, 0x22, 0, 0};
        const uint8_t endpoint[] = {7, 5, static_cast<uint8_t>(kEndpointIn | (i + 1)), 3, 64, 0, 1};
        d.insert(d.end(), iface, iface + sizeof iface);
        d.insert(d.end(), hid, hid + sizeof hid);
        d.insert(d.end(), endpoint, endpoint + sizeof endpoint);
    }
    return d;
}

SetupPacket GetConfigurationDescriptorSetup(uint16_t length) {
    return SetupPacket{0x80, 0x06, 0x0200, 0, length};
}

std::vector<uint8_t> StringDescriptor(const std::u16string& text) {
    const size_t n = text.size() < 126 ? text.size() : 126;
    std::vector<uint8_t> d{static_cast<uint8_t>(2 + 2 * n), 3};
    for (size_t i = 0; i < n; ++i) {
        Put16(d, static_cast<uint16_t>(text[i]));
    }
    return d;
}

void AppendFileHeader(std::vector<uint8_t>& out) {
    Put32(out, kPcapMagicMicros);
    Put16(out, 2);  // version 2.4
    Put16(out, 4);
    Put32(out, 0);  // time zone: UTC
    Put32(out, 0);  // accuracy
    Put32(out, kRecordingSnapLength);
    Put32(out, kLinkTypeUsbPcap);
}

void AppendPacket(std::vector<uint8_t>& out, uint64_t micros, const UsbPcapHeader& h,
                  const uint8_t* data, uint32_t captured, uint32_t length) {
    const bool control = h.transfer == kTransferControl;
    const uint16_t headerLen = control ? kUsbPcapControlHeaderBytes : kUsbPcapHeaderBytes;
    Put32(out, static_cast<uint32_t>(micros / 1000000));
    Put32(out, static_cast<uint32_t>(micros % 1000000));
    Put32(out, headerLen + captured);
    Put32(out, headerLen + length);
    Put16(out, headerLen);
    Put32(out, static_cast<uint32_t>(h.irpId));
    Put32(out, static_cast<uint32_t>(h.irpId >> 32));
    Put32(out, h.status);
    Put16(out, h.function);
    out.push_back(h.info);
    Put16(out, h.bus);
    Put16(out, h.device);
    out.push_back(h.endpoint);
    out.push_back(h.transfer);
    Put32(out, length);
    if (control) {
        out.push_back(h.stage);
    }
    if (captured > 0) {
        out.insert(out.end(), data, data + captured);
    }
}

uint32_t CapturedLength(const uint8_t* data, uint32_t length) {
    while (length > 0 && data[length - 1] == 0) {
        --length;
    }
    return length;
}

bool ParseUsbPcapRecord(const uint8_t* p, size_t inclLen, UsbPcapRecord& out, std::string& error) {
    if (inclLen < kUsbPcapHeaderBytes) {
        error = "record of " + std::to_string(inclLen) + " bytes, shorter than a USBPcap header";
        return false;
    }
    UsbPcapRecord pk;
    const uint16_t headerLen = Get16(p);
    UsbPcapHeader& h = pk.header;
    h.irpId = static_cast<uint64_t>(Get32(p + 2)) | static_cast<uint64_t>(Get32(p + 6)) << 32;
    h.status = Get32(p + 10);
    h.function = Get16(p + 14);
    h.info = p[16];
    h.bus = Get16(p + 17);
    h.device = Get16(p + 19);
    h.endpoint = p[21];
    h.transfer = p[22];
    const uint32_t dataLength = Get32(p + 23);
    const bool control = h.transfer == kTransferControl;
    const uint16_t minHeader = control ? kUsbPcapControlHeaderBytes : kUsbPcapHeaderBytes;
    if (headerLen < minHeader || headerLen > inclLen) {
        error = "USBPcap header length " + std::to_string(headerLen) + " in a record of " +
                std::to_string(inclLen) + " bytes";
        return false;
    }
    if (control) {
        h.stage = p[27];
    }
    pk.data = p + headerLen;
    pk.captured = static_cast<uint32_t>(inclLen - headerLen);
    pk.length = dataLength;
    if (pk.captured > pk.length) {
        error = "more data in the record than its transfer carried";
        return false;
    }
    if (control && h.stage == kStageSetup && pk.captured >= 8) {
        pk.hasSetup = true;
        pk.setup = DecodeSetup(pk.data);
        pk.data += 8;
        pk.captured -= 8;
        pk.length -= 8;
    }
    out = pk;
    return true;
}

}  // namespace brisk::capture
