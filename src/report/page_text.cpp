#include "report/page_text.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "base/format.h"

namespace brisk::report {

void Fmt(std::string& out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    AppendFormatV(out, format, args);
    va_end(args);
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

std::string TickLabel(double v, double step) {
    const bool thousands = std::abs(v) >= 100000;
    if (thousands) {
        v /= 1000;
        step /= 1000;
    }
    int decimals = 0;
    if (step > 0.0 && step < 1.0) {
        decimals = std::min(6, static_cast<int>(std::ceil(-std::log10(step) - 1e-9)));
    }
    char text[48];
    if (std::abs(v) >= 1e6) {  // a broken log's values: short, if not round
        std::snprintf(text, sizeof text, "%.3gk", v);
        return text;
    }
    std::snprintf(text, sizeof text, "%.*f%s", decimals, v == 0.0 ? 0.0 : v, thousands ? "k" : "");
    return text;
}

}  // namespace brisk::report
