// The capture file format: classic pcap (microsecond time stamps) with link
// type 249, USBPcap's packet header. Pure encoding and decoding, so that the
// recorder's writer thread, the replay and the fuzzer share one reading of
// the bytes. Everything read from a file is untrusted: every field is
// checked against the bytes actually there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace brisk::capture {

constexpr uint32_t kPcapMagic = 0xA1B2C3D4;  // microsecond time stamps
constexpr uint32_t kPcapFileHeaderBytes = 24;
constexpr uint32_t kPcapRecordHeaderBytes = 16;
constexpr uint32_t kLinkTypeUsbPcap = 249;
constexpr uint32_t kSnapLength = 65535;

// USBPcap's packed header: 27 bytes, and one more (the stage) for control
// transfers.
constexpr uint16_t kUsbPcapHeaderBytes = 27;
constexpr uint16_t kUsbPcapControlHeaderBytes = 28;

// USBPcap's `transfer` field.
constexpr uint8_t kTransferInterrupt = 1;
constexpr uint8_t kTransferControl = 2;
// Control transfer stages.
constexpr uint8_t kStageSetup = 0;
constexpr uint8_t kStageComplete = 3;
// `info` bit 0: the packet goes from the device to the host.
constexpr uint8_t kInfoDeviceToHost = 0x01;
constexpr uint8_t kEndpointIn = 0x80;

// URB functions we write.
constexpr uint16_t kUrbControlTransfer = 0x0008;
constexpr uint16_t kUrbInterruptTransfer = 0x0009;
constexpr uint16_t kUrbGetDescriptorFromDevice = 0x000B;
constexpr uint16_t kUrbClassInterface = 0x001B;

// USBD status of a transfer to a device that has left the bus.
constexpr uint32_t kUsbdStatusDeviceGone = 0xC0007000;
// ... and of a request the device refused (a stalled control transfer).
constexpr uint32_t kUsbdStatusStall = 0xC0000004;

// The fields of one packet, without its data.
struct UsbPcapHeader {
    uint64_t irpId = 0;
    uint32_t status = 0;
    uint16_t function = 0;
    uint8_t info = 0;
    uint16_t bus = 1;
    uint16_t device = 0;
    uint8_t endpoint = 0;
    uint8_t transfer = kTransferInterrupt;
    uint8_t stage = 0;  // control transfers only
};

// An 8-byte USB setup packet.
struct SetupPacket {
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;
};
void EncodeSetup(const SetupPacket& s, uint8_t out[8]);
SetupPacket DecodeSetup(const uint8_t in[8]);

// The setup packets the recording writes: HID class SET_REPORT of a feature
// report, and standard GET_DESCRIPTOR requests.
SetupPacket SetFeatureSetup(uint8_t reportId, uint16_t interfaceNumber, uint16_t length);
SetupPacket GetDeviceDescriptorSetup();
SetupPacket GetStringDescriptorSetup(uint8_t index);

// An 18-byte device descriptor, iSerialNumber 1 when `hasSerial`.
std::vector<uint8_t> DeviceDescriptor(uint16_t vendorId, uint16_t productId, uint16_t release,
                                      bool hasSerial);
// A configuration descriptor with HID interfaces 0 to `lastInterface`, each
// with one interrupt IN endpoint (0x81 for interface 0, 0x82 for 1, ...):
// what tells an analyser to read the reports and SET_REPORTs as HID.
std::vector<uint8_t> HidConfigurationDescriptor(uint8_t lastInterface);
SetupPacket GetConfigurationDescriptorSetup(uint16_t length);
// A string descriptor of UTF-16 code units, cut at 126 of them (bLength is one byte).
std::vector<uint8_t> StringDescriptor(const std::u16string& text);

// Appends the 24-byte file header.
void AppendFileHeader(std::vector<uint8_t>& out);

// Appends one record: pcap record header, USBPcap header, and `captured` of
// the packet's `length` data bytes (captured < length: the rest was left out
// of the file, as by a snap length). `micros` is the time since the epoch.
void AppendPacket(std::vector<uint8_t>& out, uint64_t micros, const UsbPcapHeader& h,
                  const uint8_t* data, uint32_t captured, uint32_t length);

// How many of `length` bytes are left once trailing zero bytes are cut, as a
// capture made with a snap length may hold them. brisk's own recordings keep
// every byte; the tests use this to write captures that cut them, which the
// replay must pad back.
uint32_t CapturedLength(const uint8_t* data, uint32_t length);

// ---- reading ------------------------------------------------------------

enum class ReadStatus {
    kOk,         // one whole record
    kEnd,        // no bytes left
    kTruncated,  // the file ends inside a record
    kBad,        // a record that cannot be (error says why)
};

struct FileHeader {
    bool swapped = false;  // written on a machine of the other byte order
    bool nanoseconds = false;
    uint32_t linkType = 0;
};

// False with `error` for anything but a classic pcap header of link type 249.
bool ParseFileHeader(const uint8_t* data, size_t size, FileHeader& out, std::string& error);

struct Packet {
    uint64_t micros = 0;
    UsbPcapHeader header;
    bool hasSetup = false;  // a control setup stage with its 8 setup bytes
    SetupPacket setup;
    const uint8_t* data = nullptr;  // the data after the header (and setup), in the file
    uint32_t captured = 0;          // data bytes present in the file
    uint32_t length = 0;            // data bytes the transfer carried
};

// Decodes the `size` bytes of one record's data: the USBPcap header, and the
// setup packet and data after it. `micros` is left alone: the container
// holds the time. kOk or kBad.
ReadStatus ParseUsbPcapRecord(const uint8_t* data, size_t size, Packet& out, std::string& error);

// Reads the record at `data`, `size` bytes left; `consumed` is its size in
// the file. USBPcap headers longer than ours are skipped over; shorter ones,
// and lengths that disagree with the record, are kBad.
ReadStatus ParsePacket(const FileHeader& file, const uint8_t* data, size_t size, Packet& out,
                       size_t& consumed, std::string& error);

}  // namespace brisk::capture
