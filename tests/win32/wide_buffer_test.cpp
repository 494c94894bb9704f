// Strings out of OS-filled buffers: never read past the buffer, whether or not
// the OS terminated the string.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/win32/wide_buffer.h"

namespace brisk {
namespace {

TEST(WideStringFromBuffer, StopsAtTheFirstZero) {
    const wchar_t buf[8] = L"LHR-1\0x";
    EXPECT_EQ(WideStringFromBuffer(buf, 8), L"LHR-1");
    EXPECT_EQ(WideStringFromBuffer(buf, 3), L"LHR");
    EXPECT_EQ(WideStringFromBuffer(buf, 0), L"");
    EXPECT_EQ(WideStringFromBuffer(nullptr, 8), L"");
}

TEST(WideStringFromBuffer, FullBufferWithoutTerminatorStopsAtItsEnd) {
    // A serial filling all 128 characters, followed by memory that is not ours.
    wchar_t mem[128 + 4];
    for (auto& c : mem) {
        c = L'S';
    }
    mem[128] = L'X';  // would show up if the read ran past the buffer
    const std::wstring serial = WideStringFromBuffer(mem, 128);
    EXPECT_EQ(serial.size(), 128u);
    EXPECT_EQ(serial, std::wstring(128, L'S'));
}

// A property buffer as the OS fills it: `text` (zeros included), the rest zero.
struct PropBuf {
    wchar_t chars[1024 / sizeof(wchar_t) + 4] = {};
    static constexpr size_t kCapacityBytes = 1024;
    explicit PropBuf(const std::wstring& text) {
        std::memcpy(chars, text.data(), text.size() * sizeof(wchar_t));
    }
};

TEST(FirstStringOfProperty, TakesTheFirstEntryOfAStringList) {
    const std::wstring list(L"PCIROOT(0)#USBROOT(0)#USB(3)\0ACPI(_SB_)#USB(3)\0\0", 48);
    PropBuf p(list);
    std::wstring out = L"stale";
    ASSERT_TRUE(FirstStringOfProperty(kPropTypeStringList, p.chars, list.size() * sizeof(wchar_t),
                                      PropBuf::kCapacityBytes, out));
    EXPECT_EQ(out, L"PCIROOT(0)#USBROOT(0)#USB(3)");
    // A plain string property carries the same text.
    ASSERT_TRUE(FirstStringOfProperty(kPropTypeString, p.chars, list.size() * sizeof(wchar_t),
                                      PropBuf::kCapacityBytes, out));
    EXPECT_EQ(out, L"PCIROOT(0)#USBROOT(0)#USB(3)");
}

TEST(FirstStringOfProperty, ExactlyFullPropertyWithoutTerminatorIsBounded) {
    const size_t chars = PropBuf::kCapacityBytes / sizeof(wchar_t);
    PropBuf p(std::wstring(chars + 4, L'P'));  // the guard after the buffer is not zero either
    std::wstring out;
    ASSERT_TRUE(FirstStringOfProperty(kPropTypeStringList, p.chars, PropBuf::kCapacityBytes,
                                      PropBuf::kCapacityBytes, out));
    EXPECT_EQ(out.size(), chars);
    // A size claimed beyond the buffer is cut to the buffer.
    ASSERT_TRUE(FirstStringOfProperty(kPropTypeStringList, p.chars, 1u << 20,
                                      PropBuf::kCapacityBytes, out));
    EXPECT_EQ(out.size(), chars);
}

TEST(FirstStringOfProperty, OddSizesAndReportedSizeAreRespected) {
    PropBuf p(L"ABCDEF");
    std::wstring out;
    // 3 whole characters and a stray byte: the stray byte is dropped.
    ASSERT_TRUE(FirstStringOfProperty(kPropTypeStringList, p.chars, 3 * sizeof(wchar_t) + 1,
                                      PropBuf::kCapacityBytes, out));
    EXPECT_EQ(out, L"ABC");
    // Less than one character, or nothing at all.
    EXPECT_FALSE(
        FirstStringOfProperty(kPropTypeStringList, p.chars, 1, PropBuf::kCapacityBytes, out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(
        FirstStringOfProperty(kPropTypeStringList, p.chars, 0, PropBuf::kCapacityBytes, out));
}

TEST(FirstStringOfProperty, RefusesOtherTypesAndEmptyEntries) {
    PropBuf text(L"PCIROOT(0)");
    std::wstring out = L"stale";
    EXPECT_FALSE(
        FirstStringOfProperty(0x1003 /* binary */, text.chars, 20, PropBuf::kCapacityBytes, out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(
        FirstStringOfProperty(0x7 /* uint32 */, text.chars, 4, PropBuf::kCapacityBytes, out));
    PropBuf emptyList(std::wstring(L"\0\0", 2));
    EXPECT_FALSE(FirstStringOfProperty(kPropTypeStringList, emptyList.chars, 2 * sizeof(wchar_t),
                                       PropBuf::kCapacityBytes, out));
    EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace brisk
