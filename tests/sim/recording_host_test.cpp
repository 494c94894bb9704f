// The recording host between the tool and a virtual Watchman: every call goes
// through unchanged, and the file holds the device's descriptors when it first
// takes part and again after a loss, each report exactly as read, and the loss.
#include "capture/recording_host.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "capture/capture_recorder.h"
#include "capture/packet_source.h"
#include "sim/usb_bus.h"
#include "sim/watchman.h"
#include "support/temp_path.h"

namespace brisk::sim {
namespace {

std::wstring ImuPath(HidHost& host) {
    std::vector<HidDeviceInfo> devices;
    host.ListHidDevices(devices);
    for (const HidDeviceInfo& d : devices) {
        if (d.interfaceNumber == 0) {
            return d.path;
        }
    }
    return L"";
}

TEST(RecordingHost, RecordsTheReportsAsReadTheLossAndTheReturn) {
    const std::string path = test::TempPath("brisk-recording-host-test.pcap");
    UsbBus bus;
    bus.SetDeliveryTick(std::chrono::microseconds(0));
    const UsbDeviceId watchman = bus.Attach(
        WatchmanDevice(L"LHR-TEST", {L"0000:00:14.0", {2}}, std::make_shared<WatchmanModel>()));
    capture::CaptureRecorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.Create(path, error)) << error;
    recorder.Start();
    std::vector<std::vector<uint8_t>> read;
    {
        capture::RecordingHidHost host(bus, recorder);
        const Handle event = host.CreateReadEvent();
        auto readOne = [&](Handle device) {
            uint8_t buf[64];
            const ReadResult r = host.ReadTimed(device, event, buf, sizeof buf, 1000);
            if (r.outcome == ReadOutcome::Completed) {
                read.emplace_back(buf, buf + r.bytes);
            }
            return r.outcome;
        };
        Handle device = host.Open(ImuPath(host));
        ASSERT_NE(device, kInvalidHandle);
        EXPECT_EQ(readOne(device), ReadOutcome::Completed);
        bus.Unplug(watchman);
        EXPECT_NE(readOne(device), ReadOutcome::Completed);
        host.Close(device);
        bus.Plug(watchman);
        device = host.Open(ImuPath(host));
        EXPECT_EQ(readOne(device), ReadOutcome::Completed);
        host.Close(device);
        host.Close(event);
    }
    recorder.Stop();
    EXPECT_EQ(bus.OpenHandles(), 0u);

    std::unique_ptr<capture::PacketSource> source = capture::OpenPacketSource(path, error);
    ASSERT_TRUE(source) << error;
    capture::UsbPacket p;
    int deviceDescriptors = 0, losses = 0;
    std::vector<std::vector<uint8_t>> recorded;
    while (source->Read(p, error) == capture::SourceStatus::kPacket) {
        EXPECT_EQ(p.device, 1);
        // A device descriptor answers a control transfer (an IMU report's
        // second byte can be 1 too).
        if (p.transfer == capture::UsbTransfer::kControl && p.completion && p.captured >= 18 &&
            p.data[1] == 1) {
            ++deviceDescriptors;
        } else if (p.transfer == capture::UsbTransfer::kInterrupt && p.endpoint == 0x81) {
            if (p.outcome == capture::UsbOutcome::kOk) {
                recorded.emplace_back(p.data, p.data + p.captured);
            } else {
                ++losses;
            }
        }
    }
    EXPECT_EQ(deviceDescriptors, 2);  // when it first took part, and when it came back
    EXPECT_EQ(losses, 1);
    EXPECT_EQ(recorded, read);
    source.reset();  // Windows removes no file that is still open
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace brisk::sim
