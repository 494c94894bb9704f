// Small helpers shared by the fuzz targets: a fatal invariant check, inputs
// cut into pieces, and copies of exactly the given size so that AddressSanitizer
// catches any read past a length we were handed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

// An invariant that does not hold is a finding, like a crash: abort so that
// libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                                      \
    do {                                                                                      \
        if (!(cond)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                     \
        }                                                                                     \
    } while (0)

namespace brisk::fuzz {

// `size` bytes on the heap with nothing readable after them.
class ExactBuffer {
  public:
    ExactBuffer(const uint8_t* data, size_t size)
        : bytes(new uint8_t[size == 0 ? 1 : size]), n(size) {
        if (size > 0) {
            std::memcpy(bytes.get(), data, size);
        }
    }
    // Null for an empty piece, as a caller with nothing read would pass.
    const uint8_t* data() const { return n == 0 ? nullptr : bytes.get(); }
    uint8_t* data() { return n == 0 ? nullptr : bytes.get(); }
    size_t size() const { return n; }

  private:
    std::unique_ptr<uint8_t[]> bytes;
    size_t n;
};

// Reads the input front to back; running out yields zeros and empty pieces.
class Reader {
  public:
    Reader(const uint8_t* data, size_t size) : p(data), left(size) {}
    bool Empty() const { return left == 0; }
    size_t Left() const { return left; }
    uint8_t Byte() {
        if (left == 0) {
            return 0;
        }
        --left;
        return *p++;
    }
    uint16_t U16() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
    uint32_t U32() { return static_cast<uint32_t>(U16()) | (static_cast<uint32_t>(U16()) << 16); }
    // Up to `n` bytes (fewer at the end of the input).
    std::vector<uint8_t> Take(size_t n) {
        n = n < left ? n : left;
        std::vector<uint8_t> out(p, p + n);
        p += n;
        left -= n;
        return out;
    }

  private:
    const uint8_t* p;
    size_t left;
};

// Pieces of the input separated by `sep` (the separators themselves dropped).
inline std::vector<std::string> Split(const uint8_t* data, size_t size, char sep) {
    std::vector<std::string> out(1);
    for (size_t i = 0; i < size; ++i) {
        if (static_cast<char>(data[i]) == sep) {
            out.emplace_back();
        } else {
            out.back().push_back(static_cast<char>(data[i]));
        }
    }
    return out;
}

// UTF-8 read leniently into wide characters, so that seeds stay readable text
// while the fuzzer still reaches any code unit: a byte that starts no sequence
// stands for itself, and surrogates or out-of-range values pass through.
inline std::wstring Widen(const std::string& s) {
    std::wstring out;
    size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<uint8_t>(s[i]);
        size_t extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
        if (i + extra >= s.size()) {
            extra = 0;  // a sequence cut short by the end: its lead byte stands alone
        }
        uint32_t c = extra == 0 ? b : (b & (0x3Fu >> extra));
        for (size_t k = 1; k <= extra; ++k) {
            c = (c << 6) | (static_cast<uint8_t>(s[i + k]) & 0x3Fu);
        }
        // Windows' wchar_t holds 16 bits; keep to what a real path can carry there.
        out.push_back(static_cast<wchar_t>(sizeof(wchar_t) == 2 ? (c & 0xFFFF) : c));
        i += 1 + extra;
    }
    return out;
}

}  // namespace brisk::fuzz
