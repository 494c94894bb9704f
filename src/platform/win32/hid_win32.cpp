// The Windows HID host: SetupAPI for the interface list, CfgMgr32 for the
// device tree, hid.dll for identity and feature reports, overlapped ReadFile
// for input reports.
#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>
// MinGW-w64's hidsdi.h declares the hid.dll functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

// Instantiate the property keys here (once, selectany) instead of linking a
// GUID library; works alike with MinGW-w64 and the Windows SDK.
#include <initguid.h>

#include <devpkey.h>

#include <cstddef>
#include <limits>
#include <utility>
#include <vector>

#include "platform/hid.h"
#include "platform/wide_buffer.h"

namespace brisk {
namespace {

static_assert(sizeof(wchar_t) == sizeof(WCHAR), "device strings are UTF-16");
static_assert(sizeof(DevNode) == sizeof(DEVINST), "a DevNode holds a DEVINST");
#if defined(_WIN64)
// The record sizes the 64-bit drivers check.
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32 && sizeof(SP_DEVINFO_DATA) == 32);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8);
#endif
static_assert(sizeof(HIDD_ATTRIBUTES) == 12);

constexpr ULONG kDeviceIdChars = 200;       // CM_Get_Device_IDW buffer
constexpr ULONG kLocationPathBytes = 1024;  // DEVPKEY_Device_LocationPaths buffer
constexpr ULONG kSerialChars = 128;         // HidD_GetSerialNumberString buffer (256 bytes)
// A detail record larger than this is not a device path but a broken size query.
constexpr DWORD kMaxDetailBytes = 64 * 1024;

HANDLE ToWin(Handle h) {
    return static_cast<HANDLE>(h);
}

bool IsUsable(Handle h) {
    return h != nullptr && h != kInvalidHandle;
}

// The device path and node of one enumerated interface. False when its detail
// query fails or reports no usable size.
bool InterfaceDetail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& iface, HidInterface& out) {
    DWORD need = 0;
    // Fails by design (no buffer); only the size it reports matters.
    SetupDiGetDeviceInterfaceDetailW(set, &iface, nullptr, 0, &need, nullptr);
    constexpr DWORD kFixed = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (need < kFixed || need > kMaxDetailBytes) {
        return false;
    }
    // DWORD storage keeps the record's alignment.
    std::vector<DWORD> storage((need + sizeof(DWORD) - 1) / sizeof(DWORD));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
    // cbSize is the fixed part (8 on x64, 6 on x86), not the whole buffer.
    detail->cbSize = kFixed;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof(info);
    if (!SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, need, nullptr, &info)) {
        return false;
    }
    const size_t pathChars =
        (need - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(WCHAR);
    out.path = WideStringFromBuffer(detail->DevicePath, pathChars);
    out.node = static_cast<DevNode>(info.DevInst);
    return !out.path.empty();
}

// Waits until the kernel is done with `ov` and the buffer of its read, after a
// cancel; returns the read's own result. GetOverlappedResult's wait needs a
// working event: should it fail with the read still in flight, poll the status
// the kernel writes on completion instead.
DWORD DrainRead(HANDLE device, OVERLAPPED& ov, DWORD& got) {
    got = 0;
    if (GetOverlappedResult(device, &ov, &got, TRUE)) {
        return ERROR_SUCCESS;
    }
    while (!HasOverlappedIoCompleted(&ov)) {
        Sleep(1);
    }
    if (GetOverlappedResult(device, &ov, &got, FALSE)) {
        return ERROR_SUCCESS;
    }
    return GetLastError();
}

class Win32HidHost final : public HidHost {
  public:
    bool ListHidInterfaces(std::vector<HidInterface>& out) override {
        out.clear();
        GUID hidGuid;
        HidD_GetHidGuid(&hidGuid);
        HDEVINFO set =
            SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) {
            return false;
        }
        for (DWORD index = 0;; ++index) {
            SP_DEVICE_INTERFACE_DATA iface{};
            iface.cbSize = sizeof(iface);
            if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &iface)) {
                break;
            }
            HidInterface found;
            if (InterfaceDetail(set, iface, found)) {
                out.push_back(std::move(found));
            }
        }
        SetupDiDestroyDeviceInfoList(set);
        return true;
    }

    bool ListDeviceNodes(const std::wstring& enumerator, std::vector<DevNode>& out) override {
        out.clear();
        HDEVINFO set = SetupDiGetClassDevsW(nullptr, enumerator.c_str(), nullptr,
                                            DIGCF_PRESENT | DIGCF_ALLCLASSES);
        if (set == INVALID_HANDLE_VALUE) {
            return false;
        }
        for (DWORD index = 0;; ++index) {
            SP_DEVINFO_DATA info{};
            info.cbSize = sizeof(info);
            if (!SetupDiEnumDeviceInfo(set, index, &info)) {
                break;
            }
            out.push_back(static_cast<DevNode>(info.DevInst));
        }
        SetupDiDestroyDeviceInfoList(set);
        return true;
    }

    bool ParentNode(DevNode node, DevNode& parent) override {
        DEVINST found = 0;
        if (CM_Get_Parent(&found, static_cast<DEVINST>(node), 0) != CR_SUCCESS) {
            return false;
        }
        parent = static_cast<DevNode>(found);
        return true;
    }

    bool DeviceId(DevNode node, std::wstring& id) override {
        id.clear();
        WCHAR buf[kDeviceIdChars] = {};
        if (CM_Get_Device_IDW(static_cast<DEVINST>(node), buf, kDeviceIdChars, 0) != CR_SUCCESS) {
            return false;
        }
        // An ID filling all 200 characters may come back unterminated.
        id = WideStringFromBuffer(buf, kDeviceIdChars);
        return !id.empty();
    }

    bool LocationPath(DevNode node, std::wstring& path) override {
        path.clear();
        WCHAR buf[kLocationPathBytes / sizeof(WCHAR)] = {};
        DEVPROPTYPE type = 0;
        ULONG size = sizeof(buf);
        if (CM_Get_DevNode_PropertyW(static_cast<DEVINST>(node), &DEVPKEY_Device_LocationPaths,
                                     &type, reinterpret_cast<PBYTE>(buf), &size, 0) != CR_SUCCESS) {
            return false;  // a property larger than the buffer lands here too
        }
        // A list of exactly 1024 bytes may lack its terminators; the type and
        // size are the driver's word, so both are checked before reading.
        return FirstStringOfProperty(type, buf, size, sizeof(buf), path);
    }

    Handle Open(const std::wstring& path) override {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
        return h == INVALID_HANDLE_VALUE ? kInvalidHandle : static_cast<Handle>(h);
    }

    bool Attributes(Handle device, HidAttributes& out) override {
        HIDD_ATTRIBUTES attr{};
        attr.Size = sizeof(attr);
        if (!HidD_GetAttributes(ToWin(device), &attr)) {
            return false;
        }
        out.vendorId = attr.VendorID;
        out.productId = attr.ProductID;
        out.version = attr.VersionNumber;
        return true;
    }

    bool SerialString(Handle device, std::wstring& out) override {
        out.clear();
        WCHAR buf[kSerialChars] = {};
        if (!HidD_GetSerialNumberString(ToWin(device), buf, sizeof(buf))) {
            return false;
        }
        // The device may fill all 128 characters and leave no terminator.
        out = WideStringFromBuffer(buf, kSerialChars);
        return true;
    }

    bool SetFeature(Handle device, const uint8_t* report, size_t length) override {
        if (report == nullptr || length == 0 || length > std::numeric_limits<ULONG>::max()) {
            return false;
        }
        // hid.dll takes a non-const buffer; give it a copy of ours.
        std::vector<uint8_t> copy(report, report + length);
        return HidD_SetFeature(ToWin(device), copy.data(), static_cast<ULONG>(length)) != FALSE;
    }

    Handle CreateReadEvent() override {
        return static_cast<Handle>(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    }

    ReadResult ReadTimed(Handle device, Handle event, uint8_t* buf, uint32_t length,
                         uint32_t timeoutMs) override {
        HANDLE h = ToWin(device);
        OVERLAPPED ov{};
        ov.hEvent = ToWin(event);
        ResetEvent(ov.hEvent);
        DWORD got = 0;
        if (ReadFile(h, buf, length, &got, &ov)) {
            return {ReadOutcome::Completed, got, 0};
        }
        DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            return {ReadOutcome::FailedAtOnce, 0, error};
        }

        const DWORD wait = WaitForSingleObject(ov.hEvent, timeoutMs);
        const DWORD waitError = wait == WAIT_FAILED ? GetLastError() : ERROR_SUCCESS;
        if (wait == WAIT_OBJECT_0) {
            if (GetOverlappedResult(h, &ov, &got, FALSE)) {
                return {ReadOutcome::Completed, got, 0};
            }
            error = GetLastError();
            if (error != ERROR_IO_INCOMPLETE) {
                return {ReadOutcome::FailedAfterPending, 0, error};
            }
            // Our event was set by someone else while the read still runs:
            // end it like a time-out rather than leave it writing into buf.
        }

        // Time-out or a failed wait: the read must be over before buf and ov go.
        CancelIoEx(h, &ov);
        error = DrainRead(h, ov, got);
        if (error == ERROR_SUCCESS) {
            // The report won the race against the cancel; keep it.
            return {ReadOutcome::Completed, got, 0};
        }
        if (wait == WAIT_TIMEOUT) {
            // However the cancelled read ended, the wait timed out: callers
            // count a silent second, and a device that went away meanwhile
            // fails the next read at once.
            return {ReadOutcome::TimedOut, 0, 0};
        }
        if (wait == WAIT_FAILED) {
            return {ReadOutcome::FailedAfterPending, 0, waitError};
        }
        return {ReadOutcome::FailedAfterPending, 0, error};
    }

    void CancelAll(Handle device) override {
        if (IsUsable(device)) {
            CancelIoEx(ToWin(device), nullptr);
        }
    }

    void Close(Handle handle) override {
        if (IsUsable(handle)) {
            CloseHandle(ToWin(handle));
        }
    }
};

}  // namespace

HidHost& PlatformHidHost() {
    static Win32HidHost host;
    return host;
}

}  // namespace brisk
