// Reads, cancels and feature reports of the Linux HID host on stand-ins for
// hidraw nodes: packet-mode pipes (one write is one report, as on hidraw) and
// a named FIFO opened through the host itself.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/hid.h"
#include "platform/linux/hidraw_io.h"

namespace brisk::linux_hid {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A packet-mode pipe standing in for a node: the test writes, the host reads.
struct Node {
    UniqueFd readEnd;
    UniqueFd writeEnd;
    UniqueFd cancel = MakeCancelFd();

    Node() {
        int fds[2] = {-1, -1};
        EXPECT_EQ(pipe2(fds, O_DIRECT | O_NONBLOCK | O_CLOEXEC), 0);
        readEnd = UniqueFd(fds[0]);
        writeEnd = UniqueFd(fds[1]);
    }
    void Send(const std::vector<uint8_t>& report) {
        ASSERT_EQ(write(writeEnd.Get(), report.data(), report.size()),
                  static_cast<ssize_t>(report.size()));
    }
    ReadResult Read(bool prependZero, uint8_t* buf, uint32_t length, uint32_t timeoutMs) {
        return ReadReport(readEnd.Get(), cancel.Get(), prependZero, buf, length, timeoutMs);
    }
};

TEST(LinuxHidrawIo, ReportsArriveWholeAndOneAtATime) {
    struct Case {
        const char* what;
        bool prependZero;
        std::vector<uint8_t> report;
        uint32_t room;
        std::vector<uint8_t> want;
    };
    const Case cases[] = {
        {"numbered: ID first, as sent", false, {0x20, 1, 2, 3}, 64, {0x20, 1, 2, 3}},
        {"unnumbered: a zero in front, as on Windows",
         true,
         {'#', 0, 0, 0, 0x06, 0xA4},
         65,
         {0, '#', 0, 0, 0, 0x06, 0xA4}},
        {"longer than the buffer: cut to it", false, std::vector<uint8_t>(80, 7), 64,
         std::vector<uint8_t>(64, 7)},
        {"unnumbered and longer: cut behind the zero", true, std::vector<uint8_t>(70, 9), 65,
         [] {
             std::vector<uint8_t> v(65, 9);
             v[0] = 0;
             return v;
         }()},
    };
    for (const Case& c : cases) {
        Node node;
        node.Send(c.report);
        node.Send({0x55});
        std::vector<uint8_t> buf(c.room + 8, 0xEE);
        ReadResult r = node.Read(c.prependZero, buf.data(), c.room, 1000);
        ASSERT_EQ(r.outcome, ReadOutcome::Completed) << c.what;
        ASSERT_EQ(r.bytes, c.want.size()) << c.what;
        EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + r.bytes), c.want) << c.what;
        EXPECT_EQ(buf[c.room], 0xEE) << c.what << ": wrote past the buffer";
        // The next report is its own read.
        r = node.Read(c.prependZero, buf.data(), c.room, 1000);
        ASSERT_EQ(r.outcome, ReadOutcome::Completed) << c.what;
        EXPECT_EQ(r.bytes, c.prependZero ? 2u : 1u) << c.what;
        EXPECT_EQ(buf[c.prependZero ? 1 : 0], 0x55) << c.what;
    }
}

TEST(LinuxHidrawIo, SilenceTimesOutAfterTheWholeWait) {
    Node node;
    uint8_t buf[64];
    const auto start = Clock::now();
    const ReadResult r = node.Read(false, buf, sizeof buf, 120);
    EXPECT_EQ(r.outcome, ReadOutcome::TimedOut);
    EXPECT_GE(SecondsSince(start), 0.12);
    EXPECT_LT(SecondsSince(start), 1.0);
}

TEST(LinuxHidrawIo, CancelEndsAPendingReadAtOnce) {
    Node node;
    uint8_t buf[64];
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        CancelRead(node.cancel.Get());
    });
    const auto start = Clock::now();
    const ReadResult r = node.Read(false, buf, sizeof buf, 10000);
    stopper.join();
    EXPECT_EQ(r.outcome, ReadOutcome::FailedAfterPending);
    EXPECT_EQ(r.error, kErrorOperationAborted);
    EXPECT_LT(SecondsSince(start), 2.0);
}

// A stop that lands between a reader's check and its read is kept for that
// read, and only for it.
TEST(LinuxHidrawIo, CancelBeforeTheReadEndsThatReadOnly) {
    Node node;
    uint8_t buf[64];
    CancelRead(node.cancel.Get());
    CancelRead(node.cancel.Get());
    ReadResult r = node.Read(false, buf, sizeof buf, 10000);
    EXPECT_EQ(r.outcome, ReadOutcome::FailedAfterPending);
    EXPECT_EQ(r.error, kErrorOperationAborted);
    node.Send({0x20, 9});
    r = node.Read(false, buf, sizeof buf, 1000);
    EXPECT_EQ(r.outcome, ReadOutcome::Completed);
    EXPECT_EQ(r.bytes, 2u);
}

TEST(LinuxHidrawIo, AVanishedDeviceFailsItsReadAsNotConnected) {
    Node node;
    uint8_t buf[64];
    node.Send({0x20, 1});
    node.writeEnd = UniqueFd();  // unplugged, one report still queued
    ReadResult r = node.Read(false, buf, sizeof buf, 1000);
    EXPECT_EQ(r.outcome, ReadOutcome::Completed);
    const auto start = Clock::now();
    r = node.Read(false, buf, sizeof buf, 5000);
    EXPECT_EQ(r.outcome, ReadOutcome::FailedAfterPending);
    EXPECT_EQ(r.error, kErrorDeviceNotConnected);
    EXPECT_LT(SecondsSince(start), 1.0);
}

TEST(LinuxHidrawIo, ReadsWithoutRoomOrDescriptorFailAtOnce) {
    Node node;
    uint8_t buf[2];
    struct Case {
        const char* what;
        int fd;
        int cancel;
        bool prependZero;
        uint8_t* buf;
        uint32_t length;
        uint32_t error;
    };
    const Case cases[] = {
        {"no device", -1, node.cancel.Get(), false, buf, 2, kErrorInvalidHandle},
        {"no cancel", node.readEnd.Get(), -1, false, buf, 2, kErrorInvalidHandle},
        {"no buffer", node.readEnd.Get(), node.cancel.Get(), false, nullptr, 2, kErrorGenFailure},
        {"no room", node.readEnd.Get(), node.cancel.Get(), false, buf, 0, kErrorGenFailure},
        {"room for the zero only", node.readEnd.Get(), node.cancel.Get(), true, buf, 1,
         kErrorGenFailure},
    };
    for (const Case& c : cases) {
        const ReadResult r = ReadReport(c.fd, c.cancel, c.prependZero, c.buf, c.length, 10);
        EXPECT_EQ(r.outcome, ReadOutcome::FailedAtOnce) << c.what;
        EXPECT_EQ(r.error, c.error) << c.what;
    }
}

TEST(LinuxHidrawIo, FeatureReportsNeedANodeAndABoundedReport) {
    Node node;
    const uint8_t report[65] = {0, 'R', 0, 50};
    EXPECT_FALSE(SendFeature(node.readEnd.Get(), report, sizeof report));  // a pipe is no node
    EXPECT_FALSE(SendFeature(-1, report, sizeof report));
    EXPECT_FALSE(SendFeature(node.readEnd.Get(), nullptr, 65));
    EXPECT_FALSE(SendFeature(node.readEnd.Get(), report, 0));
    std::vector<uint8_t> huge(5000);
    EXPECT_FALSE(SendFeature(node.readEnd.Get(), huge.data(), huge.size()));
}

TEST(LinuxHidrawIo, FeatureReadsNeedANodeAndABoundedBuffer) {
    Node node;
    uint8_t buf[64] = {};
    struct Case {
        const char* what;
        int fd;
        uint8_t* buf;
        uint32_t length;
        uint32_t error;
    };
    std::vector<uint8_t> huge(5000);
    const Case cases[] = {
        {"a pipe is no node", node.readEnd.Get(), buf, sizeof buf, kErrorGenFailure},
        {"no descriptor", -1, buf, sizeof buf, kErrorInvalidHandle},
        {"no buffer", node.readEnd.Get(), nullptr, 64, 87},
        {"no room", node.readEnd.Get(), buf, 0, 87},
        {"past what hidraw takes", node.readEnd.Get(), huge.data(), 5000, 87},
    };
    for (const Case& c : cases) {
        const FeatureResult r = ReadFeature(c.fd, 0x10, c.buf, c.length);
        EXPECT_EQ(r.outcome, FeatureOutcome::kFailed) << c.what;
        EXPECT_EQ(r.error, c.error) << c.what;
        EXPECT_EQ(r.bytes, 0u) << c.what;
    }
}

class TempDir : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/brisk-hidraw-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        for (const std::string& f : files) {
            std::remove(f.c_str());
        }
        rmdir(dir.c_str());
    }
    std::string Path(const char* name) {
        files.push_back(dir + "/" + name);
        return files.back();
    }
    void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        std::fclose(f);
    }
    std::string dir;
    std::vector<std::string> files;
};

using LinuxHidrawDescriptor = TempDir;

// Nodes whose ioctls nobody answers (emulated ones) have their descriptor in
// sysfs; one that is missing or oversized tells nothing.
TEST_F(LinuxHidrawDescriptor, FromSysfsWhenTheNodeGivesNone) {
    Node node;
    const std::string unnumbered = Path("unnumbered");
    WriteFile(unnumbered, {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x81, 0x02, 0xC0});
    const std::string numbered = Path("numbered");
    WriteFile(numbered, {0x06, 0x00, 0xFF, 0x85, 0x20, 0x81, 0x02});
    const std::string oversized = Path("oversized");
    WriteFile(oversized, std::vector<uint8_t>(4097, 0x00));
    EXPECT_EQ(ReportIdsOf(node.readEnd.Get(), unnumbered), ReportIds::kUnnumbered);
    EXPECT_EQ(ReportIdsOf(node.readEnd.Get(), numbered), ReportIds::kNumbered);
    EXPECT_EQ(ReportIdsOf(node.readEnd.Get(), oversized), ReportIds::kUnknown);
    EXPECT_EQ(ReportIdsOf(node.readEnd.Get(), dir + "/missing"), ReportIds::kUnknown);
    EXPECT_EQ(ReportIdsOf(node.readEnd.Get(), ""), ReportIds::kUnknown);
}

using LinuxHidHostOnAFifo = TempDir;

// The host itself on a node udev does not know: it opens and reads it, knows
// no identity for it, and its handles close once.
TEST_F(LinuxHidHostOnAFifo, ReadsCancelsAndClosesLikeAnyNode) {
    const std::string fifo = Path("hidraw-standin");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    HidHost& host = PlatformHidHost();
    EXPECT_EQ(host.Open(L"hid#vid_28de&pid_2300&mi_00#"), kInvalidHandle);
    EXPECT_EQ(host.Open(L"hid#/nonexistent/hidraw0"), kInvalidHandle);
    const Handle device = host.Open(std::wstring(fifo.begin(), fifo.end()));
    ASSERT_NE(device, kInvalidHandle);
    const Handle event = host.CreateReadEvent();
    ASSERT_NE(event, nullptr);

    HidAttributes attr;
    EXPECT_FALSE(host.Attributes(device, attr));
    std::wstring serial = L"stale";
    EXPECT_FALSE(host.SerialString(device, serial));
    EXPECT_TRUE(serial.empty());

    const UniqueFd writer(open(fifo.c_str(), O_WRONLY | O_CLOEXEC));
    ASSERT_GE(writer.Get(), 0);
    const uint8_t report[3] = {0x20, 1, 2};
    ASSERT_EQ(write(writer.Get(), report, sizeof report), 3);
    uint8_t buf[64];
    ReadResult r = host.ReadTimed(device, event, buf, sizeof buf, 1000);
    EXPECT_EQ(r.outcome, ReadOutcome::Completed);
    EXPECT_EQ(r.bytes, 3u);  // no descriptor: passed on as read

    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        host.CancelAll(device);
    });
    const auto start = Clock::now();
    r = host.ReadTimed(device, event, buf, sizeof buf, 10000);
    stopper.join();
    EXPECT_EQ(r.outcome, ReadOutcome::FailedAfterPending);
    EXPECT_EQ(r.error, kErrorOperationAborted);
    EXPECT_LT(SecondsSince(start), 2.0);

    // A read on something that is not a device (an event) fails at once.
    r = host.ReadTimed(event, event, buf, sizeof buf, 10);
    EXPECT_EQ(r.outcome, ReadOutcome::FailedAtOnce);
    host.Close(device);
    host.Close(device);  // a second close frees nothing twice
    host.Close(event);
    r = host.ReadTimed(device, event, buf, sizeof buf, 10);
    EXPECT_EQ(r.outcome, ReadOutcome::FailedAtOnce);
    EXPECT_EQ(r.error, kErrorInvalidHandle);
    host.CancelAll(device);  // harmless once closed
}

}  // namespace
}  // namespace brisk::linux_hid
