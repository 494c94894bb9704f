// McuProx against a virtual MCU in real time: the printed lines, worn/away,
// loss and reconnect, and Start/Stop. Where the number of telemetry messages
// matters the MCU is commanded to period 0 (acknowledged, no stream) and the
// test injects the messages itself.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "prox/mcu_prox.h"
#include "mcu_bus_fixture.h"
#include "prox_test_support.h"

namespace brisk::test {
namespace {

using namespace std::chrono_literals;

const std::string kStartLine = "McuProx: telemetry at 20 ms, threshold 1500 +/- 100\n";
const std::string kNoAckLine =
    "McuProx: no 35BD:0101 interface ACKed the rate command (Davovo unplugged?)\n";
const std::string kReadFailedLine =
    "McuProx: read failed (err 1167) — device gone, waiting for reconnect\n";
const std::string kSilentLine =
    "McuProx: telemetry silent 3s — device gone, waiting for reconnect\n";
const std::string kReconnectLine = "McuProx: device reconnected, telemetry restarted\n";

class McuProxTest : public McuBusTest {
  protected:
    void Inject(std::initializer_list<uint8_t> bytes) {
        std::vector<uint8_t> b(bytes);
        mcu.Inject(0, b.data(), b.size());
        bus.Notify();
    }
    void InjectDistance(uint16_t d) {
        Inject({0x00, 0x23, 0, 0, 0, static_cast<uint8_t>(d >> 8), static_cast<uint8_t>(d & 0xFF)});
    }
    void SetDistance(uint16_t d) {
        mcu.SetDistance(d);
        bus.Notify();
    }

    sim::VirtualMcu mcu;
    OutputCapture capture;
};

TEST_F(McuProxTest, StreamsDistanceAndWornWithHysteresis) {
    AttachMcu(mcu);
    McuProx prox(bus);
    EXPECT_FALSE(prox.IsWorn());
    EXPECT_EQ(prox.Distance(), 0);
    ASSERT_TRUE(prox.Start(20));
    EXPECT_EQ(capture.Out(), kStartLine);
    EXPECT_EQ(mcu.PeriodMs(0), 20);

    EXPECT_TRUE(WaitUntil([&] { return prox.Distance() == sim::kMcuAwayDistance; }));
    EXPECT_FALSE(prox.IsWorn());
    SetDistance(2000);
    EXPECT_TRUE(WaitUntil([&] { return prox.IsWorn(); }));
    // Inside the band the state holds, however long the mean sits there.
    SetDistance(1401);
    ASSERT_TRUE(WaitUntil([&] { return prox.Distance() == 1401; }));
    std::this_thread::sleep_for(400ms);  // 20 messages: the mean is all 1401
    EXPECT_TRUE(prox.IsWorn());
    SetDistance(1400);
    EXPECT_TRUE(WaitUntil([&] { return !prox.IsWorn(); }));

    prox.Stop();
    EXPECT_EQ(capture.Err(), "");
}

TEST_F(McuProxTest, NoMcuStartFailsWithItsLine) {
    bus.Attach(ForeignDesc());
    McuProx prox(bus);
    EXPECT_FALSE(prox.Start(50));
    EXPECT_EQ(capture.Err(), kNoAckLine);
    EXPECT_EQ(capture.Out(), "");
    prox.Stop();
    prox.Stop();
    EXPECT_FALSE(prox.IsWorn());
    EXPECT_EQ(prox.Distance(), 0);
}

TEST_F(McuProxTest, WarmUpOfEightAfterStartAndAfterReconnect) {
    sim::UsbDeviceId const id = AttachMcu(mcu);
    McuProx prox(bus);
    ASSERT_TRUE(prox.Start(0));
    for (uint16_t d = 2001; d <= 2007; ++d) {
        InjectDistance(d);
    }
    ASSERT_TRUE(WaitUntil([&] { return prox.Distance() == 2007; }));
    EXPECT_FALSE(prox.IsWorn());
    InjectDistance(2008);
    EXPECT_TRUE(WaitUntil([&] { return prox.IsWorn(); }));

    bus.Unplug(id);
    ASSERT_TRUE(WaitUntil([&] { return capture.Err() == kReadFailedLine; }));
    auto const lost = std::chrono::steady_clock::now();
    EXPECT_FALSE(prox.IsWorn());
    EXPECT_EQ(prox.Distance(), 0);
    bus.Plug(id);
    ASSERT_TRUE(WaitUntil([&] { return capture.Err() == kReadFailedLine + kReconnectLine; }));
    EXPECT_GE(SecondsSince(lost), 1.8);
    EXPECT_EQ(mcu.RateCommands(0), 2u);

    for (uint16_t d = 3001; d <= 3007; ++d) {
        InjectDistance(d);
    }
    ASSERT_TRUE(WaitUntil([&] { return prox.Distance() == 3007; }));
    EXPECT_FALSE(prox.IsWorn());
    InjectDistance(3008);
    EXPECT_TRUE(WaitUntil([&] { return prox.IsWorn(); }));
    prox.Stop();
    EXPECT_EQ(capture.Err(), kReadFailedLine + kReconnectLine);
}

TEST_F(McuProxTest, ThreeSilentSecondsLoseTheMcuShortReportsResetTheCount) {
    AttachMcu(mcu);
    McuProx prox(bus);
    ASSERT_TRUE(prox.Start(20));
    SetDistance(2000);
    ASSERT_TRUE(WaitUntil([&] { return prox.IsWorn(); }));

    mcu.Sleep();
    bus.Notify();
    auto const asleep = std::chrono::steady_clock::now();
    // A report too short for telemetry is still traffic: the count starts again.
    std::this_thread::sleep_for(1500ms);
    Inject({0x00, 0x23, 0, 0, 0, 0x05});
    EXPECT_EQ(prox.Distance(), 2000);
    ASSERT_TRUE(WaitUntil([&] { return capture.Err() == kSilentLine; })) << capture.Err();
    EXPECT_GE(SecondsSince(asleep), 4.3);
    EXPECT_FALSE(prox.IsWorn());
    EXPECT_EQ(prox.Distance(), 0);

    mcu.Wake();
    bus.Notify();
    EXPECT_TRUE(WaitUntil([&] { return capture.Err() == kSilentLine + kReconnectLine; }))
        << capture.Err();
    EXPECT_TRUE(WaitUntil([&] { return prox.Distance() == 2000; })) << prox.Distance();
}

TEST_F(McuProxTest, StopCancelsThePendingReadAtOnce) {
    AttachMcu(mcu);
    McuProx prox(bus);
    ASSERT_TRUE(prox.Start(0));  // acknowledged, then nothing: the read stays pending
    std::this_thread::sleep_for(100ms);
    auto const t0 = std::chrono::steady_clock::now();
    prox.Stop();
    EXPECT_LT(SecondsSince(t0), 0.6);  // without the cancel it would sit out the 1 s read
    EXPECT_EQ(capture.Err(), "");
}

TEST_F(McuProxTest, StartTwiceStopTwiceKeepsTheLastValues) {
    AttachMcu(mcu);
    McuProx prox(bus);
    ASSERT_TRUE(prox.Start(20));
    ASSERT_TRUE(prox.Start(20));
    SetDistance(2000);
    ASSERT_TRUE(WaitUntil([&] { return prox.IsWorn() && prox.Distance() == 2000; }));
    prox.Stop();
    prox.Stop();
    EXPECT_TRUE(prox.IsWorn());
    EXPECT_EQ(prox.Distance(), 2000);
    EXPECT_EQ(mcu.RateCommands(0), 1u);

    // Started again: a fresh reader, the same lines.
    ASSERT_TRUE(prox.Start(20));
    SetDistance(500);
    EXPECT_TRUE(WaitUntil([&] { return !prox.IsWorn() && prox.Distance() == 500; }));
    prox.Stop();
    EXPECT_EQ(capture.Out(), kStartLine + kStartLine);
    EXPECT_EQ(capture.Err(), "");
}

}  // namespace
}  // namespace brisk::test
