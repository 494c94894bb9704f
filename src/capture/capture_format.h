// The numbers that say what a capture file is and how large its parts may
// be, for the readers (packet source, containers, link-layer headers) and
// the writer of brisk's recordings alike.
#pragma once

#include <cstdint>

namespace brisk::capture {

// A file's first bytes. Classic pcap's magic also gives the writer's byte
// order (it reads 0xD4C3B2A1 in the other one); pcapng's section header
// type reads the same in both, its byte-order magic tells them apart.
constexpr uint32_t kPcapMagicMicros = 0xA1B2C3D4;  // microsecond time stamps
constexpr uint32_t kPcapMagicNanos = 0xA1B23C4D;   // nanosecond time stamps
constexpr uint32_t kPcapngSectionHeader = 0x0A0D0D0A;
constexpr uint32_t kPcapngByteOrderMagic = 0x1A2B3C4D;
constexpr uint8_t kGzipMagic[2] = {0x1F, 0x8B};

// Classic pcap's fixed parts.
constexpr uint32_t kPcapFileHeaderBytes = 24;
constexpr uint32_t kPcapRecordHeaderBytes = 16;

// The link types of USB captures.
constexpr uint32_t kLinkTypeUsbLinux = 189;         // Linux usbmon, 48-byte header
constexpr uint32_t kLinkTypeUsbLinuxMmapped = 220;  // Linux usbmon, 64-byte header
constexpr uint32_t kLinkTypeUsbPcap = 249;          // USBPcap (Windows; brisk's recordings)

// The largest record (one USB packet with its link-layer header) read from
// any capture. libpcap, which writes the captures of USBPcap, usbmon and
// Wireshark, never writes one larger: 1 MiB is its largest snap length for
// USBPcap and 256 KiB for every other link type. A larger one is garbage,
// and refusing it bounds the one buffer the reader keeps.
constexpr uint32_t kMaxCaptureRecordBytes = 1u << 20;
// A pcapng packet block: the record, its 28 bytes of fields and both
// lengths, and a few options.
constexpr uint32_t kMaxPcapngBlockBytes = kMaxCaptureRecordBytes + 64;

// The snap length brisk's recordings declare: more than any HID transfer
// they hold (kMaxEntryBytes, capture_recorder.h), well below the readers'
// limit.
constexpr uint32_t kRecordingSnapLength = 65535;

}  // namespace brisk::capture
