#include "report/page_text.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace brisk::report {

void Fmt(std::string& out, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0) {
        return;
    }
    if (static_cast<size_t>(n) < sizeof text) {
        out.append(text, static_cast<size_t>(n));
        return;
    }
    // Longer than the buffer (a long command line, say): formatted again in full.
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(n) + 1);
    va_start(args, format);
    std::vsnprintf(out.data() + at, static_cast<size_t>(n) + 1, format, args);
    va_end(args);
    out.resize(at + static_cast<size_t>(n));
}

// "1:02:03" or "2:03" for long runs, seconds with decimals for short ones.
std::string Clock(double seconds, bool fraction) {
    if (!std::isfinite(seconds) || seconds < 0.0) {
        return "?";
    }
    const auto whole = static_cast<long long>(seconds);
    const long long h = whole / 3600, m = whole / 60 % 60, s = whole % 60;
    char text[64];
    if (h > 0) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", h, m, s);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", m, s);
    }
    std::string out = text;
    if (fraction) {
        std::snprintf(text, sizeof text, ".%03lld",
                      static_cast<long long>((seconds - static_cast<double>(whole)) * 1000.0));
        out += text;
    }
    return out;
}

std::string Seconds(double seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f s", seconds);
    return text;
}

std::string TickLabel(double v) {
    char text[32];
    if (std::abs(v) >= 100000) {
        std::snprintf(text, sizeof text, "%.0fk", v / 1000);
    } else {
        std::snprintf(text, sizeof text, "%.4g", v);
    }
    return text;
}

}  // namespace brisk::report
