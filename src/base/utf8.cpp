#include "base/utf8.h"

#include <cstdint>
#include <type_traits>

namespace brisk {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool IsSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

// One code point of valid UTF-8 starting at text[i]; false when the bytes
// there are not one (overlong forms and surrogates included).
bool DecodeUtf8(std::string_view text, size_t& i, char32_t& out) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t extra = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        out = lead;
        ++i;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1, min = 0x80, out = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, min = 0x800, out = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, min = 0x10000, out = lead & 0x07;
    } else {
        return false;
    }
    if (text.size() - i <= extra) {
        return false;
    }
    for (size_t k = 1; k <= extra; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return false;
        }
        out = (out << 6) | (byte(i + k) & 0x3F);
    }
    if (out < min || out > 0x10FFFF || IsSurrogate(out)) {
        return false;
    }
    i += extra + 1;
    return true;
}

void AppendWide(std::wstring& out, char32_t c) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
            return;
        }
    }
    out.push_back(static_cast<wchar_t>(c));
}

}  // namespace

std::string Utf8FromWide(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(text[i]));
        if constexpr (sizeof(wchar_t) == 2) {
            const bool high = c >= 0xD800 && c <= 0xDBFF;
            if (high && i + 1 < text.size()) {
                const char32_t low = static_cast<char16_t>(text[i + 1]);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        }
        if (IsSurrogate(c) || c > 0x10FFFF) {
            c = kReplacement;
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::wstring WideFromUtf8OrLatin1(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        char32_t c = 0;
        if (!DecodeUtf8(text, i, c)) {
            out.clear();
            for (char byte : text) {
                out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
            }
            return out;
        }
        AppendWide(out, c);
    }
    return out;
}

}  // namespace brisk
