// printf into a std::string: the one helper the text-building code shares
// (report pages, reasons, the optical block), checked by the compiler against
// its format like any printf.
#pragma once

#include <cstdarg>
#include <string>

#include "base/printf_format.h"

namespace brisk {

// Appends the formatted text to out, however long it comes out.
void AppendFormat(std::string& out, const char* format, ...) BRISK_PRINTF_FORMAT(2, 3);
void AppendFormatV(std::string& out, const char* format, va_list args);

// The formatted text as a new string.
std::string Format(const char* format, ...) BRISK_PRINTF_FORMAT(1, 2);

}  // namespace brisk
