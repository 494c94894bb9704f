#include "optical/optical_run.h"

#include <bit>

namespace brisk::optical {

void OpticalRun::Feed(const uint8_t* data, size_t size) {
    if (data == nullptr || size == 0) {
        ++tally.cutReports;
        return;
    }
    switch (data[0]) {
        case kPulseReportId: {
            PulseReport r;  // filled by the decoder, not zeroed
            DecodePulseReport(data, size, r);
            FeedPulses(r);
            return;
        }
        case kSweepReportId: {
            SweepReport r;  // filled by the decoder, not zeroed
            DecodeSweepReport(data, size, r);
            FeedSweeps(r);
            return;
        }
        case kRawCaptureReportId: {
            RawCaptureReport r;  // filled by the decoder, not zeroed
            DecodeRawCaptureReport(data, size, r);
            ++tally.rawCaptureReports;
            tally.cutReports += r.cut ? 1 : 0;
            tally.emptyEntries += r.empty;
            for (uint8_t i = 0; i < r.count; ++i) {
                ++channels[r.captures[i].sensor].rawCaptures;
            }
            return;
        }
        default:
            ++tally.otherReports;
            tally.lastOtherId = data[0];
    }
}

void OpticalRun::FeedPulses(const PulseReport& r) {
    ++tally.pulseReports;
    tally.cutReports += r.cut ? 1 : 0;
    tally.emptyEntries += r.empty;
    tally.markers += r.markers;
    tally.flagged += r.flagged;
    for (uint8_t i = 0; i < r.flagged; ++i) {
        ++channels[r.flaggedChannel[i]].flagged;
    }
    for (uint8_t i = 0; i < r.count; ++i) {
        const Pulse& p = r.pulses[i];
        ChannelCounts& c = channels[p.channel];
        ++c.pulses;
        ++c.lengthBins[std::bit_width(p.length)];
        if (p.length >= kSyncMinTicks) {
            ++c.syncPulses;
            SyncPulse(p);
        } else {
            sweepWindows.Hit(0, p.channel);
        }
    }
}

void OpticalRun::SyncPulse(const Pulse& p) {
    const uint32_t end = p.start + p.length;
    if (flashOpen) {
        const auto apart = static_cast<int32_t>(end - flashEnd);
        if (apart > -static_cast<int32_t>(kLh1SameFlashTicks) &&
            apart < static_cast<int32_t>(kLh1SameFlashTicks)) {
            flashLongest = p.length > flashLongest ? p.length : flashLongest;
            return;  // the same flash, on another photodiode
        }
        CloseFlash();
    }
    sweepWindows.Close(0);  // a new flash: the sweep before it is over
    const uint32_t phase = (end - firstFlashEnd) % kLh1CycleTicks;
    flashSlot = firstFlashSeen && phase > kLh1SecondFlashMin && phase < kLh1SecondFlashMax;
    if (flashSlot == 0) {
        firstFlashSeen = true;
        firstFlashEnd = end;
    }
    flashOpen = true;
    flashEnd = end;
    flashLongest = p.length;
}

void OpticalRun::CloseFlash() {
    if (!flashOpen) {
        return;
    }
    flashOpen = false;
    StationCounts& s = stations[flashSlot];
    s.generation = 1;
    s.channel = flashSlot;
    ++s.syncs;
    const int code = flashLongest < kLh1CodeBase ? 0 : (flashLongest - kLh1CodeBase) / kLh1CodeStep;
    OotxBit(s, ((code >> 1) & 1) != 0);
}

void OpticalRun::FeedSweeps(const SweepReport& r) {
    ++tally.sweepReports;
    tally.cutReports += r.cut ? 1 : 0;
    tally.unreadableBytes += r.unreadable ? 1 : 0;
    tally.channelConflicts += r.conflicts;
    tally.wordsWithoutChannel += r.withoutChannel;
    for (uint8_t i = 0; i < r.count; ++i) {
        const LightWord& w = r.words[i];
        StationCounts* s = w.channel < kLh2Channels ? &stations[kLh1Slots + w.channel] : nullptr;
        if (s != nullptr) {
            s->generation = 2;
            s->channel = w.channel;
        }
        if (w.sweep) {
            ++channels[w.sensor].pulses;
            if (s != nullptr) {
                ++s->sweeps;
                sweepWindows.Hit(1 + w.channel, w.sensor);
            }
        } else if (s != nullptr) {
            ++s->syncs;
            OotxBit(*s, w.ootxBit);
            sweepWindows.Close(1 + w.channel);
        }
    }
}

void OpticalRun::OotxBit(StationCounts& s, bool bit) {
    switch (s.ootx.Add(bit)) {
        case OotxDecoder::Step::kNone:
            return;
        case OotxDecoder::Step::kBroken:
            ++s.brokenFrames;
            return;
        case OotxDecoder::Step::kFrame:
            break;
    }
    const OotxFrame& f = s.ootx.Last();
    ++s.frames;
    if (!f.crcOk || !f.hasIdentity) {
        ++s.badCrcFrames;
        return;
    }
    s.identified = true;
    s.id = f.id;
    s.firmwareWord = f.firmwareWord;
    s.frameLength = f.length;
}

void OpticalRun::Finish() {
    CloseFlash();
}

uint8_t OpticalRun::Generation() const {
    if (tally.sweepReports > 0) {
        return 2;
    }
    return tally.pulseReports > 0 ? 1 : 0;
}

}  // namespace brisk::optical
