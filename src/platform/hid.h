// HID and device-tree access: the operations the IMU stream and the proximity
// sensor need of the operating system, behind one abstract class.
//
// Backends: win32/hid_win32.cpp (SetupAPI, CfgMgr32, hid.dll, overlapped I/O)
// and the virtual USB bus in sim/. Device classes take a HidHost& so tests can
// hand them a bus of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace brisk {

// A Win32 HANDLE on Windows; an opaque token on the virtual bus. Null means
// "none"; kInvalidHandle is what an open or a discovery returns on failure.
using Handle = void*;
inline Handle const kInvalidHandle = reinterpret_cast<Handle>(static_cast<intptr_t>(-1));

// A device-tree node (a CfgMgr32 DEVINST).
using DevNode = uint32_t;

// Win32 error codes the callers and the virtual bus use by name.
constexpr uint32_t kErrorOperationAborted = 995;      // ERROR_OPERATION_ABORTED
constexpr uint32_t kErrorDeviceNotConnected = 1167;   // ERROR_DEVICE_NOT_CONNECTED
constexpr uint32_t kErrorInvalidHandle = 6;           // ERROR_INVALID_HANDLE
constexpr uint32_t kErrorGenFailure = 31;             // ERROR_GEN_FAILURE

struct HidInterface {
    std::wstring path;  // device interface path, openable with Open
    DevNode node = 0;   // the interface's device node (SP_DEVINFO_DATA.DevInst)
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
};

class HidHost {
public:
    virtual ~HidHost() = default;

    // Every present HID interface once, in enumeration order, with an openable
    // path and its device node. False when no device information set can be
    // had. Interfaces whose detail query fails are left out.
    virtual bool ListHidInterfaces(std::vector<HidInterface>& out) = 0;

    // Present device nodes of all classes under an enumerator such as
    // L"USB\\VID_35BD&PID_0101". False when no device information set can be had.
    // (Windows keeps the nodes valid after the listing; Wine frees them with
    // the information set, so there the node calls below then fail.)
    virtual bool ListDeviceNodes(const std::wstring& enumerator, std::vector<DevNode>& out) = 0;

    // Parent of a node (CM_Get_Parent).
    virtual bool ParentNode(DevNode node, DevNode& parent) = 0;

    // Device instance ID of a node (CM_Get_Device_IDW, at most 200 characters).
    virtual bool DeviceId(DevNode node, std::wstring& id) = 0;

    // First entry of the node's location paths (DEVPKEY_Device_LocationPaths,
    // read into 1024 bytes). False on any failure, a larger property included,
    // and when the property is no string list or its first entry is empty.
    // The read stops at the buffer's end: a full 1024 bytes may lack the zero.
    virtual bool LocationPath(DevNode node, std::wstring& path) = 0;

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
};

// The host of the platform this program was built for: the Win32 backend on
// Windows; elsewhere a host with no devices.
HidHost& PlatformHidHost();

}  // namespace brisk
