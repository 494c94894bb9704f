// Little- and big-endian loads from bytes already bounds-checked by the
// caller. Captures carry the byte order of the machine that wrote them, so
// every container and header reader takes it as a flag.
#pragma once

#include <cstdint>

namespace brisk::capture {

inline uint16_t Load16(const uint8_t* p, bool bigEndian) {
    return bigEndian ? static_cast<uint16_t>(p[0] << 8 | p[1])
                     : static_cast<uint16_t>(p[1] << 8 | p[0]);
}

inline uint32_t Load32(const uint8_t* p, bool bigEndian) {
    const uint32_t a = Load16(p, bigEndian), b = Load16(p + 2, bigEndian);
    return bigEndian ? a << 16 | b : b << 16 | a;
}

inline uint64_t Load64(const uint8_t* p, bool bigEndian) {
    const uint64_t a = Load32(p, bigEndian), b = Load32(p + 4, bigEndian);
    return bigEndian ? a << 32 | b : b << 32 | a;
}

}  // namespace brisk::capture
