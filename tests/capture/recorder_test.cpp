// The recorder when the disk cannot keep up: the queue fills, the writer says
// so once and stops, and the file holds every whole packet it wrote.
#include "capture/capture_recorder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "capture/packet_source.h"
#include "support/output_capture.h"
#include "support/temp_path.h"

namespace brisk::capture {
namespace {

TEST(CaptureRecorder, AFullQueueStopsTheRecordingWithOneLineAndAWholeFile) {
    const std::string path = test::TempPath("brisk-recorder-overflow.pcap");
    const test::Printed printed = test::CaptureOutput([&] {
        CaptureRecorder recorder(2);
        std::string error;
        ASSERT_TRUE(recorder.Create(path, error)) << error;
        recorder.Start();
        // Faster than the writer takes the queue (every 50 ms): the third overflows it.
        const uint8_t report[52] = {0x20, 1, 2, 3};
        for (int i = 0; i < 5; ++i) {
            recorder.InputReport(1, 0, report, sizeof report);
        }
        recorder.Stop();
        EXPECT_FALSE(recorder.Recording());
    });
    EXPECT_EQ(printed.err, std::vector<std::string>{"brisk: --record: stopped writing " + path +
                                                    ": the disk cannot keep up (2 transfers "
                                                    "waiting); the run goes on"});

    std::string error;
    std::unique_ptr<PacketSource> source = OpenPacketSource(path, error);
    ASSERT_TRUE(source) << error;
    UsbPacket p;
    SourceStatus s;
    int reports = 0;
    while ((s = source->Read(p, error)) == SourceStatus::kPacket) {
        reports += p.length == 52 && p.data[0] == 0x20 ? 1 : 0;
    }
    EXPECT_EQ(s, SourceStatus::kEnd);
    EXPECT_EQ(reports, 2);
    source.reset();  // Windows removes no file that is still open
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace brisk::capture
