// Text a device reports (serial strings are wide) turned into the UTF-8 the
// console prints, and back. Done here rather than with %ls: that conversion
// depends on the C locale, fails on any character outside it and then cuts
// the line short, newline and all.
#pragma once

#include <string>
#include <string_view>

namespace brisk {

// UTF-16 (Windows) or UTF-32 (elsewhere) to UTF-8. A lone surrogate or a
// value beyond U+10FFFF becomes U+FFFD, so the result is always valid UTF-8.
std::string Utf8FromWide(std::wstring_view text);

// A command-line word as a wide string: UTF-8 when it is valid UTF-8,
// otherwise each byte on its own (Latin-1), so that no input is refused.
std::wstring WideFromUtf8OrLatin1(std::string_view text);

}  // namespace brisk
