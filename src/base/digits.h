// Digits in text that a device or the operating system wrote: the identity
// strings both HID backends read (sysfs attributes, narrow; Windows paths and
// IDs, wide). Header only; each parser says no rather than guess.
#pragma once

#include <optional>
#include <string_view>

namespace brisk {

// The value of one hexadecimal digit in either case; -1 for anything else.
template <typename Char>
constexpr int HexDigitValue(Char c) {
    if (c >= Char('0') && c <= Char('9')) {
        return static_cast<int>(c - Char('0'));
    }
    if (c >= Char('a') && c <= Char('f')) {
        return static_cast<int>(c - Char('a')) + 10;
    }
    if (c >= Char('A') && c <= Char('F')) {
        return static_cast<int>(c - Char('A')) + 10;
    }
    return -1;
}

// A decimal number of one to three digits, no sign or space, at most `max`.
template <typename Char>
std::optional<unsigned> ParseSmallDecimal(std::basic_string_view<Char> text, unsigned max) {
    if (text.empty() || text.size() > 3) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (Char c : text) {
        if (c < Char('0') || c > Char('9')) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - Char('0'));
    }
    if (value > max) {
        return std::nullopt;
    }
    return value;
}

}  // namespace brisk
