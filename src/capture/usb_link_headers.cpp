#include "capture/usb_link_headers.h"

#include <algorithm>

#include "capture/byte_order.h"

namespace brisk::capture {
namespace {

// Linux errno values usbmon reports as negative statuses.
constexpr int32_t kEnoent = 2;
constexpr int32_t kEpipe = 32;
constexpr int32_t kEconnreset = 104;

UsbTransfer TransferOf(uint8_t t) {
    return t <= 3 ? static_cast<UsbTransfer>(t) : UsbTransfer::kOther;
}

bool DecodeUsbPcap(const uint8_t* data, uint32_t size, UsbPacket& out, std::string& error) {
    UsbPcapRecord p;
    if (!ParseUsbPcapRecord(data, size, p, error)) {
        return false;
    }
    const UsbPcapHeader& h = p.header;
    out.bus = h.bus;
    out.device = h.device;
    out.endpoint = h.endpoint;
    out.transfer = TransferOf(h.transfer);
    // Bit 0 of `info` marks the packet on its way back up the stack: the
    // completion. A control transfer's last stage is one too.
    out.completion = (h.info & kInfoDeviceToHost) != 0 ||
                     (h.transfer == kTransferControl && h.stage == kStageComplete);
    out.rawStatus = h.status;
    if (!out.completion) {
        out.outcome = UsbOutcome::kPending;
    } else if (h.status == 0) {
        out.outcome = UsbOutcome::kOk;
    } else if (h.status == kUsbdStatusCanceled) {
        out.outcome = UsbOutcome::kCancelled;
    } else if (h.status == kUsbdStatusStall) {
        out.outcome = UsbOutcome::kStalled;
    } else {
        out.outcome = UsbOutcome::kFailed;
    }
    out.hasSetup = p.hasSetup;
    out.setup = p.setup;
    out.data = p.data;
    out.captured = p.captured;
    out.length = p.length;
    return true;
}

UsbOutcome UsbmonOutcome(uint8_t event, int32_t status) {
    if (event == 'S') {
        return UsbOutcome::kPending;
    }
    if (event == 'E') {
        return UsbOutcome::kFailed;
    }
    switch (status) {
        case 0:
            return UsbOutcome::kOk;
        case -kEnoent:
        case -kEconnreset:
            return UsbOutcome::kCancelled;
        case -kEpipe:
            return UsbOutcome::kStalled;
        default:
            return UsbOutcome::kFailed;
    }
}

bool DecodeUsbmon(uint32_t linkType, bool be, const uint8_t* d, uint32_t size, UsbPacket& out,
                  std::string& error) {
    const uint32_t headerBytes =
        linkType == kLinkTypeUsbLinuxMmapped ? kUsbmonMmappedHeaderBytes : kUsbmonHeaderBytes;
    if (size < headerBytes) {
        error = "record of " + std::to_string(size) + " bytes, shorter than a usbmon header (" +
                std::to_string(headerBytes) + ")";
        return false;
    }
    const uint8_t event = d[8];
    if (event != 'S' && event != 'C' && event != 'E') {
        error = "usbmon event type " + std::to_string(event) + ", not S, C or E";
        return false;
    }
    out.transfer = TransferOf(d[9]);
    out.endpoint = d[10];
    out.device = d[11];
    out.bus = Load16(d + 12, be);
    const auto status = static_cast<int32_t>(Load32(d + 28, be));
    out.rawStatus = static_cast<uint32_t>(status);
    out.completion = event != 'S';
    out.outcome = UsbmonOutcome(event, status);
    out.hasSetup = d[14] == 0;  // flag_setup: 0 when the setup bytes are there
    if (out.hasSetup) {
        out.setup = DecodeSetup(d + 40);
    }
    // Isochronous transfers in the 64-byte header put their frame
    // descriptors before the data; a snap length may cut them.
    uint64_t dataAt = headerBytes;
    if (linkType == kLinkTypeUsbLinuxMmapped && out.transfer == UsbTransfer::kIsochronous) {
        dataAt = std::min<uint64_t>(size, dataAt + 16ull * Load32(d + 60, be));
    }
    const uint32_t lenCap = Load32(d + 36, be);
    out.data = d + dataAt;
    out.captured = std::min<uint32_t>(lenCap, static_cast<uint32_t>(size - dataAt));
    out.length = std::max(Load32(d + 32, be), out.captured);
    return true;
}

}  // namespace

bool IsUsbLinkType(uint32_t linkType) {
    return linkType == kLinkTypeUsbPcap || linkType == kLinkTypeUsbLinux ||
           linkType == kLinkTypeUsbLinuxMmapped;
}

std::string LinkTypeName(uint32_t linkType) {
    const char* name = linkType == kLinkTypeUsbPcap ? "USBPcap" : "usbmon";
    return std::string(name) + " (" + std::to_string(linkType) + ")";
}

std::string NotUsbReason(uint32_t linkType) {
    return "link type " + std::to_string(linkType) + " is not USB (USBPcap 249, usbmon 189 or 220)";
}

bool DecodeUsbRecord(uint32_t linkType, bool bigEndian, const uint8_t* data, uint32_t size,
                     UsbPacket& out, std::string& error) {
    out.hasSetup = false;
    out.setup = SetupPacket{};
    if (linkType == kLinkTypeUsbPcap) {
        return DecodeUsbPcap(data, size, out, error);
    }
    return DecodeUsbmon(linkType, bigEndian, data, size, out, error);
}

}  // namespace brisk::capture
