// pcapng: blocks of (type, total length, body, total length again), each
// section starting with a Section Header Block that sets the byte order.
// Interfaces are described once (link type, time resolution) and packets
// name their interface.
#include <algorithm>

#include "capture/byte_order.h"
#include "capture/capture_container.h"
#include "capture/usb_link_headers.h"

namespace brisk::capture {
namespace {

constexpr uint32_t kInterfaceDescription = 1;
constexpr uint32_t kObsoletePacket = 2;
constexpr uint32_t kSimplePacket = 3;
constexpr uint32_t kEnhancedPacket = 6;
constexpr uint16_t kOptionTsResol = 9;
constexpr uint16_t kOptionTsOffset = 14;
// Each description costs its file 20 bytes; this many is already absurd.
constexpr size_t kMaxInterfaces = 65536;

struct Interface {
    uint32_t linkType = 0;
    uint32_t snapLength = 0;
    uint8_t tsResol = 6;   // microseconds unless the description says otherwise
    int64_t tsOffset = 0;  // seconds
};

// `units` of the interface's resolution, as microseconds since the epoch.
uint64_t ToMicros(uint64_t units, const Interface& i) {
    uint64_t us = 0;
    const unsigned n = i.tsResol & 0x7F;
    if ((i.tsResol & 0x80) != 0) {  // 2^-n seconds
        us = static_cast<uint64_t>((static_cast<unsigned __int128>(units) * 1000000) >> n);
    } else if (n <= 6) {  // 10^-n seconds
        us = units;
        for (unsigned k = n; k < 6; ++k) {
            us *= 10;
        }
    } else if (n - 6 <= 19) {
        uint64_t divisor = 1;
        for (unsigned k = 6; k < n; ++k) {
            divisor *= 10;
        }
        us = units / divisor;
    }
    // Unsigned: a silly offset wraps instead of overflowing.
    return us + static_cast<uint64_t>(i.tsOffset) * 1000000u;
}

class PcapngContainer final : public CaptureContainer {
  public:
    explicit PcapngContainer(std::unique_ptr<ByteReader> in) : in_(std::move(in)) {}

    SourceStatus Next(CaptureRecord& out, std::string& error) override {
        for (;;) {
            uint32_t type = 0, length = 0;
            const uint8_t* b = nullptr;
            const SourceStatus s = NextBlock(type, b, length, error);
            if (s != SourceStatus::kPacket) {
                return s;
            }
            bool isPacket = false;
            if (!Interpret(type, b, length, out, isPacket, error)) {
                return SourceStatus::kBad;
            }
            if (isPacket) {
                return SourceStatus::kPacket;
            }
        }
    }

    // Reads the first section header and the descriptions that follow it.
    bool Start(std::string& error) {
        uint32_t type = 0, length = 0;
        const uint8_t* b = nullptr;
        if (NextBlock(type, b, length, error) != SourceStatus::kPacket) {
            if (error.empty()) {
                error = "pcapng section header cut short";
            }
            return false;
        }
        CaptureRecord unused;
        bool isPacket = false;
        if (!Interpret(type, b, length, unused, isPacket, error)) {
            return false;
        }
        while (PeekType() == kInterfaceDescription) {
            const SourceStatus s = NextBlock(type, b, length, error);
            if (s == SourceStatus::kBad) {
                return false;
            }
            if (s != SourceStatus::kPacket) {
                error.clear();  // the cut comes out at the first Next, after any packets
                break;
            }
            if (!Interpret(type, b, length, unused, isPacket, error)) {
                return false;
            }
        }
        if (!interfaces_.empty() && UsbLinkTypes().empty()) {
            error = NotUsbReason(interfaces_.front().linkType);
            return false;
        }
        return true;
    }

    const char* Name() const override { return "pcapng"; }

    std::vector<uint32_t> UsbLinkTypes() const override { return usbSeen_; }

  private:
    uint32_t PeekType() {
        StreamStatus s;
        std::string ignored;
        const uint8_t* p = in_->Peek(4, s, ignored);
        return p == nullptr ? 0 : Load32(p, bigEndian_);
    }

    // One whole block, its lengths checked; kPacket when there is one.
    SourceStatus NextBlock(uint32_t& type, const uint8_t*& block, uint32_t& length,
                           std::string& error) {
        StreamStatus s;
        const uint8_t* h = in_->Peek(12, s, error);
        if (h == nullptr) {
            // Fewer than 12 bytes: no block fits, so any at all is a cut one.
            return EndOfStream(s, false);
        }
        type = Load32(h, bigEndian_);
        if (type == kPcapngSectionHeader) {
            // A new section may be in the other byte order; its magic says.
            const uint32_t magic = Load32(h + 8, false);
            if (magic != kPcapngByteOrderMagic && Load32(h + 8, true) != kPcapngByteOrderMagic) {
                error = "pcapng section header without its byte-order magic";
                return SourceStatus::kBad;
            }
            bigEndian_ = magic != kPcapngByteOrderMagic;
        }
        length = Load32(h + 4, bigEndian_);
        if (length < 12 || length % 4 != 0 || length > kMaxPcapngBlockBytes) {
            error = "pcapng block of type " + std::to_string(type) + " with a length of " +
                    std::to_string(length) + " bytes";
            return SourceStatus::kBad;
        }
        block = in_->Take(length, s, error);
        if (block == nullptr) {
            return EndOfStream(s, true);
        }
        if (Load32(block + length - 4, bigEndian_) != length) {
            error = "pcapng block lengths disagree (" + std::to_string(length) + " and " +
                    std::to_string(Load32(block + length - 4, bigEndian_)) + ")";
            return SourceStatus::kBad;
        }
        return SourceStatus::kPacket;
    }

    bool Interpret(uint32_t type, const uint8_t* b, uint32_t length, CaptureRecord& out,
                   bool& isPacket, std::string& error) {
        isPacket = false;
        switch (type) {
            case kPcapngSectionHeader:
                return Section(b, length, error);
            case kInterfaceDescription:
                return Describe(b, length, error);
            case kEnhancedPacket:
            case kObsoletePacket:
            case kSimplePacket:
                return PacketBlock(type, b, length, out, isPacket, error);
            default:
                return true;  // statistics, name resolution, ...: not ours
        }
    }

    bool Section(const uint8_t* b, uint32_t length, std::string& error) {
        if (length < 28) {
            error = "pcapng section header of " + std::to_string(length) + " bytes";
            return false;
        }
        const uint16_t major = Load16(b + 12, bigEndian_);
        if (major != 1) {
            error = "pcapng version " + std::to_string(major) + "." +
                    std::to_string(Load16(b + 14, bigEndian_)) + ", not 1.x";
            return false;
        }
        interfaces_.clear();  // interface numbers count from 0 in each section
        return true;
    }

    bool Describe(const uint8_t* b, uint32_t length, std::string& error) {
        if (length < 20) {
            error = "pcapng interface description of " + std::to_string(length) + " bytes";
            return false;
        }
        if (interfaces_.size() >= kMaxInterfaces) {
            error = "more than " + std::to_string(kMaxInterfaces) + " pcapng interfaces";
            return false;
        }
        Interface i;
        i.linkType = Load16(b + 8, bigEndian_);
        i.snapLength = Load32(b + 12, bigEndian_);
        if (!Options(b + 16, length - 20, i, error)) {
            return false;
        }
        interfaces_.push_back(i);
        if (IsUsbLinkType(i.linkType) &&
            std::find(usbSeen_.begin(), usbSeen_.end(), i.linkType) == usbSeen_.end()) {
            usbSeen_.push_back(i.linkType);
        }
        return true;
    }

    // The description's options: the time resolution and offset.
    bool Options(const uint8_t* p, uint32_t size, Interface& i, std::string& error) {
        while (size >= 4) {
            const uint16_t code = Load16(p, bigEndian_), n = Load16(p + 2, bigEndian_);
            if (code == 0) {
                break;  // opt_endofopt
            }
            const uint32_t padded = (n + 3u) & ~3u;
            if (padded > size - 4) {
                error = "pcapng option " + std::to_string(code) + " runs past its block";
                return false;
            }
            if (code == kOptionTsResol && n >= 1) {
                i.tsResol = p[4];
            } else if (code == kOptionTsOffset && n >= 8) {
                i.tsOffset = static_cast<int64_t>(Load64(p + 4, bigEndian_));
            }
            p += 4 + padded;
            size -= 4 + padded;
        }
        return true;
    }

    bool PacketBlock(uint32_t type, const uint8_t* b, uint32_t length, CaptureRecord& out,
                     bool& isPacket, std::string& error) {
        const uint32_t fixed = type == kSimplePacket ? 16 : 32;  // with both lengths
        if (length < fixed) {
            error = "pcapng packet block of " + std::to_string(length) + " bytes";
            return false;
        }
        const uint32_t room = length - fixed;  // data, padding and options
        uint32_t id = 0, size = 0;
        uint64_t units = 0;
        if (type == kSimplePacket) {
            size = std::min(Load32(b + 8, bigEndian_), room);  // no captured length of its own
        } else {
            id = type == kEnhancedPacket ? Load32(b + 8, bigEndian_) : Load16(b + 8, bigEndian_);
            units = Load64Split(b + 12);
            size = Load32(b + 20, bigEndian_);
            if (size > room) {
                error = "pcapng packet of " + std::to_string(size) + " bytes in a block of " +
                        std::to_string(length);
                return false;
            }
        }
        if (id >= interfaces_.size()) {
            error = "pcapng packet of interface " + std::to_string(id) + ", never described";
            return false;
        }
        const Interface& i = interfaces_[id];
        if (type == kSimplePacket && i.snapLength != 0) {
            size = std::min(size, i.snapLength);
        }
        // A simple packet has no time: it comes right after the one before.
        const uint64_t micros = type == kSimplePacket ? lastMicros_ : ToMicros(units, i);
        lastMicros_ = micros;
        if (!IsUsbLinkType(i.linkType)) {
            return true;  // another interface's traffic
        }
        out.linkType = i.linkType;
        out.bigEndian = bigEndian_;
        out.micros = micros;
        out.data = b + (type == kSimplePacket ? 12 : 28);
        out.size = size;
        isPacket = true;
        return true;
    }

    // Time stamps are two 32-bit words, the high one first.
    uint64_t Load64Split(const uint8_t* p) const {
        return uint64_t{Load32(p, bigEndian_)} << 32 | Load32(p + 4, bigEndian_);
    }

    std::unique_ptr<ByteReader> in_;
    bool bigEndian_ = false;
    std::vector<Interface> interfaces_;
    std::vector<uint32_t> usbSeen_;
    uint64_t lastMicros_ = 0;
};

}  // namespace

std::unique_ptr<CaptureContainer> OpenPcapng(std::unique_ptr<ByteReader> in, std::string& error) {
    auto c = std::make_unique<PcapngContainer>(std::move(in));
    if (!c->Start(error)) {
        return nullptr;
    }
    return c;
}

}  // namespace brisk::capture
