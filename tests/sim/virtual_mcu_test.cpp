// The virtual MCU model on its own, with the clock in the test's hands: what
// it sends after a rate command, and its sleep, backlog and power-up behaviour.
#include <gtest/gtest.h>

#include <vector>

#include "sim/virtual_mcu.h"

namespace brisk::sim {
namespace {

using namespace std::chrono_literals;

const uint8_t kRate20[65] = {0x00, 'R', 0x00, 20};

std::vector<InputReport> Take(HidInterfaceModel& m, Clock::time_point now) {
    std::vector<InputReport> out;
    m.Produce(now, out);
    return out;
}

TEST(VirtualMcuModel, AcksThenStreamsTheDistanceAtThePeriod) {
    VirtualMcu mcu;
    HidInterfaceModel& m = *mcu.Interfaces()[0];
    Clock::time_point const t0 = Clock::now();
    EXPECT_EQ(m.NextDue(t0), Clock::time_point::max());  // silent until commanded
    ASSERT_TRUE(m.OnFeature(kRate20, sizeof kRate20, t0));
    EXPECT_EQ(mcu.PeriodMs(0), 20);

    std::vector<InputReport> r = Take(m, t0);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].length, 65);
    EXPECT_EQ(r[0].bytes[0], 0x00);
    EXPECT_EQ(r[0].bytes[1], '$');
    EXPECT_EQ(m.NextDue(t0), t0 + 20ms);

    mcu.SetDistance(0x05DC);
    r = Take(m, t0 + 45ms);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].bytes[1], '#');
    EXPECT_EQ(r[1].bytes[5], 0x05);
    EXPECT_EQ(r[1].bytes[6], 0xDC);
    EXPECT_EQ(m.NextDue(t0 + 45ms), t0 + 60ms);

    mcu.SetReportIdZero(false);
    r = Take(m, t0 + 60ms);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].length, 64);
    EXPECT_EQ(r[0].bytes[0], '#');
    EXPECT_EQ(r[0].bytes[4], 0x05);
    EXPECT_EQ(r[0].bytes[5], 0xDC);
}

TEST(VirtualMcuModel, TelemetryBeforeAckAndAckOff) {
    VirtualMcu mcu(2);
    mcu.SetTelemetryBeforeAck(2);
    mcu.SetAck(1, false);
    Clock::time_point const t0 = Clock::now();
    HidInterfaceModel& first = *mcu.Interfaces()[0];
    HidInterfaceModel& second = *mcu.Interfaces()[1];
    ASSERT_TRUE(first.OnFeature(kRate20, sizeof kRate20, t0));
    ASSERT_TRUE(second.OnFeature(kRate20, sizeof kRate20, t0));
    std::vector<InputReport> r = Take(first, t0 + 50ms);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].bytes[1], '#');
    EXPECT_EQ(r[1].bytes[1], '#');
    EXPECT_EQ(r[2].bytes[1], '$');
    r = Take(second, t0 + 50ms);
    ASSERT_EQ(r.size(), 3u);
    for (const InputReport& report : r) {
        EXPECT_EQ(report.bytes[1], '#');
    }
}

TEST(VirtualMcuModel, RefusesSleepsDropsOldBacklogAndPowersUpSilent) {
    VirtualMcu mcu(2);
    mcu.SetRefuseFeature(1, true);
    EXPECT_FALSE(mcu.Interfaces()[1]->OnFeature(kRate20, sizeof kRate20, Clock::now()));
    EXPECT_EQ(mcu.RateCommands(1), 0u);

    HidInterfaceModel& m = *mcu.Interfaces()[0];
    Clock::time_point const t0 = Clock::now();
    ASSERT_TRUE(m.OnFeature(kRate20, sizeof kRate20, t0));
    // Nobody read for 100 periods: only what a host buffer would have kept.
    EXPECT_LE(Take(m, t0 + 2s).size(), 32u);

    mcu.Sleep();
    Clock::time_point const t1 = Clock::now() + 3s;
    EXPECT_EQ(m.NextDue(t1), Clock::time_point::max());
    EXPECT_TRUE(Take(m, t1).empty());
    uint8_t const junk[] = {0x00};
    mcu.Inject(0, junk, sizeof junk);  // injected reports go out even while asleep
    EXPECT_EQ(Take(m, t1).size(), 1u);
    mcu.Wake();
    Clock::time_point const woke = Clock::now();
    EXPECT_LE(Take(m, woke + 30ms).size(), 2u);  // no backlog from the sleep

    mcu.PowerCycle();
    EXPECT_EQ(m.NextDue(woke), Clock::time_point::max());
    EXPECT_TRUE(Take(m, woke + 1s).empty());
}

}  // namespace
}  // namespace brisk::sim
