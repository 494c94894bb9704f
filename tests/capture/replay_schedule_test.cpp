// What a replay takes from a capture: the headset's devices found by their
// descriptors, their reports, losses and returns; and every kind of file
// that is not such a capture refused with a reason.
#include <gtest/gtest.h>

#include "capture/replay_schedule.h"
#include "capture/usbpcap.h"
#include "capture_test_support.h"

namespace brisk::capture {
namespace {

using test::CaptureBuilder;

std::vector<uint8_t> Imu(uint8_t seq) {
    std::vector<uint8_t> r(64, 0);
    r[0] = 0x20;
    r[17] = seq;
    return r;
}

std::vector<uint8_t> Replace32(std::vector<uint8_t> b, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4 && at + i < b.size(); ++i) {
        b.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
    }
    return b;
}

// The plan of a capture in memory, as brisk-sim makes it of a file.
bool Scan(const std::vector<uint8_t>& bytes, const ReplayOptions& options, ReplayPlan& plan,
          std::string& error) {
    std::unique_ptr<PacketSource> source = OpenPacketSource(bytes.data(), bytes.size(), error);
    return source && ScanReplay(*source, options, plan, error);
}

struct Read {
    ReplayRole role;
    ReplayEvent event;
};

// Everything the reading during a run gets, in order.
std::vector<Read> ReadAll(const std::vector<uint8_t>& bytes, const ReplayPlan& plan) {
    std::string error;
    ReplayReader reader(OpenPacketSource(bytes.data(), bytes.size(), error), plan);
    std::vector<Read> out;
    Read r;
    while (reader.Next(r.role, r.event)) {
        out.push_back(r);
    }
    return out;
}

TEST(ReplaySchedule, FollowsTheHeadsetsDevicesThroughLossAndReenumeration) {
    CaptureBuilder c;
    c.Device(0, 3, 0x28DE, 0x2300, u"LHR-5A1B2C3D")
        .Device(10, 9, 0x28DE, 0x2300, u"LHR-OTHER")  // a tracker: not the headset's
        .Report(100, 9, Imu(77))
        .Report(1000, 3, Imu(1))
        .Report(1000, 3, Imu(2), 0, 0x82)  // another interface of the Watchman
        .Device(1500, 4, 0x35BD, 0x0101)
        .Report(1600, 4, {0x00, '#', 0, 0, 0, 0x06, 0xA4})
        .Report(1700, 4, {0x00, '$'})
        .Report(1800, 3, {}, kUsbdStatusCanceled)  // the host took a read back: no loss
        .Lost(2000000, 3)
        .Lost(2000100, 3)                                     // a second failure of the same loss
        .Device(2500000, 3, 0x28DE, 0x2300, u"LHR-5A1B2C3D")  // back within a second
        .Lost(3000000, 3)
        .Device(6000000, 12, 0x28DE, 0x2300, u"LHR-5A1B2C3D")  // re-enumerated elsewhere
        .Report(6000010, 12, Imu(9));
    ReplayPlan plan;
    std::string error;
    ASSERT_TRUE(Scan(c.bytes, {}, plan, error)) << error;
    EXPECT_FALSE(plan.truncated);
    EXPECT_FALSE(plan.imuFoundByReports);
    EXPECT_EQ(plan.lastMicros, 6000010);

    const ReplayDevice& imu = plan.Device(ReplayRole::kImu);
    EXPECT_EQ(imu.address, 12);
    EXPECT_EQ(imu.serial, u"LHR-5A1B2C3D");
    EXPECT_EQ(imu.reports, 2u);
    using K = ReplayEventKind;
    const std::vector<std::pair<int64_t, K>> want = {{1000, K::kReport},  {2000000, K::kLost},
                                                     {2000000, K::kBack}, {3000000, K::kLost},
                                                     {5000000, K::kBack}, {6000010, K::kReport}};
    std::vector<std::pair<int64_t, K>> transitions;
    for (const auto& w : want) {
        if (w.second != K::kReport) {
            transitions.push_back(w);
        }
    }
    ASSERT_EQ(imu.transitions.size(), transitions.size());
    for (size_t i = 0; i < transitions.size(); ++i) {
        EXPECT_EQ(imu.transitions[i].micros, transitions[i].first) << i;
        EXPECT_EQ(imu.transitions[i].kind, transitions[i].second) << i;
    }
    const ReplayDevice& mcu = plan.Device(ReplayRole::kMcu);
    EXPECT_EQ(mcu.address, 4);
    EXPECT_TRUE(mcu.serial.empty());
    EXPECT_EQ(mcu.acks, std::vector<int64_t>{1700});

    // The reading during the run tells the same story, with the bytes.
    std::vector<Read> imuRead, mcuRead;
    for (const Read& r : ReadAll(c.bytes, plan)) {
        (r.role == ReplayRole::kImu ? imuRead : mcuRead).push_back(r);
    }
    ASSERT_EQ(imuRead.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(imuRead[i].event.micros, want[i].first) << i;
        EXPECT_EQ(imuRead[i].event.kind, want[i].second) << i;
    }
    // The zeros a recording left out are back.
    ASSERT_EQ(imuRead[5].event.length, 64);
    EXPECT_EQ(imuRead[5].event.bytes[17], 9);
    EXPECT_EQ(imuRead[5].event.bytes[63], 0);
    ASSERT_EQ(mcuRead.size(), 2u);
    EXPECT_EQ(mcuRead[0].event.length, 7);

    // Named by address, the tracker is the IMU.
    ReplayOptions tracker;
    tracker.imuAddress = 9;
    ASSERT_TRUE(Scan(c.bytes, tracker, plan, error)) << error;
    const std::vector<Read> trackerRead = ReadAll(c.bytes, plan);
    ASSERT_GE(trackerRead.size(), 1u);
    EXPECT_EQ(trackerRead[0].role, ReplayRole::kImu);
    EXPECT_EQ(trackerRead[0].event.bytes[17], 77);
}

TEST(ReplaySchedule, WithoutDescriptorsTheImuIsWhereTheImuReportsAre) {
    std::vector<uint8_t> foreign(64, 0x5A);
    foreign[0] = 0x21;
    CaptureBuilder c;
    c.Report(0, 8, Imu(1))  // a controller, fewer reports
        .Report(5, 19, {0x01, 2, 3})
        .Report(10, 19, Imu(1), 0, 0x81)
        .Report(20, 19, Imu(2), 0, 0x81)
        .Report(30, 19, foreign, 0, 0x81)
        .Report(40, 19, Imu(3), 0, 0x81);
    ReplayPlan plan;
    std::string error;
    ASSERT_TRUE(Scan(c.bytes, {}, plan, error)) << error;
    EXPECT_TRUE(plan.imuFoundByReports);
    EXPECT_EQ(plan.imuReportsThere, 3u);
    EXPECT_EQ(plan.Device(ReplayRole::kImu).address, 19);
    EXPECT_FALSE(plan.Device(ReplayRole::kMcu).found);
    // Everything on its endpoint goes to the tool; what is no IMU report is named.
    EXPECT_EQ(plan.Device(ReplayRole::kImu).reports, 5u);
    EXPECT_EQ(plan.foreign.count, 2u);
    EXPECT_EQ(plan.foreign.firstId, 0x01);
    EXPECT_EQ(plan.foreign.firstMicros, 5);
    // The first packet of the capture is time zero, and it is delivered.
    const std::vector<Read> read = ReadAll(c.bytes, plan);
    ASSERT_EQ(read.size(), 5u);
    EXPECT_EQ(read[0].event.micros, 5);

    // Told otherwise, the address given wins.
    ReplayOptions named;
    named.imuAddress = 8;
    ASSERT_TRUE(Scan(c.bytes, named, plan, error)) << error;
    EXPECT_FALSE(plan.imuFoundByReports);
    EXPECT_EQ(plan.Device(ReplayRole::kImu).reports, 1u);
    EXPECT_EQ(ReadAll(c.bytes, plan).at(0).event.micros, 0);
}

// Found by its reports in the one reading, the IMU has the story it has
// when its address is named: the same reports, losses, returns, serial and
// foreign input, whatever came at its address before its first report.
TEST(ReplaySchedule, AnImuFoundByItsReportsHasTheStoryOfOneNamedByAddress) {
    const std::vector<uint8_t> foreign{0x21, 1, 2};
    struct Row {
        const char* name;
        CaptureBuilder capture;
        uint16_t address;
        uint8_t endpoint;
        size_t transitions;
        std::u16string serial;
    };
    Row rows[] = {{"loss and return", {}, 19, 0x81, 2, u""},
                  {"serial of a device of another product", {}, 5, 0x81, 0, u"LHR-DONGLE"},
                  {"on its second endpoint", {}, 7, 0x82, 2, u""},
                  {"a loss before its first report", {}, 3, 0x81, 2, u""}};
    rows[0]
        .capture.Report(0, 8, Imu(1))
        .Report(10, 19, Imu(1))
        .Report(20, 19, foreign)
        .Lost(30, 19)
        .Report(2000000, 19, Imu(2))
        .Report(2000010, 19, Imu(3));
    rows[1]
        .capture.Device(0, 5, 0x28DE, 0x2101, u"LHR-DONGLE")
        .Report(10, 5, Imu(1))
        .Report(20, 5, Imu(2));
    rows[2]
        .capture.Report(0, 7, {0x01, 2}, 0, 0x81)
        .Report(10, 7, Imu(1), 0, 0x82)
        .Report(20, 7, Imu(2), 0, 0x82)
        .Report(30, 7, Imu(3), 0, 0x81)
        .Lost(40, 7)  // on 0x81: no loss of the IMU
        .Report(50, 7, {}, kUsbdStatusDeviceGone, 0x82)
        .Report(1500000, 7, Imu(4), 0, 0x82);
    rows[3].capture.Lost(0, 3).Report(10, 3, Imu(1)).Report(20, 3, Imu(2));
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ReplayPlan found, named;
        std::string error;
        ASSERT_TRUE(Scan(r.capture.bytes, {}, found, error)) << error;
        ReplayOptions options;
        options.imuAddress = r.address;
        options.imuEndpoint = r.endpoint;
        ASSERT_TRUE(Scan(r.capture.bytes, options, named, error)) << error;
        EXPECT_TRUE(found.imuFoundByReports);
        EXPECT_EQ(found.options.imuAddress, r.address);
        EXPECT_EQ(found.options.imuEndpoint, r.endpoint);
        const ReplayDevice& a = found.Device(ReplayRole::kImu);
        const ReplayDevice& b = named.Device(ReplayRole::kImu);
        EXPECT_EQ(a.address, b.address);
        EXPECT_EQ(a.serial, r.serial);
        EXPECT_EQ(b.serial, r.serial);
        EXPECT_EQ(a.reports, b.reports);
        ASSERT_EQ(a.transitions.size(), r.transitions);
        ASSERT_EQ(b.transitions.size(), r.transitions);
        for (size_t i = 0; i < r.transitions; ++i) {
            EXPECT_EQ(a.transitions[i].micros, b.transitions[i].micros) << i;
            EXPECT_EQ(a.transitions[i].kind, b.transitions[i].kind) << i;
        }
        EXPECT_EQ(found.foreign.count, named.foreign.count);
        EXPECT_EQ(found.foreign.firstMicros, named.foreign.firstMicros);
        EXPECT_EQ(ReadAll(r.capture.bytes, found).size(), ReadAll(r.capture.bytes, named).size());
    }
}

// The IMU's GET_REPORT feature transfers, in order, with their stalls; each
// completion paired with its own request; nothing else kept, nothing longer
// than the bound.
TEST(ReplaySchedule, KeepsTheImusFeatureReadsAsTheHostAskedThem) {
    std::vector<uint8_t> start(64, 0), chunk(64, 0), huge(300, 0x11);
    start[0] = 0x10, start[2] = 40;
    chunk[0] = 0x11, chunk[1] = 40;
    CaptureBuilder c;
    c.Orphan(0, 3, chunk)  // its request came before the capture did
        .Device(0, 3, 0x28DE, 0x2300, u"LHR-5A1B2C3D")
        .Control(10, 3, GetFeatureSetup(0x10, 0, 64), {}, kUsbdStatusStall)
        .Control(11, 3, GetFeatureSetup(0x10, 0, 64), start)
        .Control(12, 3, SetFeatureSetup(0x10, 0, 64), {})     // host to device: no read
        .Control(13, 9, GetFeatureSetup(0x11, 0, 64), chunk)  // another device's
        .Control(14, 3, GetFeatureSetup(0x11, 0, 64), chunk)
        .Control(15, 3, GetFeatureSetup(0x11, 0, 300), huge)
        .Report(1000, 3, Imu(1));
    ReplayPlan plan;
    std::string error;
    ASSERT_TRUE(Scan(c.bytes, {}, plan, error)) << error;
    const std::vector<FeatureExchange>& held = plan.Device(ReplayRole::kImu).features;
    struct Want {
        uint8_t reportId;
        bool answered;
        size_t bytes;
    };
    const Want want[] = {
        {0x10, false, 0}, {0x10, true, 64}, {0x11, true, 64}, {0x11, true, kMaxFeatureAnswerBytes}};
    ASSERT_EQ(held.size(), std::size(want));
    for (size_t i = 0; i < held.size(); ++i) {
        EXPECT_EQ(held[i].reportId, want[i].reportId) << i;
        EXPECT_EQ(held[i].answered, want[i].answered) << i;
        EXPECT_EQ(held[i].data.size(), want[i].bytes) << i;
    }
    EXPECT_EQ(held[1].data, start);
    EXPECT_EQ(plan.Device(ReplayRole::kImu).reports, 1u);  // control transfers are no reports
}

TEST(ReplaySchedule, RefusesWhatIsNoUsbCaptureAndKeepsTheWholePacketsOfACutOne) {
    CaptureBuilder good;
    good.Device(0, 1, 0x28DE, 0x2300).Report(10, 1, Imu(1)).Report(20, 1, Imu(2));
    const std::vector<uint8_t> whole = good.bytes;
    const size_t header = kPcapFileHeaderBytes;
    const size_t firstRecord = header;  // the GET_DESCRIPTOR request: 16 + 28 + 8 bytes

    std::vector<uint8_t> ethernet = Replace32(whole, 20, 1);
    std::vector<uint8_t> swappedEthernet = ethernet;
    std::reverse(swappedEthernet.begin(), swappedEthernet.begin() + 4);
    std::vector<uint8_t> nothingOfOurs;
    CaptureBuilder keyboard;
    keyboard.Device(0, 1, 0x046D, 0xC31C).Report(10, 1, {1, 2, 3});
    nothingOfOurs = keyboard.bytes;

    struct Row {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* error;  // null: read, cut short
        size_t packets;
    };
    const Row rows[] = {
        {"empty", {}, "not a pcap or pcapng capture", 0},
        {"text", {'h', 'e', 'l', 'l', 'o', '\n'}, "not a pcap or pcapng capture", 0},
        {"pcapng", {0x0A, 0x0D, 0x0D, 0x0A, 0, 0, 0, 0}, "pcapng section", 0},
        {"ethernet", ethernet, "link type 1 is not USB", 0},
        {"other byte order", swappedEthernet, "link type 16777216 is not USB", 0},
        {"header cut", std::vector<uint8_t>(whole.begin(), whole.begin() + 20),
         "pcap file header cut short", 0},
        {"record longer than its packet", Replace32(whole, firstRecord + 8, 100),
         "packet 1: more data in the record than", 0},
        {"absurd record", Replace32(whole, firstRecord + 8, 0xFFFFFFF0), "packet 1: record of 4294",
         0},
        {"usbpcap header too short",
         Replace32(Replace32(whole, firstRecord + 8, 20), firstRecord + 12, 20),
         "packet 1: record of 20 bytes, shorter than a USBPcap header", 0},
        {"no headset device", nothingOfOurs,
         "no Watchman (28DE:2300) or MCU (35BD:0101) device descriptor and no IMU report", 0},
        {"cut inside the last report", std::vector<uint8_t>(whole.begin(), whole.end() - 30),
         nullptr, 3},
        {"cut inside a record header", std::vector<uint8_t>(whole.begin(), whole.end() - 90),
         nullptr, 2},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ReplayPlan s;
        std::string error;
        const bool ok = Scan(r.bytes, {}, s, error);
        if (r.error != nullptr) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(error.substr(0, std::string(r.error).size()), r.error);
        } else {
            ASSERT_TRUE(ok) << error;
            EXPECT_TRUE(s.truncated);
            EXPECT_EQ(s.packets, r.packets);
        }
    }
}

}  // namespace
}  // namespace brisk::capture
