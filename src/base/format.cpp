#include "base/format.h"

#include <cstdio>

namespace brisk {

void AppendFormatV(std::string& out, const char* format, va_list args) {
    char text[512];
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    if (n >= 0 && static_cast<size_t>(n) < sizeof text) {
        out.append(text, static_cast<size_t>(n));
    } else if (n >= 0) {
        // Longer than the buffer (a long command line, say): formatted again in full.
        const size_t at = out.size();
        out.resize(at + static_cast<size_t>(n) + 1);
        std::vsnprintf(out.data() + at, static_cast<size_t>(n) + 1, format, again);
        out.resize(at + static_cast<size_t>(n));
    }
    va_end(again);
}

void AppendFormat(std::string& out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    AppendFormatV(out, format, args);
    va_end(args);
}

std::string Format(const char* format, ...) {
    std::string out;
    va_list args;
    va_start(args, format);
    AppendFormatV(out, format, args);
    va_end(args);
    return out;
}

}  // namespace brisk
