// Wide strings out of fixed buffers that the OS (or a device) filled for us.
//
// A string that exactly fills its buffer comes back without a terminating
// zero (HidD_GetSerialNumberString with a 126-character serial plus padding,
// a location-path property of exactly the buffer size), so every read here
// stops at the buffer's end as well as at the first zero.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace brisk {

// Device property types (DEVPROP_TYPE_STRING, DEVPROP_TYPE_STRING_LIST).
constexpr uint32_t kPropTypeString = 0x00000012;
constexpr uint32_t kPropTypeStringList = 0x00002012;

// The string at the start of `buf`: up to its first zero, or all
// `capacityChars` characters when there is none.
inline std::wstring WideStringFromBuffer(const wchar_t* buf, size_t capacityChars) {
    if (buf == nullptr) {
        return {};
    }
    size_t n = 0;
    while (n < capacityChars && buf[n] != L'\0') {
        ++n;
    }
    return std::wstring(buf, n);
}

// The first entry of a string-list property (zero-separated strings, REG_MULTI_SZ
// style) as the property call left it: `sizeBytes` bytes reported valid in a
// buffer of `capacityBytes`. Trailing bytes that make no whole character are
// ignored; a size beyond the buffer is cut to it. False when the property is
// not a string or string list, or its first entry is empty.
inline bool FirstStringOfProperty(uint32_t type, const wchar_t* buf, size_t sizeBytes,
                                  size_t capacityBytes, std::wstring& out) {
    out.clear();
    if (type != kPropTypeStringList && type != kPropTypeString) {
        return false;
    }
    size_t chars = std::min(sizeBytes, capacityBytes) / sizeof(wchar_t);
    out = WideStringFromBuffer(buf, chars);
    return !out.empty();
}

}  // namespace brisk
