#include "capture/usbpcap.h"

#include <algorithm>
#include <cstdio>

namespace brisk::capture {
namespace {

constexpr uint32_t kPcapMagicNanos = 0xA1B23C4D;
constexpr uint32_t kPcapngMagic = 0x0A0D0D0A;
// No USB transfer comes near this; a larger record is garbage, not data.
constexpr uint32_t kMaxRecordBytes = 1u << 24;

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, static_cast<uint16_t>(v));
    Put16(out, static_cast<uint16_t>(v >> 16));
}

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(Get16(p)) | static_cast<uint32_t>(Get16(p + 2)) << 16;
}

uint32_t Swap32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}

std::string Hex32(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(v));
    return text;
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
    Put32(out, kPcapMagic);
    Put16(out, 2);  // version 2.4
    Put16(out, 4);
    Put32(out, 0);  // time zone: UTC
    Put32(out, 0);  // accuracy
    Put32(out, kSnapLength);
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

bool ParseFileHeader(const uint8_t* data, size_t size, FileHeader& out, std::string& error) {
    if (size < 4) {
        error = "not a pcap file (too short)";
        return false;
    }
    const uint32_t magic = Get32(data);
    if (magic == kPcapngMagic) {
        error = "a pcapng file; save it as classic pcap (Wireshark: File > Save As, pcap)";
        return false;
    }
    FileHeader h;
    if (magic == kPcapMagic || magic == kPcapMagicNanos) {
        h.nanoseconds = magic == kPcapMagicNanos;
    } else if (Swap32(magic) == kPcapMagic || Swap32(magic) == kPcapMagicNanos) {
        h.swapped = true;
        h.nanoseconds = Swap32(magic) == kPcapMagicNanos;
    } else {
        error = "not a pcap file (magic " + Hex32(magic) + ")";
        return false;
    }
    if (size < kPcapFileHeaderBytes) {
        error = "pcap file header cut short";
        return false;
    }
    auto field = [&](size_t offset) {
        const uint32_t v = Get32(data + offset);
        return h.swapped ? Swap32(v) : v;
    };
    h.linkType = field(20) & 0x0FFFFFFF;  // the top bits may carry FCS information
    if (h.linkType != kLinkTypeUsbPcap) {
        error = "link type " + std::to_string(h.linkType) + ", not USBPcap (249)";
        return false;
    }
    out = h;
    return true;
}

ReadStatus ParseUsbPcapRecord(const uint8_t* p, size_t inclLen, Packet& out, std::string& error) {
    if (inclLen < kUsbPcapHeaderBytes) {
        error = "record of " + std::to_string(inclLen) + " bytes, shorter than a USBPcap header";
        return ReadStatus::kBad;
    }
    Packet pk;
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
        return ReadStatus::kBad;
    }
    if (control) {
        h.stage = p[27];
    }
    pk.data = p + headerLen;
    pk.captured = static_cast<uint32_t>(inclLen - headerLen);
    pk.length = dataLength;
    if (pk.captured > pk.length) {
        error = "more data in the record than its transfer carried";
        return ReadStatus::kBad;
    }
    if (control && h.stage == kStageSetup && pk.captured >= 8) {
        pk.hasSetup = true;
        pk.setup = DecodeSetup(pk.data);
        pk.data += 8;
        pk.captured -= 8;
        pk.length -= 8;
    }
    out = pk;
    return ReadStatus::kOk;
}

ReadStatus ParsePacket(const FileHeader& file, const uint8_t* data, size_t size, Packet& out,
                       size_t& consumed, std::string& error) {
    if (size == 0) {
        return ReadStatus::kEnd;
    }
    if (size < kPcapRecordHeaderBytes) {
        return ReadStatus::kTruncated;
    }
    auto field = [&](size_t offset) {
        const uint32_t v = Get32(data + offset);
        return file.swapped ? Swap32(v) : v;
    };
    const uint32_t seconds = field(0), fraction = field(4);
    const uint32_t inclLen = field(8), origLen = field(12);
    if (inclLen > kMaxRecordBytes || origLen > kMaxRecordBytes || inclLen > origLen) {
        error = "record lengths " + std::to_string(inclLen) + "/" + std::to_string(origLen) +
                " make no sense";
        return ReadStatus::kBad;
    }
    if (size - kPcapRecordHeaderBytes < inclLen) {
        return ReadStatus::kTruncated;
    }
    Packet pk;
    if (ParseUsbPcapRecord(data + kPcapRecordHeaderBytes, inclLen, pk, error) != ReadStatus::kOk) {
        return ReadStatus::kBad;
    }
    pk.micros =
        static_cast<uint64_t>(seconds) * 1000000 + (file.nanoseconds ? fraction / 1000 : fraction);
    out = pk;
    consumed = kPcapRecordHeaderBytes + inclLen;
    return ReadStatus::kOk;
}

}  // namespace brisk::capture
