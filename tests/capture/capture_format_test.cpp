// The USBPcap packet layout: what the recorder writes reads back field for
// field through the reader a replay uses, at the offsets Wireshark expects.
#include <gtest/gtest.h>

#include "capture/packet_source.h"
#include "capture/usbpcap.h"

namespace brisk::capture {
namespace {

struct Case {
    const char* name;
    UsbPcapHeader header;
    std::vector<uint8_t> data;  // for a setup stage: the setup packet first
    uint32_t captured;          // what the file keeps of it
    bool hasSetup;
};

TEST(UsbPcapPacket, EveryKindReadsBackAsWritten) {
    UsbPcapHeader in{0x0123456789ABCDEFull, 0, kUrbInterruptTransfer, kInfoDeviceToHost, 1, 5, 0x81,
                     kTransferInterrupt,    0};
    UsbPcapHeader failed = in;
    failed.status = kUsbdStatusDeviceGone;
    UsbPcapHeader setup{7, 0, kUrbClassInterface, 0, 1, 2, 0x00, kTransferControl, kStageSetup};
    UsbPcapHeader complete = setup;
    complete.info = kInfoDeviceToHost;
    complete.stage = kStageComplete;
    complete.status = kUsbdStatusStall;
    uint8_t s[8];
    EncodeSetup(SetFeatureSetup(0, 1, 65), s);
    std::vector<uint8_t> setReport(s, s + 8);
    setReport.insert(setReport.end(), {0x00, 'R', 0x00, 0x32, 0, 0, 0});
    const Case cases[] = {
        {"report with trailing zeros", in, {0x20, 1, 2, 0, 3, 0, 0, 0}, 5, false},
        {"read failure", failed, {}, 0, false},
        {"set report", setup, setReport, 12, true},
        {"stalled completion", complete, {}, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto length = static_cast<uint32_t>(c.data.size());
        EXPECT_EQ(CapturedLength(c.data.data(), length), c.captured);
        std::vector<uint8_t> file;
        AppendFileHeader(file);
        AppendPacket(file, 1234567890123456ull, c.header, c.data.data(), c.captured, length);
        // Read as a replay reads it.
        std::string error;
        std::unique_ptr<PacketSource> source = OpenPacketSource(file.data(), file.size(), error);
        ASSERT_TRUE(source) << error;
        EXPECT_EQ(source->Description(), "pcap, USBPcap (249)");
        UsbPacket p;
        ASSERT_EQ(source->Read(p, error), SourceStatus::kPacket) << error;
        EXPECT_EQ(p.micros, 1234567890123456ull);
        EXPECT_EQ(p.rawStatus, c.header.status);
        EXPECT_EQ(p.device, c.header.device);
        EXPECT_EQ(p.endpoint, c.header.endpoint);
        EXPECT_EQ(static_cast<uint8_t>(p.transfer), c.header.transfer);
        EXPECT_EQ(p.completion, c.header.info == kInfoDeviceToHost);
        EXPECT_EQ(p.hasSetup, c.hasSetup);
        const uint32_t skip = c.hasSetup ? 8 : 0;
        EXPECT_EQ(p.length, length - skip);
        ASSERT_EQ(p.captured, c.captured - skip);
        EXPECT_TRUE(std::equal(p.data, p.data + p.captured, c.data.begin() + skip));
        if (c.hasSetup) {
            EXPECT_EQ(p.setup.requestType, 0x21);
            EXPECT_EQ(p.setup.request, 0x09);
            EXPECT_EQ(p.setup.value, 0x0300);
            EXPECT_EQ(p.setup.index, 1);
            EXPECT_EQ(p.setup.length, 65);
        }
        EXPECT_EQ(source->Read(p, error), SourceStatus::kEnd);
        // The fields only an analyser shows, at their offsets.
        const size_t at = kPcapFileHeaderBytes + kPcapRecordHeaderBytes;
        UsbPcapRecord r;
        ASSERT_TRUE(ParseUsbPcapRecord(file.data() + at, file.size() - at, r, error)) << error;
        EXPECT_EQ(r.header.irpId, c.header.irpId);
        EXPECT_EQ(r.header.function, c.header.function);
        EXPECT_EQ(r.header.info, c.header.info);
        EXPECT_EQ(r.header.stage, c.header.stage);
        // Every shorter file ends inside the record.
        for (size_t cut = kPcapFileHeaderBytes + 1; cut < file.size(); ++cut) {
            source = OpenPacketSource(file.data(), cut, error);
            ASSERT_TRUE(source) << error;
            ASSERT_EQ(source->Read(p, error), SourceStatus::kTruncated) << cut;
        }
    }
}

TEST(UsbPcapPacket, DescriptorsCarryTheDevicesIdentity) {
    const std::vector<uint8_t> d = DeviceDescriptor(0x28DE, 0x2300, 0x0100, true);
    ASSERT_EQ(d.size(), 18u);
    EXPECT_EQ(d[0], 18);
    EXPECT_EQ(d[1], 1);
    EXPECT_EQ(d[8] | d[9] << 8, 0x28DE);
    EXPECT_EQ(d[10] | d[11] << 8, 0x2300);
    EXPECT_EQ(d[16], 1);  // iSerialNumber
    EXPECT_EQ(StringDescriptor(u"LHR-1"),
              (std::vector<uint8_t>{12, 3, 'L', 0, 'H', 0, 'R', 0, '-', 0, '1', 0}));
    const std::vector<uint8_t> config = HidConfigurationDescriptor(1);
    ASSERT_EQ(config.size(), 9u + 2 * 25);
    EXPECT_EQ(config[2] | config[3] << 8, static_cast<int>(config.size()));  // wTotalLength
    EXPECT_EQ(config[9 + 5], 3);                                             // interface 0 is HID
    EXPECT_EQ(config[9 + 18 + 2], 0x81);  // and reports on endpoint 0x81
    EXPECT_EQ(config[9 + 25 + 18 + 2], 0x82);
}

}  // namespace
}  // namespace brisk::capture
