#include "optical/light_reports.h"

namespace brisk::optical {
namespace {

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

// The reports are decoded once per read, so only the counts are reset: the
// entries past them are never read.
bool DecodePulseReport(const uint8_t* data, size_t size, PulseReport& out) {
    out.count = out.empty = out.markers = out.flagged = 0;
    out.cut = false;
    if (data == nullptr || size < 1 || data[0] != kPulseReportId) {
        return false;
    }
    const size_t whole = (size - 1) / kPulseEntryBytes;
    const size_t entries = whole < kPulseEntries ? whole : kPulseEntries;
    out.cut = entries < kPulseEntries;
    for (size_t i = 0; i < entries; ++i) {
        const uint8_t* e = data + 1 + i * kPulseEntryBytes;
        const Pulse p{e[0], Le16(e + 1), Le32(e + 3)};
        if (p.channel == kEmptyEntry) {
            ++out.empty;
        } else if (p.channel == kMarkerEntry || p.length == kMarkerLength) {
            ++out.markers;
        } else if (p.length >= kFlaggedLength) {
            out.flaggedChannel[out.flagged++] = p.channel;
        } else {
            out.pulses[out.count++] = p;
        }
    }
    return true;
}

bool DecodeSweepReport(const uint8_t* data, size_t size, SweepReport& out) {
    out.count = out.conflicts = out.withoutChannel = 0;
    out.unreadable = out.cut = false;
    if (data == nullptr || size < 1 || data[0] != kSweepReportId) {
        return false;
    }
    if (size < 2) {
        out.cut = true;
        return true;
    }
    size_t end = 2 + static_cast<size_t>(data[1]);
    if (end > size) {
        out.cut = true;
        end = size;
    }
    uint8_t channel = kNoChannel;
    size_t i = 2;
    while (i < end) {
        const uint8_t b = data[i];
        if (b & 0x01) {
            if (b & 0x0A) {
                out.unreadable = true;
                break;
            }
            if (b & 0x04) {
                ++out.conflicts;
            }
            channel = b >> 4;
            ++i;
            continue;
        }
        if (end - i < 4) {
            out.cut = true;
            break;
        }
        const uint32_t w = Le32(data + i);
        i += 4;
        if (channel == kNoChannel) {
            ++out.withoutChannel;
        }
        if (out.count == kMaxSweepWords) {
            break;  // cannot happen within 64 bytes; a longer report keeps its first words
        }
        LightWord& word = out.words[out.count++];
        word.channel = channel;
        word.sweep = (w & 0x2) != 0;
        word.sensor = word.sweep ? static_cast<uint8_t>(w >> 27) : 0;
        word.ticks = word.sweep ? (w >> 3) & 0xFFFFFF : (w >> 2) & 0xFFFFFF;
        word.ootxBit = !word.sweep && ((w >> 26) & 1) != 0;
        word.secondFlag = word.sweep ? (w & 0x4) != 0 : ((w >> 27) & 1) != 0;
    }
    return true;
}

bool DecodeRawCaptureReport(const uint8_t* data, size_t size, RawCaptureReport& out) {
    out.count = out.empty = 0;
    out.cut = false;
    if (data == nullptr || size < 1 || data[0] != kRawCaptureReportId) {
        return false;
    }
    const size_t whole = (size - 1) / kRawCaptureEntryBytes;
    const size_t entries = whole < kRawCaptureEntries ? whole : kRawCaptureEntries;
    out.cut = entries < kRawCaptureEntries;
    for (size_t i = 0; i < entries; ++i) {
        const uint8_t* e = data + 1 + i * kRawCaptureEntryBytes;
        if (e[0] == kEmptyEntry) {
            ++out.empty;
            continue;
        }
        RawCapture& c = out.captures[out.count++];
        c.sensor = e[0] & 0x1F;
        c.flag = (e[0] & 0x80) != 0;
        c.ticks = Le32(e + 1);
        c.samples = static_cast<uint64_t>(Le32(e + 5)) | static_cast<uint64_t>(Le32(e + 9)) << 32;
    }
    return true;
}

}  // namespace brisk::optical
