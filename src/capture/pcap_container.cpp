// Classic pcap: a 24-byte file header, then 16-byte record headers each
// followed by its bytes, in the writer's byte order.
#include "capture/byte_order.h"
#include "capture/capture_container.h"
#include "capture/usb_link_headers.h"

namespace brisk::capture {
namespace {

class PcapContainer final : public CaptureContainer {
  public:
    PcapContainer(std::unique_ptr<ByteReader> in, bool bigEndian, bool nanos, uint32_t linkType)
        : in_(std::move(in)), bigEndian_(bigEndian), nanos_(nanos), linkType_(linkType) {}

    SourceStatus Next(CaptureRecord& out, std::string& error) override {
        StreamStatus s;
        const uint8_t* h = in_->Take(kPcapRecordHeaderBytes, s, error);
        if (h == nullptr) {
            return EndOfStream(s, false);
        }
        const uint32_t seconds = Load32(h, bigEndian_), fraction = Load32(h + 4, bigEndian_);
        const uint32_t size = Load32(h + 8, bigEndian_);
        if (size > kMaxCaptureRecordBytes) {
            error = "record of " + std::to_string(size) +
                    " bytes, more than any capture tool writes (" +
                    std::to_string(kMaxCaptureRecordBytes) + ")";
            return SourceStatus::kBad;
        }
        const uint8_t* data = in_->Take(size, s, error);
        if (data == nullptr) {
            return EndOfStream(s, true);
        }
        out.linkType = linkType_;
        out.bigEndian = bigEndian_;
        out.micros = uint64_t{seconds} * 1000000 + (nanos_ ? fraction / 1000 : fraction);
        out.data = data;
        out.size = size;
        return SourceStatus::kPacket;
    }

    const char* Name() const override { return "pcap"; }
    std::vector<uint32_t> UsbLinkTypes() const override { return {linkType_}; }

  private:
    std::unique_ptr<ByteReader> in_;
    bool bigEndian_;
    bool nanos_;
    uint32_t linkType_;
};

}  // namespace

SourceStatus EndOfStream(StreamStatus s, bool insideRecord) {
    if (s == StreamStatus::kBad) {
        return SourceStatus::kBad;
    }
    if (s == StreamStatus::kEnd && !insideRecord) {
        return SourceStatus::kEnd;
    }
    return SourceStatus::kTruncated;
}

std::unique_ptr<CaptureContainer> OpenPcap(std::unique_ptr<ByteReader> in, std::string& error) {
    StreamStatus s;
    const uint8_t* h = in->Take(kPcapFileHeaderBytes, s, error);
    if (h == nullptr) {
        if (s != StreamStatus::kBad) {
            error = "pcap file header cut short";
        }
        return nullptr;
    }
    const bool bigEndian =
        Load32(h, false) != kPcapMagicMicros && Load32(h, false) != kPcapMagicNanos;
    const bool nanos = Load32(h, bigEndian) == kPcapMagicNanos;
    // The top bits of the link type field may carry FCS information.
    const uint32_t linkType = Load32(h + 20, bigEndian) & 0x0FFFFFFF;
    if (!IsUsbLinkType(linkType)) {
        error = NotUsbReason(linkType);
        return nullptr;
    }
    return std::make_unique<PcapContainer>(std::move(in), bigEndian, nanos, linkType);
}

}  // namespace brisk::capture
