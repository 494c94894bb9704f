// Recognises a capture by its first bytes and stacks the readers it needs:
// byte stream (file or memory), gzip if compressed, the container, and the
// link-layer header decoder.
#include "capture/packet_source.h"

#include "capture/byte_order.h"
#include "capture/capture_container.h"
#include "capture/usb_link_headers.h"

namespace brisk::capture {
namespace {

class CaptureSource final : public PacketSource {
  public:
    CaptureSource(std::unique_ptr<CaptureContainer> container, bool gzip)
        : container_(std::move(container)), gzip_(gzip) {}

    SourceStatus Read(UsbPacket& out, std::string& error) override {
        if (ended_ != SourceStatus::kPacket) {
            error = error_;
            return ended_;  // an ended capture stays ended
        }
        CaptureRecord r;
        SourceStatus s = container_->Next(r, error_);
        if (s == SourceStatus::kPacket &&
            !DecodeUsbRecord(r.linkType, r.bigEndian, r.data, r.size, out, error_)) {
            s = SourceStatus::kBad;
        }
        if (s != SourceStatus::kPacket) {
            if (s == SourceStatus::kTruncated && error_.empty()) {
                error_ = "the file ends inside a packet";
            }
            ended_ = s;
            error = error_;
            return s;
        }
        out.micros = r.micros;
        ++packets_;
        return s;
    }

    uint64_t PacketsRead() const override { return packets_; }

    std::string Description() const override {
        std::string d = container_->Name();
        if (gzip_) {
            d += ", gzip";
        }
        for (uint32_t linkType : container_->UsbLinkTypes()) {
            d += ", " + LinkTypeName(linkType);
        }
        return d;
    }

  private:
    std::unique_ptr<CaptureContainer> container_;
    bool gzip_;
    uint64_t packets_ = 0;
    SourceStatus ended_ = SourceStatus::kPacket;
    std::string error_;
};

bool IsGzip(const uint8_t* p) {
    return p[0] == kGzipMagic[0] && p[1] == kGzipMagic[1];
}

// Classic pcap's magic, in the writer's byte order, whichever that was.
bool IsPcap(const uint8_t* p) {
    for (const bool bigEndian : {false, true}) {
        const uint32_t magic = Load32(p, bigEndian);
        if (magic == kPcapMagicMicros || magic == kPcapMagicNanos) {
            return true;
        }
    }
    return false;
}

// `open` makes a fresh stream of the file's raw bytes each time it is
// called: once to look at the first two, once to read.
template <typename OpenRaw>
std::unique_ptr<PacketSource> Open(OpenRaw open, std::string& error) {
    std::unique_ptr<ByteStream> raw = open(error);
    if (raw == nullptr) {
        return nullptr;
    }
    auto reader = std::make_unique<ByteReader>(std::move(raw));
    StreamStatus s;
    const uint8_t* head = reader->Peek(2, s, error);
    const bool gzip = head != nullptr && IsGzip(head);
    if (gzip) {
        raw = open(error);
        if (raw == nullptr) {
            return nullptr;
        }
        reader = std::make_unique<ByteReader>(GzipStream(std::move(raw)));
    }
    head = reader->Peek(4, s, error);
    if (head == nullptr) {
        if (s != StreamStatus::kBad) {
            error = "not a pcap or pcapng capture (too short)";
        }
        return nullptr;
    }
    std::unique_ptr<CaptureContainer> c;
    if (Load32(head, false) == kPcapngSectionHeader) {
        c = OpenPcapng(std::move(reader), error);
    } else if (IsPcap(head)) {
        c = OpenPcap(std::move(reader), error);
    } else {
        error = "not a pcap or pcapng capture";
        return nullptr;
    }
    if (c == nullptr) {
        return nullptr;
    }
    return std::make_unique<CaptureSource>(std::move(c), gzip);
}

}  // namespace

std::unique_ptr<PacketSource> OpenPacketSource(const std::string& path, std::string& error) {
    return Open([&path](std::string& e) { return OpenFileStream(path, e); }, error);
}

std::unique_ptr<PacketSource> OpenPacketSource(const uint8_t* data, size_t size,
                                               std::string& error) {
    return Open([data, size](std::string&) { return MemoryStream(data, size); }, error);
}

}  // namespace brisk::capture
