// The link-layer headers a USB capture wraps each packet in: USBPcap's
// (Windows) and Linux usbmon's, decoded into one UsbPacket.
#pragma once

#include <cstdint>
#include <string>

#include "capture/capture_format.h"
#include "capture/packet_source.h"

namespace brisk::capture {

constexpr uint32_t kUsbmonHeaderBytes = 48;
constexpr uint32_t kUsbmonMmappedHeaderBytes = 64;

bool IsUsbLinkType(uint32_t linkType);
// "usbmon (220)", "USBPcap (249)".
std::string LinkTypeName(uint32_t linkType);
// Why a capture of `linkType` is not one we read.
std::string NotUsbReason(uint32_t linkType);

// Decodes one record's `size` bytes of `linkType` (a USB one) into `out`,
// all but its time, which the container holds. `bigEndian`: the byte order
// of the machine that wrote the capture, which usbmon's header is in.
// False with `error` for a malformed header.
bool DecodeUsbRecord(uint32_t linkType, bool bigEndian, const uint8_t* data, uint32_t size,
                     UsbPacket& out, std::string& error);

}  // namespace brisk::capture
