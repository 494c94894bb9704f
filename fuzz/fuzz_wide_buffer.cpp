// Fixed buffers that the OS or a device filled with wide strings (serials,
// device IDs, location-path properties), possibly without a terminator and
// with a size and type that are the driver's word.
//
// Input: the property type selector (one byte: string list, string, or the
// raw 32-bit type from the next four bytes), the reported size in bytes (16
// bits), then the buffer's contents; the buffer is exactly that long.
#include "fuzz_support.h"
#include "platform/win32/wide_buffer.h"

namespace {

void CheckString(const wchar_t* buf, size_t capacityChars, const std::wstring& s) {
    // Up to the first zero, never past the buffer.
    FUZZ_CHECK(s.size() <= capacityChars);
    FUZZ_CHECK(s.find(L'\0') == std::wstring::npos);
    FUZZ_CHECK(s.empty() || s.compare(0, s.size(), buf, s.size()) == 0);
    if (s.size() < capacityChars) {
        FUZZ_CHECK(buf[s.size()] == L'\0');
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    brisk::fuzz::Reader in(data, size);
    const uint8_t selector = in.Byte();
    uint32_t type = selector == 0   ? brisk::kPropTypeStringList
                    : selector == 1 ? brisk::kPropTypeString
                                    : in.U32();
    const size_t reportedBytes = in.U16();
    const std::vector<uint8_t> contents = in.Take(in.Left());

    // Aligned for wchar_t like any OS buffer, and not a byte longer than given.
    const size_t capacityBytes = contents.size();
    brisk::fuzz::ExactBuffer buffer(contents.data(), capacityBytes);
    const auto* buf = reinterpret_cast<const wchar_t*>(buffer.data());
    const size_t capacityChars = capacityBytes / sizeof(wchar_t);

    const std::wstring s = brisk::WideStringFromBuffer(buf, capacityChars);
    CheckString(buf, capacityChars, s);
    FUZZ_CHECK(brisk::WideStringFromBuffer(nullptr, capacityChars).empty());

    std::wstring first = L"stale";
    const bool ok = brisk::FirstStringOfProperty(type, buf, reportedBytes, capacityBytes, first);
    const bool stringType = type == brisk::kPropTypeString || type == brisk::kPropTypeStringList;
    FUZZ_CHECK(ok == !first.empty());
    if (!stringType) {
        FUZZ_CHECK(!ok);
        return 0;
    }
    // Only the bytes reported valid, and only whole characters of them.
    const size_t validChars = std::min(reportedBytes, capacityBytes) / sizeof(wchar_t);
    CheckString(buf, validChars, first);
    FUZZ_CHECK(first.size() <= s.size());
    return 0;
}
