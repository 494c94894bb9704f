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

TEST(ReplaySchedule, FollowsTheHeadsetsDevicesThroughLossAndReenumeration) {
    CaptureBuilder c;
    c.Device(0, 3, 0x28DE, 0x2300, u"LHR-5A1B2C3D")
        .Device(10, 9, 0x28DE, 0x2300, u"LHR-OTHER")  // a tracker: not the headset's
        .Report(100, 9, Imu(77))
        .Report(1000, 3, Imu(1))
        .Report(1000, 3, Imu(2), 0, 0x82)  // another interface of the Watchman
        .Device(1500, 4, 0x35BD, 0x0101)
        .Report(1600, 4, {0x00, '#', 0, 0, 0, 0x06, 0xA4})
        .Lost(2000000, 3)
        .Lost(2000100, 3)                                     // a second failure of the same loss
        .Device(2500000, 3, 0x28DE, 0x2300, u"LHR-5A1B2C3D")  // back within a second
        .Lost(3000000, 3)
        .Device(6000000, 12, 0x28DE, 0x2300, u"LHR-5A1B2C3D")  // re-enumerated elsewhere
        .Report(6000010, 12, Imu(9));
    ReplaySchedule s;
    std::string error;
    ASSERT_TRUE(BuildReplaySchedule(c.bytes.data(), c.bytes.size(), {}, s, error)) << error;
    EXPECT_FALSE(s.truncated);

    const ReplayDevice& imu = s.Device(ReplayRole::kImu);
    EXPECT_EQ(imu.address, 12);
    EXPECT_EQ(imu.serial, u"LHR-5A1B2C3D");
    using K = ReplayEventKind;
    const std::vector<std::pair<int64_t, K>> want = {{1000, K::kReport},  {2000000, K::kLost},
                                                     {2000000, K::kBack}, {3000000, K::kLost},
                                                     {5000000, K::kBack}, {6000010, K::kReport}};
    ASSERT_EQ(imu.events.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(imu.events[i].micros, want[i].first) << i;
        EXPECT_EQ(imu.events[i].kind, want[i].second) << i;
    }
    // The zeros the recording left out are back.
    ASSERT_EQ(imu.events[5].length, 64);
    EXPECT_EQ(s.bytes[imu.events[5].offset + 17], 9);
    EXPECT_EQ(s.bytes[imu.events[5].offset + 63], 0);

    const ReplayDevice& mcu = s.Device(ReplayRole::kMcu);
    EXPECT_EQ(mcu.address, 4);
    EXPECT_TRUE(mcu.serial.empty());
    ASSERT_EQ(mcu.events.size(), 1u);
    EXPECT_EQ(mcu.events[0].length, 7);

    // Named by address, the tracker is the IMU.
    ASSERT_TRUE(BuildReplaySchedule(c.bytes.data(), c.bytes.size(), {9, 0}, s, error)) << error;
    ASSERT_EQ(s.Device(ReplayRole::kImu).events.size(), 1u);
    EXPECT_EQ(s.bytes[s.Device(ReplayRole::kImu).events[0].offset + 17], 77);
}

TEST(ReplaySchedule, RefusesWhatIsNoUsbPcapCaptureAndKeepsTheWholePacketsOfACutOne) {
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
        {"empty", {}, "not a pcap file (too short)", 0},
        {"text", {'h', 'e', 'l', 'l', 'o', '\n'}, "not a pcap file (magic 0x6C6C6568)", 0},
        {"pcapng", {0x0A, 0x0D, 0x0D, 0x0A, 0, 0, 0, 0}, "a pcapng file", 0},
        {"ethernet", ethernet, "link type 1, not USBPcap (249)", 0},
        {"other byte order", swappedEthernet, "link type 16777216, not USBPcap (249)", 0},
        {"header cut", std::vector<uint8_t>(whole.begin(), whole.begin() + 20),
         "pcap file header cut short", 0},
        {"record longer than its packet", Replace32(whole, firstRecord + 8, 100),
         "packet 1: record lengths 100/36 make no sense", 0},
        {"absurd record", Replace32(whole, firstRecord + 8, 0xFFFFFFF0), "packet 1: record lengths",
         0},
        {"usbpcap header too short",
         Replace32(Replace32(whole, firstRecord + 8, 20), firstRecord + 12, 20),
         "packet 1: record of 20 bytes, shorter than a USBPcap header", 0},
        {"no headset device", nothingOfOurs, "no Watchman (28DE:2300) or MCU (35BD:0101)", 0},
        {"cut inside the last report", std::vector<uint8_t>(whole.begin(), whole.end() - 30),
         nullptr, 3},
        {"cut inside a record header", std::vector<uint8_t>(whole.begin(), whole.end() - 90),
         nullptr, 2},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ReplaySchedule s;
        std::string error;
        const bool ok = BuildReplaySchedule(r.bytes.data(), r.bytes.size(), {}, s, error);
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
