// The Watchman's light reports, decoded in place: no allocation, every
// length checked against the bytes that came. The host picks the format
// with feature report 0x04 (00: pulses, for first-generation base stations;
// 01: sweep words, for second-generation ones).
//
// 0x25, pulses: nine 7-byte entries {u8 photodiode (the wire channel),
//   u16 length, u32 start}, little-endian, in 48 MHz ticks. Photodiode 0xFF
//   is an empty entry; photodiode 0xFE or a length of 0xFFFF is a marker some
//   units send, and a length with its top bit set (0x8000-0x8003 from the
//   real second-generation units before the host switches them over) is a
//   flag, not a time: both are counted, neither is a pulse.
// 0x28, sweep words: a length byte, then that many bytes (the rest of the
//   64 is stale). A byte with bit 0 set names the base-station channel of
//   what follows (channel = byte >> 4; bit 2: two stations on it; bits 1
//   and 3 set: a byte we cannot read, the rest of the report is left).
//   Otherwise four bytes, little-endian: bit 1 set is a sweep (photodiode =
//   bits 27-31, time = bits 3-26, bit 2 a half-clock flag), clear a sync
//   (time = bits 2-25, OOTX bit = bit 26, bit 27 a second flag).
// 0x27, raw captures: four 13-byte entries {u8 photodiode in bits 0-4 and a
//   flag in bit 7, u32 time, 8 bytes of raw light samples} and 6 closing
//   bytes; photodiode byte 0xFF is an empty entry. In the real captures the
//   entries come in pairs per photodiode, flag clear then set. What the
//   samples, the flag and the closing bytes (x 00 aa 0d e4 0d) mean we could
//   not tell: we count the captures per photodiode and read no more.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace brisk::optical {

constexpr uint8_t kPulseReportId = 0x25;
constexpr uint8_t kRawCaptureReportId = 0x27;
constexpr uint8_t kSweepReportId = 0x28;

constexpr size_t kPulseEntries = 9;
constexpr size_t kPulseEntryBytes = 7;
constexpr uint8_t kEmptyEntry = 0xFF;
constexpr uint8_t kMarkerEntry = 0xFE;
constexpr uint16_t kMarkerLength = 0xFFFF;
constexpr uint16_t kFlaggedLength = 0x8000;  // lengths from here up are flags

struct Pulse {
    uint8_t channel = 0;
    uint16_t length = 0;  // 48 MHz ticks
    uint32_t start = 0;   // 48 MHz ticks, wrapping
};

struct PulseReport {
    std::array<Pulse, kPulseEntries> pulses{};
    uint8_t count = 0;                                    // pulses[0..count)
    uint8_t empty = 0;                                    // entries of photodiode 0xFF
    uint8_t markers = 0;                                  // photodiode 0xFE or length 0xFFFF
    uint8_t flagged = 0;                                  // a length with the top bit set
    std::array<uint8_t, kPulseEntries> flaggedChannel{};  // whose, [0..flagged)
    bool cut = false;                                     // the report ends inside an entry
};

// False when `data` is not a 0x25 report. A report cut short gives the
// entries it holds whole, with `cut` set.
bool DecodePulseReport(const uint8_t* data, size_t size, PulseReport& out);

// The most words a 64-byte report can hold (62 bytes after ID and length).
constexpr size_t kMaxSweepWords = 15;
constexpr uint8_t kNoChannel = 0xFF;

struct LightWord {
    bool sweep = false;       // else a sync
    uint8_t channel = 0;      // the base station's channel (0-15), kNoChannel before any
    uint8_t sensor = 0;       // sweeps: the photodiode's wire channel (0-31)
    uint32_t ticks = 0;       // 24 bits
    bool ootxBit = false;     // syncs
    bool secondFlag = false;  // syncs: bit 27; sweeps: the half-clock bit
};

struct SweepReport {
    std::array<LightWord, kMaxSweepWords> words{};
    uint8_t count = 0;
    uint8_t conflicts = 0;       // channel bytes saying two stations share it
    uint8_t withoutChannel = 0;  // words before any channel byte
    bool unreadable = false;     // a byte we cannot read; the rest was left
    bool cut = false;            // the declared length runs past the report, or a word is cut
};

// False when `data` is not a 0x28 report.
bool DecodeSweepReport(const uint8_t* data, size_t size, SweepReport& out);

constexpr size_t kRawCaptureEntries = 4;
constexpr size_t kRawCaptureEntryBytes = 13;

struct RawCapture {
    uint8_t sensor = 0;  // wire channel
    bool flag = false;   // bit 7 of the first byte (meaning unknown)
    uint32_t ticks = 0;
    uint64_t samples = 0;
};

struct RawCaptureReport {
    std::array<RawCapture, kRawCaptureEntries> captures{};
    uint8_t count = 0;
    uint8_t empty = 0;  // entries of photodiode 0xFF
    bool cut = false;
};

// False when `data` is not a 0x27 report.
bool DecodeRawCaptureReport(const uint8_t* data, size_t size, RawCaptureReport& out);

}  // namespace brisk::optical
