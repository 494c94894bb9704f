// The packet source over captures written here field by field: usbmon and
// USBPcap headers in pcap and pcapng, both byte orders, every pcapng block
// and time resolution, gzip, files cut anywhere, and malformed ones.
#include <gtest/gtest.h>

#include <cstdio>

#include "capture/packet_source.h"
#include "capture_test_support.h"
#include "capture_writers.h"

namespace brisk::capture {
namespace {

using namespace test;

struct Result {
    std::vector<UsbPacket> packets;
    std::vector<std::vector<uint8_t>> data;
    SourceStatus end = SourceStatus::kBad;
    std::string error;  // of the open, or of the end
    std::string description;
};

Result ReadAll(const std::vector<uint8_t>& file) {
    Result r;
    auto source = OpenPacketSource(file.data(), file.size(), r.error);
    if (source == nullptr) {
        return r;
    }
    r.description = source->Description();
    UsbPacket p;
    while ((r.end = source->Read(p, r.error)) == SourceStatus::kPacket) {
        r.data.emplace_back(p.data, p.data + p.captured);
        p.data = nullptr;  // valid only until the next Read: the copy above is kept
        r.packets.push_back(p);
    }
    EXPECT_EQ(source->PacketsRead(), r.packets.size());
    std::string again;
    EXPECT_EQ(source->Read(p, again), r.end);  // an ended source stays ended
    return r;
}

// One line per packet, so that a table says what each must be.
std::string Describe(const UsbPacket& p, const std::vector<uint8_t>& data) {
    static const char* const kOutcomes[] = {"pending", "ok", "cancelled", "stalled", "failed"};
    char s[128];
    int n = std::snprintf(s, sizeof s, "%u.%u ep%02x t%u %s %s", p.bus, p.device, p.endpoint,
                          static_cast<unsigned>(p.transfer), p.completion ? "end" : "submit",
                          kOutcomes[static_cast<int>(p.outcome)]);
    if (p.hasSetup) {
        n += std::snprintf(s + n, sizeof s - n, " setup %02x %02x %04x %u", p.setup.requestType,
                           p.setup.request, p.setup.value, p.setup.length);
    }
    n += std::snprintf(s + n, sizeof s - n, " %u/%u ", p.captured, p.length);
    for (size_t i = 0; i < data.size() && i < 4; ++i) {
        n += std::snprintf(s + n, sizeof s - n, "%02x", data[i]);
    }
    return s;
}

Usbmon Mon(char event, uint8_t transfer, uint8_t endpoint, int32_t status,
           std::vector<uint8_t> data, uint32_t length = 0, int64_t lenCap = -1,
           uint32_t ndesc = 0) {
    const bool setup = event == 'S' && transfer == 2;
    return Usbmon{event, transfer, endpoint, 5, 3, setup, status, length, lenCap, ndesc, data};
}

TEST(PacketSource, UsbmonHeadersInEveryContainerAndByteOrder) {
    const struct {
        Usbmon packet;
        const char* want;
    } cases[] = {
        {Mon('S', 2, 0x00, -115, {1, 2, 3}),
         "3.5 ep00 t2 submit pending setup 80 06 0100 18 3/3 010203"},
        {Mon('S', 1, 0x81, -115, {}, 64, 0), "3.5 ep81 t1 submit pending 0/64 "},
        {Mon('C', 1, 0x81, 0, std::vector<uint8_t>(52, 0x20)), "3.5 ep81 t1 end ok 52/52 20202020"},
        {Mon('C', 3, 0x82, 0, {1, 2, 3}, 512, 100),
         "3.5 ep82 t3 end ok 3/512 010203"},  // snap length
        {Mon('C', 2, 0x80, -32, {}), "3.5 ep80 t2 end stalled 0/0 "},
        {Mon('C', 1, 0x81, -2, {}), "3.5 ep81 t1 end cancelled 0/0 "},
        {Mon('C', 1, 0x81, -104, {}), "3.5 ep81 t1 end cancelled 0/0 "},
        {Mon('C', 1, 0x81, -71, {}), "3.5 ep81 t1 end failed 0/0 "},
        {Mon('E', 1, 0x81, -19, {}), "3.5 ep81 t1 end failed 0/0 "},
        // Isochronous: with link type 220 the frame descriptors come first.
        {Mon('C', 0, 0x83, 0, {9, 8, 7, 6}, 0, -1, 2), "3.5 ep83 t0 end ok 4/4 09080706"},
    };
    for (uint32_t linkType : {189u, 220u}) {
        for (bool bigEndian : {false, true}) {
            Pcap pcap(linkType, bigEndian, true);
            Pcapng ng;
            ng.Section(bigEndian).Interface(static_cast<uint16_t>(linkType));
            for (size_t i = 0; i < std::size(cases); ++i) {
                const auto bytes = cases[i].packet.Encode(linkType, bigEndian);
                pcap.Record(1700000000, static_cast<uint32_t>(i * 1000 + 999), bytes);  // ns
                ng.Enhanced(0, 1700000000000000ull + i, bytes);
            }
            for (const Capture* c : {static_cast<Capture*>(&pcap), static_cast<Capture*>(&ng)}) {
                const Result r = ReadAll(c->out.b);
                SCOPED_TRACE(r.description + (bigEndian ? ", big-endian" : ""));
                ASSERT_EQ(r.end, SourceStatus::kEnd) << r.error;
                ASSERT_EQ(r.packets.size(), std::size(cases));
                EXPECT_NE(r.description.find("usbmon (" + std::to_string(linkType) + ")"),
                          std::string::npos);
                for (size_t i = 0; i < std::size(cases); ++i) {
                    EXPECT_EQ(Describe(r.packets[i], r.data[i]), cases[i].want);
                    EXPECT_EQ(r.packets[i].micros, 1700000000000000ull + i);
                    EXPECT_EQ(r.packets[i].rawStatus,
                              static_cast<uint32_t>(cases[i].packet.status));
                }
            }
        }
    }
}

TEST(PacketSource, UsbPcapAsBriskRecordsIt) {
    CaptureBuilder b;
    b.Device(0, 3, 0x28DE, 0x2300).Report(10, 3, {0x20, 1, 0, 0}).Lost(20, 3);
    UsbPcapHeader setReport{1, 0, kUrbClassInterface, 0, 1, 4, 0, kTransferControl, kStageSetup};
    uint8_t s[8];
    EncodeSetup(SetFeatureSetup(0, 1, 4), s);
    AppendPacket(b.bytes, CaptureBuilder::kBase + 30, setReport, s, 8, 8);
    setReport.info = kInfoDeviceToHost;
    setReport.stage = kStageComplete;
    for (uint32_t status : {kUsbdStatusStall, kUsbdStatusCanceled}) {
        setReport.status = status;
        AppendPacket(b.bytes, CaptureBuilder::kBase + 40, setReport, nullptr, 0, 0);
    }
    const char* const want[] = {
        "1.3 ep80 t2 submit pending setup 80 06 0100 18 0/0 ",
        "1.3 ep80 t2 end ok 18/18 12010002",
        "1.3 ep81 t1 end ok 2/4 2001",  // the report's trailing zeros left out
        "1.3 ep81 t1 end failed 0/0 ",  // the device left
        "1.4 ep00 t2 submit pending setup 21 09 0300 4 0/0 ",
        "1.4 ep00 t2 end stalled 0/0 ",
        "1.4 ep00 t2 end cancelled 0/0 ",
    };
    for (const bool gzip : {false, true}) {
        const Result r = ReadAll(gzip ? Gzip(b.bytes) : b.bytes);
        ASSERT_EQ(r.end, SourceStatus::kEnd) << r.error;
        EXPECT_EQ(r.description, gzip ? "pcap, gzip, USBPcap (249)" : "pcap, USBPcap (249)");
        ASSERT_EQ(r.packets.size(), std::size(want));
        for (size_t i = 0; i < std::size(want); ++i) {
            EXPECT_EQ(Describe(r.packets[i], r.data[i]), want[i]);
        }
        EXPECT_EQ(r.packets[2].micros, CaptureBuilder::kBase + 10);
    }
}

std::vector<uint8_t> Le(uint64_t v, int n) {
    return Bytes{}.Uint(v, n).b;
}

TEST(PacketSource, PcapngBlocksResolutionsAndSections) {
    const std::vector<uint8_t> usb = Usbmon{}.Encode(220, false);
    const std::vector<uint8_t> usbBe = Usbmon{}.Encode(220, true);
    Pcapng ng;
    ng.Section(false)
        .Interface(1)                                              // Ethernet: passed over
        .Interface(220)                                            // microseconds by default
        .Interface(220, {{9, {9}}})                                // nanoseconds
        .Interface(220, {{2, {'u', 's', 'b'}}, {9, {0x80 | 20}}})  // 2^-20 s, after a name
        .Interface(220, {{9, {3}}, {14, Le(100, 8)}})              // milliseconds, 100 s offset
        .Enhanced(0, 5, {1, 2, 3})
        .Enhanced(1, 1000001, usb)
        .Enhanced(2, 2000000123, usb)
        .Block(0x0BAD, {1, 2, 3, 4, 5})  // a block type of the future
        .Enhanced(3, (3ull << 20) + (1ull << 19), usb)
        .Enhanced(4, 7, usb)
        .Obsolete(1, 8000000, usb)
        .Block(5, std::vector<uint8_t>(20, 0))  // interface statistics
        .Section(true)                          // interface numbers start again
        .Interface(220)
        .Enhanced(0, 9000000, usbBe)
        .Simple(usbBe);  // no time of its own
    const Result r = ReadAll(ng.out.b);
    ASSERT_EQ(r.end, SourceStatus::kEnd) << r.error;
    EXPECT_EQ(r.description, "pcapng, usbmon (220)");
    const uint64_t want[] = {1000001, 2000000, 3500000, 100007000, 8000000, 9000000, 9000000};
    ASSERT_EQ(r.packets.size(), std::size(want));
    for (size_t i = 0; i < std::size(want); ++i) {
        EXPECT_EQ(r.packets[i].micros, want[i]) << i;
        EXPECT_EQ(r.packets[i].bus, 3) << i;  // each header read in its section's byte order
    }
}

struct BadCase {
    const char* name;
    std::vector<uint8_t> file;
    size_t packets;     // read before it fails (when the open succeeds)
    const char* error;  // of the open, or of the read that fails
};

TEST(PacketSource, RefusesWhatIsNotAUsbCaptureWithAReason) {
    const auto usb = Usbmon{}.Encode(220, false);
    auto lengths = Pcapng{}.Section(false).Interface(220).Enhanced(0, 1, usb).out.b;
    lengths[lengths.size() - 1] ^= 1;
    auto usbpcapHeader = CaptureBuilder{}.Report(0, 1, {1, 2, 3}).bytes;
    usbpcapHeader[24 + 16] = 200;  // header length past the record
    std::vector<uint8_t> unaligned = Pcapng{}.Section(false).out.b;
    unaligned[4] = 30;
    const BadCase cases[] = {
        {"empty", {}, 0, "not a pcap or pcapng capture (too short)"},
        {"text", {'h', 'e', 'l', 'l', 'o', '\n'}, 0, "not a pcap or pcapng capture"},
        {"Ethernet pcap", Pcap(1, false).out.b, 0,
         "link type 1 is not USB (USBPcap 249, usbmon 189 or 220)"},
        {"Ethernet pcapng", Pcapng{}.Section(true).Interface(1).Interface(105).out.b, 0,
         "link type 1 is not USB"},
        {"pcap header cut", {0xD4, 0xC3, 0xB2, 0xA1, 2, 0}, 0, "pcap file header cut short"},
        {"pcapng 2.0",
         Pcapng{}.Block(0x0A0D0D0A, Bytes{}.U32(0x1A2B3C4D).U16(2).U16(0).U32(0).U32(0).b).out.b, 0,
         "pcapng version 2.0"},
        {"no byte-order magic", Pcapng{}.Block(0x0A0D0D0A, std::vector<uint8_t>(16, 0)).out.b, 0,
         "byte-order magic"},
        {"block length not of 4", unaligned, 0, "length of 30"},
        {"block lengths disagree", lengths, 0, "lengths disagree"},
        {"undescribed interface",
         Pcapng{}.Section(false).Interface(220).Enhanced(0, 1, usb).Enhanced(1, 2, usb).out.b, 1,
         "interface 1, never described"},
        {"option past its block",
         Pcapng{}.Section(false).Block(1, Bytes{}.U32(220).U32(0).U16(9).U16(99).b).out.b, 0,
         "option 9 runs past"},
        {"huge record",
         Pcap(220, false)
             .Record(0, 0, usb)
             .out.Raw(Le(0, 8))
             .Raw(Le(2u << 20, 4))
             .Raw(Le(2u << 20, 4))
             .b,
         1, "more than any capture tool writes (1048576)"},
        {"short usbmon header", Pcap(189, false).Record(0, 0, std::vector<uint8_t>(47, 0)).out.b, 0,
         "shorter than a usbmon header (48)"},
        {"usbmon event X",
         Pcap(220, false).Record(0, 0, Mon('X', 1, 0x81, 0, {}).Encode(220, false)).out.b, 0,
         "usbmon event type 88"},
        {"USBPcap header length", usbpcapHeader, 0, "USBPcap header length 200"},
        {"gzip of nothing deflated",
         {0x1F, 0x8B, 0x08, 0x00, 0, 0, 0, 0, 0, 3, 0xFF, 0xFF},
         0,
         "corrupt gzip data"},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = ReadAll(c.file);
        EXPECT_EQ(r.packets.size(), c.packets);
        EXPECT_NE(r.error.find(c.error), std::string::npos) << r.error;
        if (!r.description.empty()) {
            EXPECT_EQ(r.end, SourceStatus::kBad);
        }
    }
    std::string error;
    EXPECT_EQ(OpenPacketSource("/no/such/dir/capture.pcap", error), nullptr);
    EXPECT_FALSE(error.empty());
}

// A file cut anywhere reads its whole packets and then says where it ended:
// cleanly only where a record or block ends, and never as malformed.
TEST(PacketSource, CutAnywhereGivesTheWholePacketsBeforeTheCut) {
    const auto usb = [](uint8_t n) { return Mon('C', 1, 0x81, 0, {n}).Encode(189, true); };
    Pcap pcap(189, true);
    Pcapng ng;
    ng.Section(true).Interface(189).Interface(1);
    for (uint8_t i = 1; i <= 3; ++i) {
        pcap.Record(i, 0, usb(i));
        ng.Enhanced(0, i, usb(i)).Enhanced(1, i, {1, 2, 3, 4}, false).Simple(usb(i + 10));
    }
    for (const Capture* c :
         {static_cast<const Capture*>(&pcap), static_cast<const Capture*>(&ng)}) {
        const std::vector<uint8_t>& whole = c->out.b;
        const Result all = ReadAll(whole);
        for (const bool gzip : {false, true}) {
            const std::vector<uint8_t> file = gzip ? Gzip(whole) : whole;
            for (size_t cut = 0; cut <= file.size(); ++cut) {
                SCOPED_TRACE((gzip ? "gzip cut at " : "cut at ") + std::to_string(cut));
                const Result r = ReadAll({file.begin(), file.begin() + static_cast<long>(cut)});
                if (r.description.empty()) {  // not even the file header
                    EXPECT_LT(cut, gzip ? file.size() : c->ends[0]) << r.error;
                    continue;
                }
                bool boundary = false;
                const size_t want = c->PacketsWithin(gzip ? 0 : cut, boundary);
                if (!gzip) {
                    ASSERT_EQ(r.packets.size(), want);
                }
                const bool clean = gzip ? cut == file.size() : boundary;
                EXPECT_EQ(r.end, clean ? SourceStatus::kEnd : SourceStatus::kTruncated) << r.error;
                ASSERT_LE(r.packets.size(), all.packets.size());
                for (size_t i = 0; i < r.packets.size(); ++i) {
                    EXPECT_EQ(r.data[i], all.data[i]);
                }
            }
        }
    }
}

}  // namespace
}  // namespace brisk::capture
