// The MCU's wire format: feature report framing, message location, telemetry
// decoding and what a read during the acknowledgement wait means.
#include <gtest/gtest.h>

#include <vector>

#include "prox/mcu_protocol.h"

namespace brisk {
namespace {

std::vector<uint8_t> Bytes(const McuReport& r) {
    return {r.begin(), r.end()};
}

std::vector<uint8_t> Padded(std::vector<uint8_t> head) {
    head.resize(kMcuReportBytes, 0);
    return head;
}

TEST(McuFraming, RateCommandReportsAreBigEndianAndZeroPadded) {
    RateCommandBytes const fifty = RateCommand(50);
    EXPECT_EQ(Bytes(FrameCommand(fifty.data(), fifty.size())), Padded({0x00, 0x52, 0x00, 0x32}));
    RateCommandBytes const second = RateCommand(1000);
    EXPECT_EQ(Bytes(FrameCommand(second.data(), second.size())), Padded({0x00, 0x52, 0x03, 0xE8}));
}

TEST(McuFraming, LongCommandIsCutTo64Bytes) {
    std::vector<uint8_t> command(70);
    for (size_t i = 0; i < command.size(); ++i) {
        command[i] = static_cast<uint8_t>(i + 1);
    }
    McuReport const report = FrameCommand(command.data(), command.size());
    EXPECT_EQ(report[0], 0);
    EXPECT_EQ(report[1], 1);
    EXPECT_EQ(report[64], 64);  // the 64th command byte is the last one sent
}

TEST(McuMessageLocation, ReportIdZeroIsSkippedOnlyWhenSomethingFollows) {
    uint8_t const withId[] = {0x00, 0x24};
    McuMessage m = LocateMessage(withId, 2);
    EXPECT_EQ(m.bytes, withId + 1);
    EXPECT_EQ(m.length, 1u);

    uint8_t const bare[] = {0x24};
    m = LocateMessage(bare, 1);
    EXPECT_EQ(m.bytes, bare);
    EXPECT_EQ(m.length, 1u);

    uint8_t const lone[] = {0x00};
    m = LocateMessage(lone, 1);
    EXPECT_EQ(m.bytes, lone);
    EXPECT_EQ(m.length, 1u);

    EXPECT_EQ(LocateMessage(withId, 0).length, 0u);
}

TEST(McuTelemetry, DistanceIsBigEndianAtMessageBytes4And5) {
    uint8_t const withId[] = {0x00, 0x23, 0x00, 0x00, 0x00, 0x05, 0xDC};
    uint8_t const bare[] = {0x23, 0x00, 0x00, 0x00, 0x05, 0xDC};
    uint8_t const skewed[] = {0x00, 0x23, 0xAA, 0xBB, 0xCC, 0x12, 0x34, 0x56};
    uint16_t d = 0;
    ASSERT_TRUE(TelemetryDistance(LocateMessage(withId, sizeof withId), d));
    EXPECT_EQ(d, 1500);
    d = 0;
    ASSERT_TRUE(TelemetryDistance(LocateMessage(bare, sizeof bare), d));
    EXPECT_EQ(d, 1500);
    ASSERT_TRUE(TelemetryDistance(LocateMessage(skewed, sizeof skewed), d));
    EXPECT_EQ(d, 0x1234);
}

TEST(McuTelemetry, ShortOrForeignMessagesCarryNoDistance) {
    uint8_t const fiveBytes[] = {0x00, 0x23, 0x00, 0x00, 0x00, 0x05};
    uint8_t const ack[] = {0x00, 0x24, 0x00, 0x00, 0x00, 0x05, 0xDC};
    uint8_t const lone[] = {0x00};
    uint16_t d = 77;
    EXPECT_FALSE(TelemetryDistance(LocateMessage(fiveBytes, sizeof fiveBytes), d));
    EXPECT_FALSE(TelemetryDistance(LocateMessage(ack, sizeof ack), d));
    EXPECT_FALSE(TelemetryDistance(LocateMessage(lone, sizeof lone), d));
    EXPECT_FALSE(TelemetryDistance(McuMessage{}, d));
    EXPECT_EQ(d, 77);
}

TEST(McuAckWait, TagsDecideEachRead) {
    uint8_t const ackWithId[] = {0x00, 0x24};
    uint8_t const ackBare[] = {0x24};
    uint8_t const telemetry[] = {0x00, 0x23, 0, 0, 0, 0x05, 0xDC};
    uint8_t const telemetryShort[] = {0x23};
    uint8_t const foreign[] = {0x00, 0x41};
    uint8_t const lone[] = {0x00};
    EXPECT_EQ(ClassifyAckRead(2, ackWithId), AckStep::Acknowledged);
    EXPECT_EQ(ClassifyAckRead(1, ackBare), AckStep::Acknowledged);
    EXPECT_EQ(ClassifyAckRead(7, telemetry), AckStep::KeepWaiting);
    EXPECT_EQ(ClassifyAckRead(1, telemetryShort), AckStep::KeepWaiting);
    EXPECT_EQ(ClassifyAckRead(2, foreign), AckStep::NotAcknowledged);
    EXPECT_EQ(ClassifyAckRead(1, lone), AckStep::NotAcknowledged);
    EXPECT_EQ(ClassifyAckRead(0, ackWithId), AckStep::NotAcknowledged);
    EXPECT_EQ(ClassifyAckRead(-1, ackWithId), AckStep::NotAcknowledged);
}

}  // namespace
}  // namespace brisk
