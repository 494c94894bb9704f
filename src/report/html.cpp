#include "report/html.h"

#include <cstdint>

namespace brisk::report {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence at text[i], or 0.
size_t Utf8Length(std::string_view text, size_t i) {
    const auto b = static_cast<uint8_t>(text[i]);
    size_t n = 0;
    uint32_t c = 0;
    if (b < 0x80) {
        return 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
        n = 2, c = b & 0x1Fu;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3, c = b & 0x0Fu;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4, c = b & 0x07u;
    } else {
        return 0;
    }
    if (i + n > text.size()) {
        return 0;
    }
    for (size_t k = 1; k < n; ++k) {
        const auto t = static_cast<uint8_t>(text[i + k]);
        if ((t & 0xC0u) != 0x80u) {
            return 0;
        }
        c = (c << 6) | (t & 0x3Fu);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not text.
    const bool overlong = (n == 3 && c < 0x800) || (n == 4 && c < 0x10000);
    if (overlong || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
        return 0;
    }
    return n;
}

}  // namespace

void AppendEscaped(std::string& out, std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        const size_t n = Utf8Length(text, i);
        if (n == 0) {
            out += kReplacement;
            ++i;
            continue;
        }
        if (n > 1) {
            out.append(text.substr(i, n));
            i += n;
            continue;
        }
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                if ((static_cast<uint8_t>(c) < 0x20 && c != '\t' && c != '\n') || c == 0x7F) {
                    out += kReplacement;
                } else {
                    out += c;
                }
        }
        ++i;
    }
}

std::string EscapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendEscaped(out, text);
    return out;
}

}  // namespace brisk::report
