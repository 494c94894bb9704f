// Small capture writers for the packet source's tests, in either byte
// order: classic pcap, pcapng blocks, usbmon headers, and gzip. Each keeps
// the offsets where its packets end, so a test knows what a file cut
// anywhere still holds.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace brisk::capture::test {

struct Bytes {
    bool bigEndian = false;
    std::vector<uint8_t> b;

    Bytes& U8(uint8_t v) {
        b.push_back(v);
        return *this;
    }
    Bytes& Uint(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) {
            b.push_back(static_cast<uint8_t>(v >> 8 * (bigEndian ? n - 1 - i : i)));
        }
        return *this;
    }
    Bytes& U16(uint16_t v) { return Uint(v, 2); }
    Bytes& U32(uint32_t v) { return Uint(v, 4); }
    Bytes& Raw(const std::vector<uint8_t>& v) {
        b.insert(b.end(), v.begin(), v.end());
        return *this;
    }
};

// A usbmon packet: its header (48 bytes for link type 189, 64 for 220) and data.
struct Usbmon {
    char event = 'C';
    uint8_t transfer = 1, endpoint = 0x81, device = 5;
    uint16_t bus = 3;
    bool setup = false;  // the 8 setup bytes below are valid
    int32_t status = 0;
    uint32_t length = 0;  // the transfer's; the data's size when 0
    int64_t lenCap = -1;  // the data's size when negative
    uint32_t ndesc = 0;   // isochronous descriptors (220 only), written before the data
    std::vector<uint8_t> data;

    std::vector<uint8_t> Encode(uint32_t linkType, bool bigEndian) const {
        Bytes o{bigEndian, {}};
        o.Uint(0x1122334455667788ull, 8).U8(static_cast<uint8_t>(event)).U8(transfer);
        o.U8(endpoint).U8(device).U16(bus).U8(setup ? 0 : '-').U8(data.empty() ? '<' : 0);
        o.Uint(1700000000, 8).U32(250).U32(static_cast<uint32_t>(status));
        o.U32(length != 0 ? length : static_cast<uint32_t>(data.size()));
        o.U32(lenCap < 0 ? static_cast<uint32_t>(data.size()) : static_cast<uint32_t>(lenCap));
        o.Raw({0x80, 0x06, 0x00, 0x01, 0x00, 0x00, 0x12, 0x00});
        if (linkType == 220) {
            o.U32(1).U32(0).U32(0).U32(ndesc);
            o.b.resize(o.b.size() + 16 * std::min(ndesc, 8u), 0xEE);  // a few at most
        }
        return o.Raw(data).b;
    }
};

struct Capture {
    Bytes out;
    std::vector<size_t> ends;       // where each whole block or record ends
    std::vector<size_t> packetsAt;  // packets before each of those ends

    void Mark(bool packet) {
        packetsAt.push_back((packetsAt.empty() ? 0 : packetsAt.back()) + (packet ? 1 : 0));
        ends.push_back(out.b.size());
    }
    // Whole packets in the first `n` bytes, and whether they end at a boundary.
    size_t PacketsWithin(size_t n, bool& atBoundary) const {
        size_t packets = 0;
        atBoundary = n == 0;
        for (size_t i = 0; i < ends.size() && ends[i] <= n; ++i) {
            packets = packetsAt[i];
            atBoundary = ends[i] == n;
        }
        return packets;
    }
};

struct Pcap : Capture {
    Pcap(uint32_t linkType, bool bigEndian, bool nanos = false) {
        out.bigEndian = bigEndian;
        out.U32(nanos ? 0xA1B23C4D : 0xA1B2C3D4).U16(2).U16(4).U32(0).U32(0).U32(262144);
        out.U32(linkType);
        Mark(false);
    }
    Pcap& Record(uint32_t seconds, uint32_t fraction, const std::vector<uint8_t>& data) {
        out.U32(seconds).U32(fraction).U32(static_cast<uint32_t>(data.size()));
        out.U32(static_cast<uint32_t>(data.size())).Raw(data);
        Mark(true);
        return *this;
    }
};

struct Pcapng : Capture {
    // A block of `type`: `body` padded to 4 bytes, both lengths.
    Pcapng& Block(uint32_t type, std::vector<uint8_t> body, bool packet = false) {
        body.resize((body.size() + 3) / 4 * 4);
        const auto length = static_cast<uint32_t>(body.size() + 12);
        out.U32(type).U32(length).Raw(body).U32(length);
        Mark(packet);
        return *this;
    }
    Pcapng& Section(bool bigEndian) {
        out.bigEndian = bigEndian;
        return Block(0x0A0D0D0A, Body().U32(0x1A2B3C4D).U16(1).U16(0).Uint(~0ull, 8).b);
    }
    // `options`: (code, value) pairs.
    Pcapng& Interface(uint16_t linkType,
                      const std::vector<std::pair<uint16_t, std::vector<uint8_t>>>& options = {}) {
        Bytes b = Body().U16(linkType).U16(0).U32(0);
        for (const auto& [code, value] : options) {
            b.U16(code).U16(static_cast<uint16_t>(value.size())).Raw(value);
            b.b.resize((b.b.size() + 3) / 4 * 4);
        }
        return Block(1, b.U16(0).U16(0).b);
    }
    // `usb`: of a USB interface, so a packet the reader hands out.
    Pcapng& Enhanced(uint32_t interface, uint64_t units, const std::vector<uint8_t>& data,
                     bool usb = true) {
        Bytes b = Body().U32(interface).U32(static_cast<uint32_t>(units >> 32));
        b.U32(static_cast<uint32_t>(units)).U32(static_cast<uint32_t>(data.size()));
        return Block(6, b.U32(static_cast<uint32_t>(data.size())).Raw(data).b, usb);
    }
    Pcapng& Obsolete(uint16_t interface, uint64_t units, const std::vector<uint8_t>& data) {
        Bytes b = Body().U16(interface).U16(0).U32(static_cast<uint32_t>(units >> 32));
        b.U32(static_cast<uint32_t>(units)).U32(static_cast<uint32_t>(data.size()));
        return Block(2, b.U32(static_cast<uint32_t>(data.size())).Raw(data).b, true);
    }
    Pcapng& Simple(const std::vector<uint8_t>& data) {
        return Block(3, Body().U32(static_cast<uint32_t>(data.size())).Raw(data).b, true);
    }
    Bytes Body() const { return Bytes{out.bigEndian, {}}; }
};

inline std::vector<uint8_t> Gzip(const std::vector<uint8_t>& in) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> out(deflateBound(&z, static_cast<uLong>(in.size())) + 32);
    z.next_in = const_cast<uint8_t*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

}  // namespace brisk::capture::test
