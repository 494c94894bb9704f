// Captures as a stream of USB packets. A capture file is a container (classic
// pcap or pcapng, either of them plain or gzip-compressed) around packets
// with a link-layer header (USBPcap, link type 249, or Linux usbmon, link
// types 189 and 220). Each container and each header is its own small reader
// behind this one interface, and every one of them reads the file as a
// stream: memory stays flat however long the capture.
//
// Everything read from a file is untrusted: every field is checked against
// the bytes actually there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "capture/usbpcap.h"

namespace brisk::capture {

// USB transfer types, numbered as both USBPcap and usbmon number them.
enum class UsbTransfer : uint8_t {
    kIsochronous = 0,
    kInterrupt = 1,
    kControl = 2,
    kBulk = 3,
    kOther = 0xFF,
};

// How a transfer ended, whatever the capture's own status codes.
enum class UsbOutcome : uint8_t {
    kPending,    // a submission (usbmon 'S', USBPcap host-to-device): no outcome yet
    kOk,         // completed
    kCancelled,  // the host took the request back (usbmon -ENOENT/-ECONNRESET,
                 // USBD_STATUS_CANCELED): not the device's doing
    kStalled,    // the device refused it (usbmon -EPIPE, USBD_STATUS_STALL_PID)
    kFailed,     // anything else: the device left, a bus error, ...
};

// One packet of a capture, in one form for every format.
struct UsbPacket {
    uint64_t micros = 0;  // capture time, microseconds since the Unix epoch
    uint16_t bus = 0;
    uint16_t device = 0;   // USB address
    uint8_t endpoint = 0;  // with the direction bit: 0x81 is interrupt IN 1
    UsbTransfer transfer = UsbTransfer::kOther;
    UsbOutcome outcome = UsbOutcome::kPending;
    bool completion = false;  // the transfer's end (usbmon 'C'/'E', USBPcap completion)
    uint32_t rawStatus = 0;   // the capture's own status code, for messages
    bool hasSetup = false;    // a control transfer's setup stage with its 8 bytes
    SetupPacket setup;
    const uint8_t* data = nullptr;  // the transfer's data; valid until the next Read
    uint32_t captured = 0;          // data bytes present in the file
    uint32_t length = 0;            // data bytes the transfer carried (>= captured)
};

enum class SourceStatus {
    kPacket,     // `out` holds the next packet
    kEnd,        // the capture ended cleanly
    kTruncated,  // the file ends inside a packet (or a compressed stream is cut short)
    kBad,        // malformed: `error` says why; nothing more can be read
};

class PacketSource {
  public:
    virtual ~PacketSource() = default;

    // The next packet. Packets of link types other than USB (another
    // interface of a pcapng file) are passed over; packets that are USB but
    // whose header is malformed are kBad.
    virtual SourceStatus Read(UsbPacket& out, std::string& error) = 0;

    // Whole packets handed out so far.
    virtual uint64_t PacketsRead() const = 0;

    // What the file was found to be, for messages: "pcapng, gzip, usbmon (220)".
    virtual std::string Description() const = 0;
};

// Opens a capture file and recognises its container, compression and link
// type by content, never by name. Null with `error` (the reason only, without
// the file name) when it cannot be opened or is not a USB capture we read.
std::unique_ptr<PacketSource> OpenPacketSource(const std::string& path, std::string& error);

// The same over bytes in memory, which the caller keeps alive as long as the
// source: for the tests and the fuzzer.
std::unique_ptr<PacketSource> OpenPacketSource(const uint8_t* data, size_t size,
                                               std::string& error);

}  // namespace brisk::capture
