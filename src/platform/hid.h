// HID access: the operations the IMU stream and the proximity sensor need of
// the operating system, behind one abstract class, and the one record that
// describes a HID interface to discovery, whatever the backend.
//
// Backends: win32/hid_win32.cpp (SetupAPI, CfgMgr32, hid.dll, overlapped I/O),
// linux/hid_linux.cpp (hidraw nodes, described from sysfs through libudev),
// hid_none.cpp (other systems: no devices) and the virtual USB bus in sim/.
// Device classes take a HidHost& so tests can hand them a bus of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brisk {

// A Win32 HANDLE on Windows; an opaque token on the virtual bus. Null means
// "none"; kInvalidHandle is what an open or a discovery returns on failure.
using Handle = void*;
inline Handle const kInvalidHandle = reinterpret_cast<Handle>(static_cast<intptr_t>(-1));

// Win32 error codes the callers and the virtual bus use by name.
constexpr uint32_t kErrorOperationAborted = 995;     // ERROR_OPERATION_ABORTED
constexpr uint32_t kErrorDeviceNotConnected = 1167;  // ERROR_DEVICE_NOT_CONNECTED
constexpr uint32_t kErrorInvalidHandle = 6;          // ERROR_INVALID_HANDLE
constexpr uint32_t kErrorGenFailure = 31;            // ERROR_GEN_FAILURE

// Where a USB device sits: the root it hangs below (one bus of one host
// controller; how it is named is the backend's affair, only equality counts)
// and the port numbers from the root hub down, {3, 2} for port 2 of the hub
// on root port 3. An empty root means the place is unknown.
struct PortKey {
    std::wstring root;
    std::vector<unsigned> ports;
    bool operator==(const PortKey&) const = default;
    bool Known() const { return !root.empty(); }
};

// One HID interface as the listing describes it, before anything is opened.
struct HidDeviceInfo {
    uint16_t vendorId = 0;  // 0 with the product ID when the backend could not tell
    uint16_t productId = 0;
    int interfaceNumber = -1;  // the USB interface; -1 when unknown
    std::wstring serial;       // the USB device's serial; empty when it has none
    std::wstring path;         // what Open takes
    PortKey port;              // the USB device's place; unknown off USB or when hidden
    // The input report IDs the interface's report descriptor declares,
    // ascending (platform/report_descriptor.h); empty when it declares none,
    // nothing when the backend could not tell.
    std::optional<std::vector<uint8_t>> inputReportIds = std::nullopt;
};

struct HidAttributes {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t version = 0;
};

// The four ways one timed read can end.
enum class ReadOutcome {
    Completed,           // `bytes` bytes arrived (report ID first)
    TimedOut,            // nothing within the time-out; the read was cancelled and drained
    FailedAtOnce,        // ReadFile failed with `error` other than ERROR_IO_PENDING
    FailedAfterPending,  // the pending read ended in failure with `error` (a cancel: 995)
};

struct ReadResult {
    ReadOutcome outcome = ReadOutcome::FailedAtOnce;
    uint32_t bytes = 0;  // meaningful for Completed
    uint32_t error = 0;  // meaningful for the two failures
    // When the report came, on the steady clock, in the rare case the host
    // knows it better than the reader's own clock after the read: a replay
    // gives the capture's time, so the same file gives the same timing
    // figures every run. 0: the reader takes its own clock.
    int64_t arrivalNs = 0;
};

// How one feature read ended.
enum class FeatureOutcome {
    kData,         // `bytes` bytes arrived, report ID first (0: the device sent none)
    kFailed,       // the device stalled or refused, or the host cannot ask: `error` says
    kNotCaptured,  // replay only: the capture holds no answer to this request
};

struct FeatureResult {
    FeatureOutcome outcome = FeatureOutcome::kFailed;
    uint32_t bytes = 0;  // meaningful for kData
    uint32_t error = 0;  // meaningful for kFailed
};

constexpr uint32_t kErrorNotSupported = 50;  // ERROR_NOT_SUPPORTED

class HidHost {
  public:
    virtual ~HidHost() = default;

    // Every present HID interface once, in enumeration order. False when the
    // system cannot be asked. Interfaces whose path cannot be had are left out;
    // whatever else cannot be had is left at its "unknown" value.
    virtual bool ListHidDevices(std::vector<HidDeviceInfo>& out) = 0;

    // CreateFileW for read and write, shared read/write, overlapped.
    // kInvalidHandle on failure.
    virtual Handle Open(const std::wstring& path) = 0;

    virtual bool Attributes(Handle device, HidAttributes& out) = 0;

    // HidD_GetSerialNumberString into 128 wide characters. False when the
    // device reports none; `out` is then empty. A serial filling all 128
    // characters comes without a terminating zero and is read up to the end.
    virtual bool SerialString(Handle device, std::wstring& out) = 0;

    // HidD_SetFeature with the whole report (report ID first).
    virtual bool SetFeature(Handle device, const uint8_t* report, size_t length) = 0;

    // HidD_GetFeature: asks the device for feature report `reportId`, into
    // `buf` of `length` bytes, report ID first. Safe beside a read pending on
    // another thread on the same handle. A host that cannot ask says so with
    // kFailed and kErrorNotSupported.
    virtual FeatureResult GetFeature(Handle device, uint8_t reportId, uint8_t* buf,
                                     uint32_t length) {
        (void)device, (void)reportId, (void)buf, (void)length;
        return {FeatureOutcome::kFailed, 0, kErrorNotSupported};
    }

    // A manual-reset event, not signalled, for the reads of one object.
    // Null on failure.
    virtual Handle CreateReadEvent() = 0;

    // One overlapped read of up to `length` bytes into `buf`, waiting at most
    // `timeoutMs` on `event`. Never returns while the read could still write
    // into `buf`: after a time-out or a failed wait the read is cancelled and
    // waited for. A report that completes in the race with that cancel is
    // returned as Completed rather than dropped.
    virtual ReadResult ReadTimed(Handle device, Handle event, uint8_t* buf, uint32_t length,
                                 uint32_t timeoutMs) = 0;

    // CancelIoEx without an OVERLAPPED: a read pending on another thread ends
    // at once, as FailedAfterPending with kErrorOperationAborted.
    virtual void CancelAll(Handle device) = 0;

    // CloseHandle, for devices and events alike. Once per handle.
    virtual void Close(Handle handle) = 0;

    // Asks for an input queue of `wanted` reports on an open device: how many
    // reports the OS keeps for this handle while nobody reads (Windows keeps
    // 32 by default, 32 ms of a 1 kHz stream; HidD_SetNumInputBuffers raises
    // it to 512). `granted` is the depth in force afterwards, 0 when unknown.
    // False when the OS refused `wanted`. Where the queue is fixed (Linux
    // hidraw) there is nothing to ask: true, `wanted` granted; so too for a
    // host without a queue of its own (a test's), which needs no override.
    virtual bool SetInputQueueDepth(Handle device, uint32_t wanted, uint32_t& granted) {
        (void)device;
        granted = wanted;
        return true;
    }
};

// The host of the platform this program was built for: the Win32 backend on
// Windows, hidraw on Linux; on any other system a host with no devices.
HidHost& PlatformHidHost();

}  // namespace brisk
