// The Win32 HID host under Wine (or Windows). No headset is at hand, so the
// timed read is driven through an overlapped message-mode named pipe: one
// write is one "report", just as one HID input report is one read.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/hid.h"

namespace brisk {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kSentinel = 0xA5;
constexpr uint32_t kLong = 30000;  // ms; a read that must end for another reason
constexpr DWORD kErrorBrokenPipe = 109;
constexpr DWORD kErrorPipeNotConnected = 233;

// What the process holds in handles. GetProcessHandleCount where it works;
// Wine reports 0, but it hands out the lowest free slots first, so the values
// of a batch of fresh events change when a handle has leaked in between.
std::vector<uintptr_t> HandleCensus() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) {
        return {count};
    }
    std::vector<HANDLE> batch(64);
    for (auto& h : batch) {
        h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    std::vector<uintptr_t> values;
    for (HANDLE h : batch) {
        values.push_back(reinterpret_cast<uintptr_t>(h));
        CloseHandle(h);
    }
    std::sort(values.begin(), values.end());
    return values;
}

// Wine's own quirks, where they differ from Windows: CancelIoEx reports success
// with nothing to cancel, and CM_Get_Parent is a stub.
bool OnWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A message-mode pipe whose client end is opened by the host, as a HID path
// would be; "reports" are written into the server end.
struct TestPipe {
    HidHost& host = PlatformHidHost();
    HANDLE server = INVALID_HANDLE_VALUE;
    Handle client = kInvalidHandle;
    Handle event = nullptr;

    bool Open() {
        static int serial = 0;
        const std::wstring name = L"\\\\.\\pipe\\brisk-hid-test-" +
                                  std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(++serial);
        server = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                  PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096,
                                  4096, 0, nullptr);
        client = host.Open(name);
        DWORD mode = PIPE_READMODE_MESSAGE;
        event = host.CreateReadEvent();
        return server != INVALID_HANDLE_VALUE && client != kInvalidHandle && event != nullptr &&
               SetNamedPipeHandleState(client, &mode, nullptr, nullptr);
    }

    void Close() {
        host.Close(event);
        event = nullptr;
        host.Close(client);
        client = kInvalidHandle;
        CloseServer();
    }

    void CloseServer() {
        if (server != INVALID_HANDLE_VALUE) {
            CloseHandle(server);
            server = INVALID_HANDLE_VALUE;
        }
    }

    // One message into the pipe, waited for (the server end is overlapped).
    bool Send(const Bytes& msg) {
        OVERLAPPED ov{};
        ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        DWORD put = 0;
        BOOL ok = WriteFile(server, msg.data(), static_cast<DWORD>(msg.size()), &put, &ov);
        if (!ok && GetLastError() == ERROR_IO_PENDING) {
            ok = GetOverlappedResult(server, &ov, &put, TRUE);
        }
        CloseHandle(ov.hEvent);
        return ok && put == msg.size();
    }

    ReadResult Read(Bytes& buf, uint32_t timeoutMs) {
        buf.assign(65, kSentinel);
        return host.ReadTimed(client, event, buf.data(), 65, timeoutMs);
    }
};

class PipeRead : public ::testing::Test {
  protected:
    HidHost& host = PlatformHidHost();
    TestPipe pipe;

    void SetUp() override { ASSERT_TRUE(pipe.Open()); }

    void TearDown() override { pipe.Close(); }

    // The next read gets `msg` whole, and nothing else.
    void ExpectNextReadIs(const Bytes& msg) {
        Bytes buf;
        // Well short of kLong: a read still pending from before would take the
        // message and leave this one waiting.
        const ReadResult r = pipe.Read(buf, 5000);
        ASSERT_EQ(r.outcome, ReadOutcome::Completed) << r.error;
        ASSERT_EQ(r.bytes, msg.size());
        EXPECT_TRUE(std::equal(msg.begin(), msg.end(), buf.begin()));
        EXPECT_EQ(buf[msg.size()], kSentinel);
    }

    // No read of ours is left in flight on the client end.
    void ExpectNothingPending() {
        if (OnWine()) {
            return;  // Wine's CancelIoEx succeeds with nothing to cancel
        }
        const BOOL cancelled = CancelIoEx(pipe.client, nullptr);
        const DWORD error = GetLastError();
        EXPECT_FALSE(cancelled);
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_NOT_FOUND));
    }

    // After a read returned: a message arriving now must not land in its
    // buffer, and must reach the next read whole.
    void ExpectBufferReleased(Bytes& oldBuf) {
        std::fill(oldBuf.begin(), oldBuf.end(), kSentinel);
        const Bytes msg = {0x20, 1, 2, 3, 4, 5, 6};
        ASSERT_TRUE(pipe.Send(msg));
        Sleep(50);
        EXPECT_EQ(std::count(oldBuf.begin(), oldBuf.end(), kSentinel), 65);
        ExpectNextReadIs(msg);
    }
};

TEST_F(PipeRead, WaitingMessageCompletesAtOnceWithItsByteCount) {
    ASSERT_TRUE(pipe.Send({0x20, 0xAA, 0xBB, 0xCC, 0xDD}));
    ExpectNextReadIs({0x20, 0xAA, 0xBB, 0xCC, 0xDD});
    ExpectNothingPending();
}

TEST_F(PipeRead, MessageArrivingWhilePendingCompletesWithItsByteCount) {
    Bytes msg(52);
    for (size_t i = 0; i < msg.size(); ++i) {
        msg[i] = static_cast<uint8_t>(i + 1);
    }
    bool sent = false;
    std::thread writer([&] {
        Sleep(100);
        sent = pipe.Send(msg);
    });
    ExpectNextReadIs(msg);
    writer.join();
    EXPECT_TRUE(sent);
    ExpectNothingPending();
}

TEST_F(PipeRead, TimeOutCancelsAndDrainsTheRead) {
    Bytes buf;
    for (int i = 0; i < 3; ++i) {
        const ReadResult r = pipe.Read(buf, 30);
        ASSERT_EQ(r.outcome, ReadOutcome::TimedOut) << r.error;
        EXPECT_EQ(r.bytes, 0u);
        ExpectNothingPending();
    }
    ExpectBufferReleased(buf);
}

TEST_F(PipeRead, CancelAllFromAnotherThreadEndsAPendingRead) {
    std::atomic<bool> done{false};
    ReadResult r;
    Bytes buf;
    std::thread reader([&] {
        r = pipe.Read(buf, kLong);
        done = true;
    });
    // Repeat until it lands: a cancel before the read is issued finds nothing.
    const auto start = std::chrono::steady_clock::now();
    while (!done && std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
        Sleep(20);
        host.CancelAll(pipe.client);
    }
    reader.join();
    EXPECT_EQ(r.outcome, ReadOutcome::FailedAfterPending);
    EXPECT_EQ(r.error, kErrorOperationAborted);
    ExpectNothingPending();
    ExpectBufferReleased(buf);
}

TEST_F(PipeRead, FailedWaitStillCancelsAndDrainsTheRead) {
    // No event: the wait fails outright while the read is pending.
    Bytes buf(65, kSentinel);
    const ReadResult r = host.ReadTimed(pipe.client, nullptr, buf.data(), 65, kLong);
    EXPECT_EQ(r.outcome, ReadOutcome::FailedAfterPending);
    EXPECT_EQ(r.error, kErrorInvalidHandle);
    ExpectNothingPending();
    ExpectBufferReleased(buf);
}

TEST_F(PipeRead, ReadOnABrokenPipeFailsAtOnce) {
    pipe.CloseServer();
    Bytes buf;
    const ReadResult r = pipe.Read(buf, kLong);
    EXPECT_EQ(r.outcome, ReadOutcome::FailedAtOnce);
    EXPECT_TRUE(r.error == kErrorBrokenPipe || r.error == kErrorPipeNotConnected) << r.error;
}

TEST_F(PipeRead, PipeBreakingUnderAPendingReadFailsIt) {
    std::thread closer([&] {
        Sleep(100);
        pipe.CloseServer();
    });
    Bytes buf;
    const ReadResult r = pipe.Read(buf, kLong);
    closer.join();
    // Pending when the server went, or (on a slow start) broken before the read.
    EXPECT_TRUE(r.outcome == ReadOutcome::FailedAfterPending ||
                r.outcome == ReadOutcome::FailedAtOnce);
    EXPECT_TRUE(r.error == kErrorBrokenPipe || r.error == kErrorPipeNotConnected) << r.error;
    ExpectNothingPending();
}

TEST_F(PipeRead, HidCallsOnAHandleThatIsNoHidDeviceFail) {
    HidAttributes attr;
    EXPECT_FALSE(host.Attributes(pipe.client, attr));
    std::wstring serial = L"stale";
    EXPECT_FALSE(host.SerialString(pipe.client, serial));
    EXPECT_TRUE(serial.empty());
    const uint8_t report[65] = {0, 'R', 0, 50};
    EXPECT_FALSE(host.SetFeature(pipe.client, report, sizeof(report)));
    EXPECT_FALSE(host.SetFeature(pipe.client, nullptr, 0));
    uint32_t granted = 77;
    EXPECT_FALSE(host.SetInputQueueDepth(pipe.client, 512, granted));
    EXPECT_EQ(granted, 0u);
}

TEST(Win32HidHost, OpenOfAMissingPathFails) {
    EXPECT_EQ(PlatformHidHost().Open(L"\\\\?\\hid#vid_28de&pid_2300&mi_00#missing#{4d1e55b2}"),
              kInvalidHandle);
}

// Wine brings virtual HID devices of its own (a mouse and a keyboard) once its
// bus driver is up; whatever is present must list, open, identify and take a
// deeper input queue cleanly.
TEST(Win32HidHost, PresentHidInterfacesListOpenIdentifyAndTimeOut) {
    HidHost& host = PlatformHidHost();
    std::vector<HidDeviceInfo> devices;
    ASSERT_TRUE(host.ListHidDevices(devices));
    if (devices.empty()) {
        GTEST_SKIP() << "no HID interface present";
    }
    Handle event = host.CreateReadEvent();
    ASSERT_NE(event, nullptr);
    for (const HidDeviceInfo& device : devices) {
        EXPECT_EQ(device.path.rfind(L"\\\\?\\", 0), 0u) << device.path.c_str();
        EXPECT_LE(device.serial.size(), 128u);
        // Wine's CM_Get_Parent is a stub: no place is ever known there.
        if (OnWine()) {
            EXPECT_FALSE(device.port.Known()) << device.path.c_str();
        }
        const Handle h = host.Open(device.path);
        if (h == kInvalidHandle) {
            continue;  // Windows keeps keyboards and mice to itself
        }
        // The listing asked the device what it is; opened, it says the same.
        HidAttributes attr;
        EXPECT_TRUE(host.Attributes(h, attr)) << device.path.c_str();
        EXPECT_EQ(attr.vendorId, device.vendorId) << device.path.c_str();
        EXPECT_EQ(attr.productId, device.productId) << device.path.c_str();
        // hid.dll grants 512 input reports and refuses more, keeping the 512.
        uint32_t granted = 0;
        EXPECT_TRUE(host.SetInputQueueDepth(h, 512, granted)) << device.path.c_str();
        EXPECT_EQ(granted, 512u);
        EXPECT_FALSE(host.SetInputQueueDepth(h, 513, granted));
        EXPECT_EQ(granted, 512u);
        std::wstring serial;
        if (host.SerialString(h, serial)) {
            EXPECT_EQ(serial, device.serial) << device.path.c_str();
        }
        // A real HID read: nothing comes, so it is cancelled and drained.
        uint8_t buf[256];
        const ReadResult r = host.ReadTimed(h, event, buf, sizeof(buf), 20);
        EXPECT_TRUE(r.outcome == ReadOutcome::TimedOut || r.outcome == ReadOutcome::Completed)
            << static_cast<int>(r.outcome) << " " << r.error;
        host.Close(h);
    }
    host.Close(event);
}

// Only this thread runs here: other threads make the runtime create sync
// objects of its own on first contention, which would blur the count.
TEST(Win32HidHost, NothingLeaksAcrossTheOperations) {
    HidHost& host = PlatformHidHost();
    {
        // The process's first pipe and pending read set up runtime state for good.
        TestPipe first;
        ASSERT_TRUE(first.Open());
        Bytes buf;
        first.Read(buf, 10);
        first.Close();
    }
    const auto before = HandleCensus();
    for (int i = 0; i < 3; ++i) {
        TestPipe pipe;
        ASSERT_TRUE(pipe.Open());
        Bytes buf;
        EXPECT_EQ(pipe.Read(buf, 10).outcome, ReadOutcome::TimedOut);
        ASSERT_TRUE(pipe.Send({0x20, 1}));
        EXPECT_EQ(pipe.Read(buf, kLong).outcome, ReadOutcome::Completed);
        EXPECT_EQ(pipe.Read(buf, 10).outcome, ReadOutcome::TimedOut);
        pipe.CloseServer();
        EXPECT_EQ(pipe.Read(buf, 10).outcome, ReadOutcome::FailedAtOnce);
        pipe.Close();

        std::vector<HidDeviceInfo> devices;
        host.ListHidDevices(devices);
        for (const HidDeviceInfo& device : devices) {
            host.Close(host.Open(device.path));
        }
        Handle ev = host.CreateReadEvent();
        ASSERT_NE(ev, nullptr);
        host.Close(ev);
    }
    EXPECT_EQ(HandleCensus(), before);
}

}  // namespace
}  // namespace brisk
