// The Windows HID host: SetupAPI for the interface list, CfgMgr32 for the
// place of each interface's USB device, hid.dll for identity and feature
// reports, overlapped ReadFile for input reports.
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
#include <optional>
#include <utility>
#include <vector>

#include "platform/hid.h"
#include "platform/report_descriptor.h"
#include "platform/win32/device_ids.h"
#include "platform/win32/wide_buffer.h"

namespace brisk {
namespace {

using win32_hid::InterfaceNumberOfPath;
using win32_hid::IsUsbDeviceIdOf;
using win32_hid::PortKeyOfLocationPath;

static_assert(sizeof(wchar_t) == sizeof(WCHAR), "device strings are UTF-16");
#if defined(_WIN64)
// The record sizes the 64-bit drivers check.
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32 && sizeof(SP_DEVINFO_DATA) == 32);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8);
#endif
static_assert(sizeof(HIDD_ATTRIBUTES) == 12);

constexpr ULONG kDeviceIdChars = 200;       // CM_Get_Device_IDW buffer
constexpr ULONG kLocationPathBytes = 1024;  // DEVPKEY_Device_LocationPaths buffer
constexpr ULONG kSerialChars = 128;         // HidD_GetSerialNumberString buffer (256 bytes)
// From a HID interface's node up to its USB device: the interface node, the
// device node, and room for filter and bus drivers between them.
constexpr int kMaxClimb = 6;
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
bool InterfaceDetail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& iface, std::wstring& path,
                     DEVINST& node) {
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
    path = WideStringFromBuffer(detail->DevicePath, pathChars);
    node = info.DevInst;
    return !path.empty();
}

bool ReadAttributes(HANDLE device, HidAttributes& out) {
    HIDD_ATTRIBUTES attr{};
    attr.Size = sizeof(attr);
    if (!HidD_GetAttributes(device, &attr)) {
        return false;
    }
    out.vendorId = attr.VendorID;
    out.productId = attr.ProductID;
    out.version = attr.VersionNumber;
    return true;
}

// HidD_GetSerialNumberString into 128 wide characters; the device may fill
// them all and leave no terminator.
bool ReadSerial(HANDLE device, std::wstring& out) {
    out.clear();
    WCHAR buf[kSerialChars] = {};
    if (!HidD_GetSerialNumberString(device, buf, sizeof(buf))) {
        return false;
    }
    out = WideStringFromBuffer(buf, kSerialChars);
    return true;
}

// The input report IDs an interface declares, from its preparsed data: the
// report ID of every input value and button capability. Nothing when hid.dll
// will not tell. The preparsed data is freed on every path.
std::optional<std::vector<uint8_t>> InputReportIdsOf(HANDLE device) {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(device, &preparsed)) {
        return std::nullopt;
    }
    std::optional<std::vector<uint8_t>> out;
    HIDP_CAPS caps{};
    if (HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS) {
        std::vector<uint8_t> ids;
        bool told = true;
        std::vector<HIDP_VALUE_CAPS> values(caps.NumberInputValueCaps);
        USHORT valueCount = caps.NumberInputValueCaps;
        if (valueCount > 0) {
            told = HidP_GetValueCaps(HidP_Input, values.data(), &valueCount, preparsed) ==
                   HIDP_STATUS_SUCCESS;
        }
        for (USHORT i = 0; told && i < valueCount && i < values.size(); ++i) {
            ids.push_back(values[i].ReportID);
        }
        std::vector<HIDP_BUTTON_CAPS> buttons(caps.NumberInputButtonCaps);
        USHORT buttonCount = caps.NumberInputButtonCaps;
        if (told && buttonCount > 0) {
            told = HidP_GetButtonCaps(HidP_Input, buttons.data(), &buttonCount, preparsed) ==
                   HIDP_STATUS_SUCCESS;
        }
        for (USHORT i = 0; told && i < buttonCount && i < buttons.size(); ++i) {
            ids.push_back(buttons[i].ReportID);
        }
        if (told) {
            out = DistinctReportIds(std::move(ids));
        }
    }
    HidD_FreePreparsedData(preparsed);
    return out;
}

// Vendor, product, serial and input report IDs of an interface, asked through a handle opened
// for neither reading nor writing, which Windows grants even for the
// keyboards and mice it keeps to itself.
void DescribeInterface(const std::wstring& path, HidDeviceInfo& out) {
    HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return;
    }
    HidAttributes attr;
    if (ReadAttributes(h, attr)) {
        out.vendorId = attr.vendorId;
        out.productId = attr.productId;
    }
    ReadSerial(h, out.serial);
    out.inputReportIds = InputReportIdsOf(h);
    CloseHandle(h);
}

// Device instance ID of a node (CM_Get_Device_IDW, at most 200 characters).
bool DeviceIdOf(DEVINST node, std::wstring& id) {
    WCHAR buf[kDeviceIdChars] = {};
    if (CM_Get_Device_IDW(node, buf, kDeviceIdChars, 0) != CR_SUCCESS) {
        return false;
    }
    // An ID filling all 200 characters may come back unterminated.
    id = WideStringFromBuffer(buf, kDeviceIdChars);
    return !id.empty();
}

// First entry of the node's location paths (DEVPKEY_Device_LocationPaths,
// read into 1024 bytes). False on any failure, a larger property included.
bool FirstLocationPath(DEVINST node, std::wstring& path) {
    WCHAR buf[kLocationPathBytes / sizeof(WCHAR)] = {};
    DEVPROPTYPE type = 0;
    ULONG size = sizeof(buf);
    if (CM_Get_DevNode_PropertyW(node, &DEVPKEY_Device_LocationPaths, &type,
                                 reinterpret_cast<PBYTE>(buf), &size, 0) != CR_SUCCESS) {
        return false;  // a property larger than the buffer lands here too
    }
    // A list of exactly 1024 bytes may lack its terminators; the type and
    // size are the driver's word, so both are checked before reading.
    return FirstStringOfProperty(type, buf, size, sizeof(buf), path);
}

// The place of the USB device an interface belongs to: up from the
// interface's node to the first parent that is that device's own node, then
// its location path. Unknown when any step fails (Wine's CM_Get_Parent
// always does).
PortKey PortKeyOfInterface(DEVINST node, uint16_t vendorId, uint16_t productId) {
    if (vendorId == 0 && productId == 0) {
        return {};
    }
    DEVINST current = node;
    for (int level = 0; level < kMaxClimb; ++level) {
        DEVINST parent = 0;
        std::wstring id;
        if (CM_Get_Parent(&parent, current, 0) != CR_SUCCESS || !DeviceIdOf(parent, id)) {
            return {};
        }
        if (IsUsbDeviceIdOf(id, vendorId, productId)) {
            std::wstring path;
            return FirstLocationPath(parent, path) ? PortKeyOfLocationPath(path) : PortKey{};
        }
        current = parent;
    }
    return {};
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
    bool ListHidDevices(std::vector<HidDeviceInfo>& out) override {
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
            HidDeviceInfo found;
            DEVINST node = 0;
            if (!InterfaceDetail(set, iface, found.path, node)) {
                continue;
            }
            found.interfaceNumber = InterfaceNumberOfPath(found.path);
            DescribeInterface(found.path, found);
            // Wine frees the nodes with the set, so the climb happens before that.
            found.port = PortKeyOfInterface(node, found.vendorId, found.productId);
            out.push_back(std::move(found));
        }
        SetupDiDestroyDeviceInfoList(set);
        return true;
    }

    Handle Open(const std::wstring& path) override {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
        return h == INVALID_HANDLE_VALUE ? kInvalidHandle : static_cast<Handle>(h);
    }

    bool Attributes(Handle device, HidAttributes& out) override {
        return ReadAttributes(ToWin(device), out);
    }

    bool SerialString(Handle device, std::wstring& out) override {
        return ReadSerial(ToWin(device), out);
    }

    bool SetFeature(Handle device, const uint8_t* report, size_t length) override {
        if (report == nullptr || length == 0 || length > std::numeric_limits<ULONG>::max()) {
            return false;
        }
        // hid.dll takes a non-const buffer; give it a copy of ours.
        std::vector<uint8_t> copy(report, report + length);
        return HidD_SetFeature(ToWin(device), copy.data(), static_cast<ULONG>(length)) != FALSE;
    }

    FeatureResult GetFeature(Handle device, uint8_t reportId, uint8_t* buf,
                             uint32_t length) override {
        if (buf == nullptr || length == 0) {
            return {FeatureOutcome::kFailed, 0, ERROR_INVALID_PARAMETER};
        }
        // hid.dll waits for the answer itself, on an event of its own, so
        // this is safe beside the overlapped read pending on the same handle.
        // It says nothing of the answer's length: the buffer is filled up to
        // the report's declared size, so the caller gets all of it.
        buf[0] = reportId;
        if (HidD_GetFeature(ToWin(device), buf, static_cast<ULONG>(length)) == FALSE) {
            const DWORD error = GetLastError();  // a stall: ERROR_GEN_FAILURE
            return {FeatureOutcome::kFailed, 0, error != 0 ? error : kErrorGenFailure};
        }
        return {FeatureOutcome::kData, length, 0};
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

    bool SetInputQueueDepth(Handle device, uint32_t wanted, uint32_t& granted) override {
        granted = 0;
        if (!IsUsable(device)) {
            return false;
        }
        // hid.dll refuses a depth outside its range (2 to 512 on current
        // Windows) and then keeps the old one; the read-back says which.
        const bool set = HidD_SetNumInputBuffers(ToWin(device), wanted) != FALSE;
        ULONG inForce = 0;
        if (!HidD_GetNumInputBuffers(ToWin(device), &inForce)) {
            granted = set ? wanted : 0;
            return set;
        }
        granted = static_cast<uint32_t>(inForce);
        return granted >= wanted;
    }
};

}  // namespace

HidHost& PlatformHidHost() {
    static Win32HidHost host;
    return host;
}

}  // namespace brisk
