// MCU discovery and the rate command on the virtual bus: which interface is
// kept, which are closed unsent, and what goes over the wire.
#include <gtest/gtest.h>

#include <vector>

#include "prox/mcu_discovery.h"
#include "prox/mcu_protocol.h"
#include "mcu_bus_fixture.h"

namespace brisk::test {
namespace {

// Takes every feature report and keeps it; never sends anything.
class RecordingInterface final : public sim::HidInterfaceModel {
  public:
    void Produce(sim::Clock::time_point, std::vector<sim::InputReport>&) override {}
    sim::Clock::time_point NextDue(sim::Clock::time_point) const override {
        return sim::Clock::time_point::max();
    }
    bool OnFeature(const uint8_t* report, size_t length, sim::Clock::time_point) override {
        features.emplace_back(report, report + length);
        return true;
    }
    std::vector<std::vector<uint8_t>> features;  // read by the test thread after its calls
};

std::vector<uint8_t> Padded(std::vector<uint8_t> head) {
    head.resize(kMcuReportBytes, 0);
    return head;
}

using McuDiscoveryTest = McuBusTest;

TEST_F(McuDiscoveryTest, FeatureReportsGoOutWhole) {
    auto recorder = std::make_shared<RecordingInterface>();
    sim::UsbDeviceDesc desc;
    desc.vendorId = kMcuVendorId;
    desc.productId = kMcuProductId;
    desc.port = kMcuPort;
    desc.interfaces = {recorder};
    bus.Attach(desc);
    std::vector<Handle> handles = EnumerateMcuInterfaces(bus);
    ASSERT_EQ(handles.size(), 1u);

    RateCommandBytes const fifty = RateCommand(50);
    RateCommandBytes const second = RateCommand(1000);
    std::vector<uint8_t> longCommand(70, 0x11);
    longCommand[63] = 0x63;
    EXPECT_TRUE(SendFeatureReport(bus, handles[0], fifty.data(), fifty.size()));
    EXPECT_TRUE(SendFeatureReport(bus, handles[0], second.data(), second.size()));
    EXPECT_TRUE(SendFeatureReport(bus, handles[0], longCommand.data(), longCommand.size()));
    bus.Close(handles[0]);

    ASSERT_EQ(recorder->features.size(), 3u);
    EXPECT_EQ(recorder->features[0], Padded({0x00, 0x52, 0x00, 0x32}));
    EXPECT_EQ(recorder->features[1], Padded({0x00, 0x52, 0x03, 0xE8}));
    ASSERT_EQ(recorder->features[2].size(), kMcuReportBytes);
    EXPECT_EQ(recorder->features[2][0], 0x00);
    EXPECT_EQ(recorder->features[2][64], 0x63);
}

TEST_F(McuDiscoveryTest, EnumerationOpensOnlyTheMcu) {
    sim::VirtualMcu mcu(2);
    bus.Attach(ForeignDesc());
    AttachMcu(mcu);
    std::vector<Handle> handles = EnumerateMcuInterfaces(bus);
    EXPECT_EQ(handles.size(), 2u);
    EXPECT_EQ(bus.OpensOf(L"28de:2300/"), 0u);  // listed as something else: never opened
    EXPECT_EQ(bus.OpenHandles(), handles.size());
    for (Handle h : handles) {
        bus.Close(h);
    }
}

TEST_F(McuDiscoveryTest, FirstInterfaceThatAcknowledgesIsKeptTheNextClosedUnsent) {
    sim::VirtualMcu mcu(2);
    AttachMcu(mcu);
    Handle const event = bus.CreateReadEvent();
    Handle const h = OpenTelemetryInterface(bus, 50, event);
    ASSERT_NE(h, kInvalidHandle);
    EXPECT_EQ(mcu.RateCommands(0), 1u);
    EXPECT_EQ(mcu.PeriodMs(0), 50);
    EXPECT_EQ(mcu.RateCommands(1), 0u);
    EXPECT_EQ(bus.OpensOf(L"35bd:0101/if1"), 1u);
    EXPECT_EQ(bus.OpenHandles(), 1u);
    bus.Close(h);
    bus.Close(event);
}

TEST_F(McuDiscoveryTest, RefusedOrUnacknowledgedInterfacesAreDropped) {
    sim::VirtualMcu mcu(3);
    mcu.SetRefuseFeature(0, true);
    mcu.SetAck(1, false);  // streams telemetry, never says "$"
    AttachMcu(mcu);
    Handle const event = bus.CreateReadEvent();
    Handle const h = OpenTelemetryInterface(bus, 5, event);
    ASSERT_NE(h, kInvalidHandle);
    EXPECT_EQ(mcu.RateCommands(0), 0u);
    EXPECT_EQ(mcu.RateCommands(1), 1u);
    EXPECT_EQ(mcu.RateCommands(2), 1u);
    EXPECT_EQ(bus.OpenHandles(), 1u);
    bus.Close(h);
    bus.Close(event);
}

TEST_F(McuDiscoveryTest, AckMayFollowUpToNineTelemetryMessagesNotTen) {
    sim::VirtualMcu mcu;
    AttachMcu(mcu);
    Handle const event = bus.CreateReadEvent();

    // The "$" would be the 11th read: it must never be made.
    mcu.SetTelemetryBeforeAck(10);
    EXPECT_EQ(OpenTelemetryInterface(bus, 5, event), kInvalidHandle);
    EXPECT_EQ(bus.OpenHandles(), 0u);

    mcu.SetTelemetryBeforeAck(9);
    Handle const h = OpenTelemetryInterface(bus, 5, event);
    EXPECT_NE(h, kInvalidHandle);
    bus.Close(h);
    bus.Close(event);
}

TEST_F(McuDiscoveryTest, AckWithoutReportIdZeroCounts) {
    sim::VirtualMcu mcu;
    mcu.SetReportIdZero(false);
    mcu.SetTelemetryBeforeAck(2);
    AttachMcu(mcu);
    Handle const event = bus.CreateReadEvent();
    Handle const h = OpenTelemetryInterface(bus, 5, event);
    EXPECT_NE(h, kInvalidHandle);
    bus.Close(h);
    bus.Close(event);
}

TEST_F(McuDiscoveryTest, NoMcuNoHandle) {
    bus.Attach(ForeignDesc());
    Handle const event = bus.CreateReadEvent();
    EXPECT_EQ(OpenTelemetryInterface(bus, 50, event), kInvalidHandle);
    EXPECT_EQ(bus.OpenHandles(), 0u);
    bus.Close(event);
}

TEST_F(McuDiscoveryTest, TimedReadOutcomes) {
    sim::VirtualMcu mcu;
    sim::UsbDeviceId const id = AttachMcu(mcu);
    std::vector<Handle> handles = EnumerateMcuInterfaces(bus);
    ASSERT_EQ(handles.size(), 1u);
    Handle const h = handles[0];
    Handle const event = bus.CreateReadEvent();
    uint8_t buf[kMcuReportBytes] = {};

    EXPECT_EQ(ReadReportTimed(bus, h, event, buf, sizeof buf, 20), 0);  // not commanded: silent

    RateCommandBytes const rate = RateCommand(50);
    ASSERT_TRUE(SendFeatureReport(bus, h, rate.data(), rate.size()));
    EXPECT_EQ(ReadReportTimed(bus, h, event, buf, sizeof buf, 2000), 65);
    EXPECT_EQ(buf[0], 0x00);
    EXPECT_EQ(buf[1], '$');

    bus.Unplug(id);
    uint32_t err = 0;
    EXPECT_EQ(ReadReportTimed(bus, h, event, buf, sizeof buf, 2000, &err), -1);
    EXPECT_EQ(err, kErrorDeviceNotConnected);
    bus.Close(h);
    bus.Close(event);
}

}  // namespace
}  // namespace brisk::test
