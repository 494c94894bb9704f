#include "optical/ootx.h"

namespace brisk::optical {

uint32_t Crc32(const uint8_t* data, size_t size) {
    // Bit by bit: a frame comes every few seconds, so no table is worth its space.
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

OotxDecoder::Step OotxDecoder::Broken() {
    inFrame = false;
    return Step::kBroken;
}

OotxDecoder::Step OotxDecoder::Add(bool bit) {
    const bool preambleBefore = zeros >= kPreambleZeros;
    zeros = bit ? 0 : static_cast<uint16_t>(zeros < kPreambleZeros ? zeros + 1 : zeros);
    if (!inFrame) {
        if (preambleBefore && bit) {  // the 1 after the preamble: the first word follows
            inFrame = true;
            bitInWord = 0;
            word = 0;
            bytesIn = 0;
            need = 0;
            frame = OotxFrame{};
        }
        return Step::kNone;
    }
    if (bitInWord < 16) {
        word = static_cast<uint16_t>(word << 1 | (bit ? 1 : 0));
        ++bitInWord;
        return Step::kNone;
    }
    bitInWord = 0;
    if (!bit) {
        // A missing stuffing bit: a flash was missed or is a new preamble
        // beginning; the zeros counted above let that preamble through.
        return Broken();
    }
    return EndOfWord();
}

OotxDecoder::Step OotxDecoder::EndOfWord() {
    const uint8_t bytes[2] = {static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word)};
    word = 0;
    for (uint8_t b : bytes) {
        if (bytesIn < 2) {
            frame.length = static_cast<uint16_t>(frame.length | b << (8 * bytesIn));
            if (bytesIn == 1) {
                if (frame.length > kMaxOotxPayload) {
                    return Broken();
                }
                need = static_cast<uint16_t>(2 + frame.length + frame.length % 2 + 4);
            }
        } else if (bytesIn < 2 + frame.length) {
            frame.payload[bytesIn - 2] = b;
        } else if (bytesIn >= need - 4) {
            crcBytes[bytesIn - (need - 4)] = b;
        }
        ++bytesIn;
        if (need != 0 && bytesIn == need) {
            inFrame = false;
            frame.storedCrc =
                static_cast<uint32_t>(crcBytes[0]) | static_cast<uint32_t>(crcBytes[1]) << 8 |
                static_cast<uint32_t>(crcBytes[2]) << 16 | static_cast<uint32_t>(crcBytes[3]) << 24;
            frame.computedCrc = Crc32(frame.payload.data(), frame.length);
            frame.crcOk = frame.storedCrc == frame.computedCrc;
            frame.hasIdentity = frame.length >= 6;
            if (frame.hasIdentity) {
                const uint8_t* p = frame.payload.data();
                frame.firmwareWord = static_cast<uint16_t>(p[0] | p[1] << 8);
                frame.id = static_cast<uint32_t>(p[2]) | static_cast<uint32_t>(p[3]) << 8 |
                           static_cast<uint32_t>(p[4]) << 16 | static_cast<uint32_t>(p[5]) << 24;
            }
            return Step::kFrame;
        }
    }
    return Step::kNone;
}

}  // namespace brisk::optical
