#include "platform/linux/sysfs_ids.h"

#include <cerrno>

#include "base/digits.h"
#include "base/utf8.h"
#include "platform/hid.h"

namespace brisk::linux_hid {
namespace {

constexpr size_t kSerialChars = 128;  // what HidD_GetSerialNumberString reads
constexpr size_t kMaxDevnode = 4096;  // PATH_MAX
constexpr size_t kMaxUsbDepth = 7;    // USB allows five hubs below the root, so six ports
constexpr unsigned kMaxBus = 999;     // bus numbers are small; anything huge is garbage
constexpr unsigned kMaxPort = 255;    // a hub has at most 255 ports
constexpr uint8_t kLongItemPrefix = 0xFE;
constexpr uint8_t kReportIdItem = 0x84;  // global item, tag 8: Report ID

// sysfs ends attribute text with a line end; libudev usually strips it.
std::string_view WithoutLineEnd(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<uint32_t> ParseHexDigits(std::string_view text, size_t digits) {
    text = WithoutLineEnd(text);
    if (text.size() != digits) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (char c : text) {
        const int d = HexDigitValue(c);
        if (d < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<uint32_t>(d);
    }
    return value;
}

bool IsPrintableAscii(char c) {
    return c > 0x20 && c < 0x7F;
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

PortKey ParseUsbPort(std::string_view busnum, std::string_view devpath) {
    const auto bus = ParseSmallDecimal(WithoutLineEnd(busnum), kMaxBus);
    devpath = WithoutLineEnd(devpath);
    if (!bus || *bus == 0 || devpath.empty()) {
        return {};
    }
    PortKey key;
    if (devpath != "0") {
        while (true) {
            const size_t dot = devpath.find('.');
            const auto port = ParseSmallDecimal(devpath.substr(0, dot), kMaxPort);
            if (!port || *port == 0 || key.ports.size() == kMaxUsbDepth) {
                return {};
            }
            key.ports.push_back(*port);
            if (dot == std::string_view::npos) {
                break;
            }
            devpath.remove_prefix(dot + 1);
        }
    }
    key.root = L"usb" + std::to_wstring(*bus);
    return key;
}

std::wstring SerialText(std::string_view raw) {
    raw = raw.substr(0, raw.find('\0'));
    std::wstring text = WideFromUtf8OrLatin1(WithoutLineEnd(raw));
    if (text.size() > kSerialChars) {
        text.resize(kSerialChars);
    }
    return text;
}

std::wstring PathOfDevnode(std::string_view devnode) {
    if (devnode.empty() || devnode.front() != '/' || devnode.size() > kMaxDevnode) {
        return {};
    }
    std::wstring path;
    for (char c : devnode) {
        if (!IsPrintableAscii(c)) {
            return {};
        }
        path += static_cast<wchar_t>(c);
    }
    return path;
}

std::string DevnodeOfPath(std::wstring_view path) {
    if (path.empty() || path.front() != L'/' || path.size() > kMaxDevnode) {
        return {};
    }
    std::string devnode;
    for (wchar_t c : path) {
        if (c <= 0x20 || c >= 0x7F) {
            return {};
        }
        devnode += static_cast<char>(c);
    }
    return devnode;
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

uint32_t FeatureErrorOf(int errnoValue) {
    constexpr uint32_t kErrorInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
    switch (errnoValue) {
        case ENODEV:
        case ENXIO:
        case ESHUTDOWN:
        case ENOENT:
            return kErrorDeviceNotConnected;
        case EBADF:
            return kErrorInvalidHandle;
        case EINVAL:
            return kErrorInvalidParameter;
        default:  // EPIPE, EIO, EPROTO, ETIMEDOUT, EOVERFLOW, ...
            return kErrorGenFailure;
    }
}

}  // namespace brisk::linux_hid
