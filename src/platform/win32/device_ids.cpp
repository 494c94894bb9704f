#include "platform/win32/device_ids.h"

#include <cwchar>
#include <optional>

#include "base/digits.h"

namespace brisk::win32_hid {
namespace {

constexpr std::wstring_view kInterfaceMarker = L"&MI_";
constexpr std::wstring_view kPortStep = L"#USB(";
constexpr unsigned kMaxPort = 255;  // a hub has at most 255 ports

wchar_t UpperAscii(wchar_t c) {
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// Where `marker` (upper case) first stands in `text`, case aside; npos when not.
size_t FindNoCase(std::wstring_view text, std::wstring_view marker) {
    for (size_t at = 0; at + marker.size() <= text.size(); ++at) {
        size_t k = 0;
        while (k < marker.size() && UpperAscii(text[at + k]) == marker[k]) {
            ++k;
        }
        if (k == marker.size()) {
            return at;
        }
    }
    return std::wstring_view::npos;
}

}  // namespace

int InterfaceNumberOfPath(std::wstring_view path) {
    const size_t at = FindNoCase(path, kInterfaceMarker);
    const size_t digits = at + kInterfaceMarker.size();
    if (at == std::wstring_view::npos || digits + 2 > path.size()) {
        return -1;
    }
    const int high = HexDigitValue(path[digits]);
    const int low = HexDigitValue(path[digits + 1]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

bool IsUsbDeviceIdOf(std::wstring_view id, uint16_t vendorId, uint16_t productId) {
    wchar_t prefix[32];
    std::swprintf(prefix, std::size(prefix), L"USB\\VID_%04X&PID_%04X\\", vendorId, productId);
    return FindNoCase(id, prefix) == 0 &&
           FindNoCase(id, kInterfaceMarker) == std::wstring_view::npos;
}

PortKey PortKeyOfLocationPath(std::wstring_view path) {
    size_t at = path.find(kPortStep);
    if (path.empty() || at == 0) {
        return {};
    }
    PortKey key;
    key.root = std::wstring(path.substr(0, at));
    while (at != std::wstring_view::npos) {
        const size_t digits = at + kPortStep.size();
        const size_t close = path.find(L')', digits);
        const auto port = close == std::wstring_view::npos
                              ? std::nullopt
                              : ParseSmallDecimal(path.substr(digits, close - digits), kMaxPort);
        const size_t next = close == std::wstring_view::npos ? close : close + 1;
        if (!port || *port == 0 || (next < path.size() && path.find(kPortStep, next) != next)) {
            return {};
        }
        key.ports.push_back(*port);
        at = next < path.size() ? next : std::wstring_view::npos;
    }
    return key;
}

}  // namespace brisk::win32_hid
