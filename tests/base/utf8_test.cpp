#include <gtest/gtest.h>

#include <string>

#include "base/utf8.h"

namespace brisk {
namespace {

TEST(Utf8, WideTextBecomesValidUtf8) {
    struct Case {
        std::wstring wide;
        std::string utf8;
    };
    const Case cases[] = {
        {L"LHR-5A1B2C3D", "LHR-5A1B2C3D"},
        {L"LHR-\u00e9X", "LHR-\xC3\xA9X"},
        {L"\u20ac", "\xE2\x82\xAC"},
        {std::wstring(1, static_cast<wchar_t>(0xD800)) + L"A",
         "\xEF\xBF\xBD"
         "A"},  // lone surrogate
        {std::wstring(1, static_cast<wchar_t>(0xDC00)), "\xEF\xBF\xBD"},
        {L"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Utf8FromWide(c.wide), c.utf8);
    }
    // Beyond the basic plane: a surrogate pair on Windows, one unit elsewhere.
    std::wstring clef = sizeof(wchar_t) == 2 ? std::wstring{static_cast<wchar_t>(0xD834),
                                                            static_cast<wchar_t>(0xDD1E)}
                                             : std::wstring(1, static_cast<wchar_t>(0x1D11E));
    EXPECT_EQ(Utf8FromWide(clef), "\xF0\x9D\x84\x9E");
    EXPECT_EQ(WideFromUtf8OrLatin1("\xF0\x9D\x84\x9E"), clef);
}

TEST(Utf8, WordsAreUtf8WhenValidAndLatin1Otherwise) {
    struct Case {
        std::string word;
        std::wstring wide;
    };
    const Case cases[] = {
        {"LHR-5A1B2C3D", L"LHR-5A1B2C3D"},
        {"LHR-\xC3\xA9X", L"LHR-\u00e9X"},
        {"LHR-\xE9X", L"LHR-\u00e9X"},            // not UTF-8: bytes as they are
        {"\xC3", L"\u00c3"},                      // cut short
        {"\xC0\xAF", L"\u00c0\u00af"},            // overlong
        {"\xED\xA0\x80", L"\u00ed\u00a0\u0080"},  // an encoded surrogate
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WideFromUtf8OrLatin1(c.word), c.wide) << c.word;
    }
}

}  // namespace
}  // namespace brisk
