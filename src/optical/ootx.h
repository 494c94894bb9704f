// A base station's OOTX frame, received one bit at a time (one bit per sync
// flash of a first-generation station, one per sync word of a
// second-generation one). The frame: a preamble of 17 zeros, then 16-bit
// words, highest bit first, each followed by a stuffing bit of 1; the first
// word is the payload's length (little-endian), then the payload (padded to
// an even length), then the CRC32 of the payload, stored little-endian.
// The payload starts with the firmware word (u16: protocol in bits 0-5,
// firmware in bits 6-15) and the station's ID (u32), both little-endian,
// in both generations (33-byte payloads from the real first-generation
// stations, 43-byte ones from the second-generation ones).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace brisk::optical {

// Twice the real second-generation payload: a longer declared length is a
// broken frame, not one to wait 30 s for.
constexpr size_t kMaxOotxPayload = 96;

struct OotxFrame {
    uint16_t length = 0;  // payload bytes
    std::array<uint8_t, kMaxOotxPayload> payload{};
    uint32_t storedCrc = 0, computedCrc = 0;
    bool crcOk = false;
    bool hasIdentity = false;  // the payload holds the firmware word and ID
    uint16_t firmwareWord = 0;
    uint32_t id = 0;

    uint16_t Firmware() const { return firmwareWord >> 6; }
    uint16_t Protocol() const { return firmwareWord & 0x3F; }
};

uint32_t Crc32(const uint8_t* data, size_t size);

class OotxDecoder {
  public:
    enum class Step : uint8_t {
        kNone,    // nothing finished
        kFrame,   // a frame ended: Last() holds it (crcOk says whether it is sound)
        kBroken,  // a stuffing bit was 0 or the length too long: frame dropped
    };

    Step Add(bool bit);
    const OotxFrame& Last() const { return frame; }

  private:
    static constexpr uint16_t kPreambleZeros = 17;
    static constexpr uint16_t kWordBits = 17;  // 16 data bits and the stuffing 1

    Step Broken();
    Step EndOfWord();

    OotxFrame frame;
    uint16_t zeros = 0;  // zeros in a row, up to the preamble's
    bool inFrame = false;
    uint16_t bitInWord = 0;
    uint16_t word = 0;
    uint16_t bytesIn = 0;  // frame bytes received: length, payload, padding, CRC
    uint16_t need = 0;     // frame bytes to receive, once the length is known
    std::array<uint8_t, 4> crcBytes{};
};

}  // namespace brisk::optical
