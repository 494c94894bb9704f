// One way out for every line the tool prints. Several threads print (the
// status monitor, the readers, the present loop), and each line must reach
// the console whole: a printf to an unbuffered stream may be written out in
// pieces (on Windows it is), so another thread's line could land inside it.
// Here a line is formatted in full first, then written with one write call.
#pragma once

#include <cstdio>
#include <string_view>

#if defined(__GNUC__)
#define BRISK_PRINTF_FORMAT(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define BRISK_PRINTF_FORMAT(fmt, args)
#endif

namespace brisk {

// Formats like printf and writes the result to `stream` (stdout or stderr) in
// one call. The text carries its own newline, as a printf format would.
void Print(std::FILE* stream, const char* format, ...) BRISK_PRINTF_FORMAT(2, 3);

// Writes already formatted text (whole lines, newlines included) in one call.
void PrintText(std::FILE* stream, std::string_view text);

}  // namespace brisk
