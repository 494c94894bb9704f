#include "platform/linux/sysfs_ids.h"

#include <cerrno>
#include <cwctype>

#include "platform/hid.h"
#include "platform/utf8.h"

namespace brisk::linux_hid {
namespace {

constexpr size_t kSerialChars = 128;  // what HidD_GetSerialNumberString reads
constexpr size_t kMaxInstance = 100;  // keeps a whole ID inside CM_Get_Device_IDW's 200
constexpr size_t kMaxSysname = 100;   // a sysfs name longer than this is nobody's USB device
constexpr size_t kMaxDevnode = 4096;  // PATH_MAX
constexpr size_t kMaxUsbDepth = 7;    // USB allows five hubs below the root, so six ports
constexpr unsigned kMaxBus = 999;     // bus numbers are small; anything huge is garbage
constexpr unsigned kMaxPort = 255;    // a hub has at most 255 ports
constexpr uint8_t kLongItemPrefix = 0xFE;
constexpr uint8_t kReportIdItem = 0x84;  // global item, tag 8: Report ID
constexpr wchar_t kUsbStep[] = L"#USB(";

// sysfs ends attribute text with a line end; libudev usually strips it.
std::string_view WithoutLineEnd(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::optional<uint32_t> ParseHexDigits(std::string_view text, size_t digits) {
    text = WithoutLineEnd(text);
    if (text.size() != digits) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (char c : text) {
        const int d = HexDigit(c);
        if (d < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<uint32_t>(d);
    }
    return value;
}

// A decimal number of one to three digits, no sign, at most `max`.
std::optional<unsigned> ParseSmallDecimal(std::string_view text, unsigned max) {
    if (text.empty() || text.size() > 3) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > max) {
        return std::nullopt;
    }
    return value;
}

bool IsPrintableAscii(char c) {
    return c > 0x20 && c < 0x7F;
}

std::wstring WideAscii(std::string_view text) {
    return std::wstring(text.begin(), text.end());
}

std::wstring Hex(uint32_t value, int digits, bool upper) {
    const wchar_t* set = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
    std::wstring out(static_cast<size_t>(digits), L'0');
    for (int i = digits - 1; i >= 0; --i) {
        out[static_cast<size_t>(i)] = set[value & 0xF];
        value >>= 4;
    }
    return out;
}

wchar_t UpperAscii(wchar_t c) {
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

}  // namespace

std::optional<uint16_t> ParseHex16(std::string_view text) {
    const auto v = ParseHexDigits(text, 4);
    if (!v) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(*v);
}

std::optional<uint8_t> ParseInterfaceNumber(std::string_view text) {
    const auto v = ParseHexDigits(text, 2);
    if (!v) {
        return std::nullopt;
    }
    return static_cast<uint8_t>(*v);
}

std::optional<UsbPlace> ParseUsbDeviceName(std::string_view sysname) {
    if (sysname.size() > kMaxSysname) {
        return std::nullopt;
    }
    UsbPlace place;
    if (sysname.starts_with("usb")) {
        const auto bus = ParseSmallDecimal(sysname.substr(3), kMaxBus);
        if (!bus || *bus == 0) {
            return std::nullopt;
        }
        place.bus = *bus;
        return place;
    }
    const size_t dash = sysname.find('-');
    if (dash == std::string_view::npos) {
        return std::nullopt;
    }
    const auto bus = ParseSmallDecimal(sysname.substr(0, dash), kMaxBus);
    if (!bus || *bus == 0) {
        return std::nullopt;
    }
    place.bus = *bus;
    std::string_view rest = sysname.substr(dash + 1);
    while (true) {
        const size_t dot = rest.find('.');
        const auto port = ParseSmallDecimal(rest.substr(0, dot), kMaxPort);
        if (!port || *port == 0 || place.ports.size() == kMaxUsbDepth) {
            return std::nullopt;
        }
        place.ports.push_back(*port);
        if (dot == std::string_view::npos) {
            return place;
        }
        rest = rest.substr(dot + 1);
    }
}

std::wstring LocationPathOf(const UsbPlace& place) {
    std::wstring path = L"USBROOT(" + std::to_wstring(place.bus) + L")";
    for (unsigned port : place.ports) {
        path += kUsbStep + std::to_wstring(port) + L")";
    }
    return path;
}

std::wstring SerialText(std::string_view raw) {
    raw = raw.substr(0, raw.find('\0'));
    std::wstring text = WideFromUtf8OrLatin1(WithoutLineEnd(raw));
    if (text.size() > kSerialChars) {
        text.resize(kSerialChars);
    }
    return text;
}

std::wstring InstanceOf(std::string_view serial, std::string_view sysname) {
    serial = WithoutLineEnd(serial);
    bool usable = !serial.empty() && serial.size() <= kMaxInstance;
    for (char c : serial) {
        usable = usable && IsPrintableAscii(c) && c != '\\' && c != '&' && c != ',';
    }
    if (usable) {
        return WideAscii(serial);
    }
    std::wstring made;
    for (char c : sysname.substr(0, kMaxInstance)) {
        made += IsPrintableAscii(c) && c != '\\' ? static_cast<wchar_t>(c) : L'_';
    }
    return made;
}

std::wstring DeviceIdOf(std::wstring_view bus, uint16_t vendorId, uint16_t productId,
                        std::optional<uint8_t> interfaceNumber, std::wstring_view instance) {
    std::wstring id(bus);
    id += L"\\VID_" + Hex(vendorId, 4, true) + L"&PID_" + Hex(productId, 4, true);
    if (interfaceNumber) {
        id += L"&MI_" + Hex(*interfaceNumber, 2, true);
    }
    id += L"\\";
    id += instance;
    return id;
}

std::wstring GenericIdOf(std::string_view subsystem, std::string_view sysname) {
    if (subsystem.empty() || sysname.empty() || subsystem.size() > kMaxSysname ||
        sysname.size() > kMaxSysname) {
        return {};
    }
    std::wstring id;
    for (char c : subsystem) {
        if (!IsPrintableAscii(c) || c == '\\') {
            return {};
        }
        id += UpperAscii(static_cast<wchar_t>(c));
    }
    id += L"\\";
    for (char c : sysname) {
        if (!IsPrintableAscii(c)) {
            return {};
        }
        id += static_cast<wchar_t>(c);
    }
    return id;
}

bool IdUnderEnumerator(std::wstring_view id, std::wstring_view enumerator) {
    if (enumerator.empty() || id.size() < enumerator.size()) {
        return false;
    }
    for (size_t i = 0; i < enumerator.size(); ++i) {
        if (UpperAscii(id[i]) != UpperAscii(enumerator[i])) {
            return false;
        }
    }
    return id.size() == enumerator.size() || id[enumerator.size()] == L'\\' ||
           id[enumerator.size()] == L'&';
}

std::wstring InterfacePathOf(const std::optional<UsbIdentity>& identity, std::string_view devnode) {
    if (devnode.empty() || devnode.front() != '/' || devnode.size() > kMaxDevnode) {
        return {};
    }
    for (char c : devnode) {
        if (!IsPrintableAscii(c)) {
            return {};
        }
    }
    std::wstring path = L"hid#";
    if (identity) {
        path += L"vid_" + Hex(identity->vendorId, 4, false) + L"&pid_" +
                Hex(identity->productId, 4, false);
        if (identity->interfaceNumber) {
            path += L"&mi_" + Hex(*identity->interfaceNumber, 2, false);
        }
        path += L"#";
    }
    return path + WideAscii(devnode);
}

std::string DevnodeOfPath(std::wstring_view path) {
    if (path.empty()) {
        return {};
    }
    if (path.front() != L'/') {
        // The identity part never holds a '/', so the first "#/" starts the node.
        const size_t cut = path.find(L"#/");
        if (cut == std::wstring_view::npos) {
            return {};
        }
        path = path.substr(cut + 1);
    }
    if (path.size() > kMaxDevnode) {
        return {};
    }
    std::string node;
    for (wchar_t c : path) {
        if (c <= 0x20 || c >= 0x7F) {
            return {};
        }
        node += static_cast<char>(c);
    }
    return node;
}

ReportIds ScanReportDescriptor(const uint8_t* descriptor, size_t length) {
    if (descriptor == nullptr || length == 0) {
        return ReportIds::kUnknown;
    }
    bool numbered = false;
    size_t at = 0;
    while (at < length) {
        const uint8_t prefix = descriptor[at];
        size_t itemBytes = 0;
        if (prefix == kLongItemPrefix) {
            // Long item: prefix, data size, tag, then the data.
            if (length - at < 3) {
                return ReportIds::kUnknown;
            }
            itemBytes = 3 + static_cast<size_t>(descriptor[at + 1]);
        } else {
            const size_t dataBytes = (prefix & 0x3) == 3 ? 4 : (prefix & 0x3);
            itemBytes = 1 + dataBytes;
            numbered = numbered || (prefix & 0xFC) == kReportIdItem;
        }
        if (itemBytes > length - at) {
            return ReportIds::kUnknown;
        }
        at += itemBytes;
    }
    return numbered ? ReportIds::kNumbered : ReportIds::kUnnumbered;
}

uint32_t Win32ErrorOf(int errnoValue) {
    switch (errnoValue) {
        case ENODEV:
        case ENXIO:
        case EIO:
        case ESHUTDOWN:
        case EPIPE:
        case ENOENT:
            return kErrorDeviceNotConnected;
        case EBADF:
            return kErrorInvalidHandle;
        case ECANCELED:
            return kErrorOperationAborted;
        default:
            return kErrorGenFailure;
    }
}

}  // namespace brisk::linux_hid
