// USBPcap's packet header (link type 249) and the classic pcap file brisk's
// recordings are: written by the recorder's writer thread, and the header
// decoded for the packet source (usb_link_headers.cpp), so that both share
// one reading of the bytes. Pure encoding and decoding; everything read is
// untrusted: every field is checked against the bytes actually there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/capture_format.h"

namespace brisk::capture {

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
// ... of a request the device refused (a stalled control transfer).
constexpr uint32_t kUsbdStatusStall = 0xC0000004;
// ... and of one the host took back: not the device's doing.
constexpr uint32_t kUsbdStatusCanceled = 0xC0010000;

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
SetupPacket GetFeatureSetup(uint8_t reportId, uint16_t interfaceNumber, uint16_t length);
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

// One record's USBPcap header, and the setup packet and data after it.
struct UsbPcapRecord {
    UsbPcapHeader header;
    bool hasSetup = false;  // a control setup stage with its 8 setup bytes
    SetupPacket setup;
    const uint8_t* data = nullptr;  // the data after the header (and setup), in the record
    uint32_t captured = 0;          // data bytes present in the file
    uint32_t length = 0;            // data bytes the transfer carried
};

// Decodes the `size` bytes of one record's data (the container holds its
// time). Headers longer than ours are skipped over; shorter ones, and
// lengths that disagree with the record, are false with `error`.
bool ParseUsbPcapRecord(const uint8_t* data, size_t size, UsbPcapRecord& out, std::string& error);

}  // namespace brisk::capture
