#include "sim/light_model.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace brisk::sim {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr uint64_t kTicksPerSecond = 48'000'000;
constexpr uint64_t kCycleTicks = 400'000;       // first generation: 120 cycles a second
constexpr uint64_t kFirstFlashEnd = 7'000;      // in the cycle; the longest flash is 6,500
constexpr uint64_t kSecondFlashAfter = 20'000;  // the second station's flash ends this later
constexpr uint16_t kFlashBase = 3'000, kFlashStep = 500;
constexpr uint16_t kRuntPulse = 3;
constexpr double kFacingCos = 0.34;  // 70 degrees: a photodiode's field of view
// After this long without a reader, the stream starts afresh at the reader's
// time instead of making up what nobody read.
constexpr uint64_t kCatchUpTicks = kTicksPerSecond / 4;
constexpr size_t kPulseEntries = 9, kPulseEntryBytes = 7;
constexpr size_t kSweepPayload = kLightReportBytes - 2;  // after the ID and the length byte

const VirtualStation kRoom[2][LightModel::kStations] = {
    {{{-0.8, 0.6, -2.0}, 0x5EB1A001, 298 << 6 | 6, 0},
     {{0.8, 0.6, -2.0}, 0x5EB1A002, 298 << 6 | 6, 1}},
    {{{-0.8, 0.6, -2.0}, 0x5EB2B004, 40 << 6 | 8, 4},
     {{0.8, 0.6, -2.0}, 0x5EB2B00B, 40 << 6 | 8, 11}},
};
constexpr size_t kPayloadBytes[2] = {33, 43};  // as the real stations of each generation send

// A second-generation station's turn, by channel: each channel spins a
// little differently, so two stations do not stay in step.
uint64_t TurnTicks(uint8_t channel) {
    return 960'000 - 4'000 * uint64_t(channel);
}
uint64_t TurnPhase(size_t station, uint8_t channel) {
    return station * TurnTicks(channel) / 3;
}

void PutLe16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = uint8_t(v >> (8 * i));
    }
}

// The OOTX frame's bits: 17 zeros and a 1, then 16-bit words, highest bit
// first, each followed by a 1: the length (LE), the payload padded even,
// its CRC32 (LE). zlib's CRC: the same CRC-32 the stations use.
std::vector<uint8_t> FrameBits(const VirtualStation& st, size_t payloadBytes) {
    std::vector<uint8_t> bytes(2 + payloadBytes + payloadBytes % 2 + 4, 0);
    PutLe16(bytes.data(), uint16_t(payloadBytes));
    uint8_t* payload = bytes.data() + 2;
    PutLe16(payload, st.firmwareWord);
    PutLe32(payload + 2, st.id);
    for (size_t i = 6; i < payloadBytes; ++i) {
        payload[i] = uint8_t(i * 29 + st.channel);  // the calibration fields: any bytes do
    }
    const uint32_t crc = uint32_t(crc32(0, payload, uInt(payloadBytes)));
    PutLe32(bytes.data() + bytes.size() - 4, crc);
    std::vector<uint8_t> bits(17, 0);
    bits.push_back(1);
    for (size_t i = 0; i < bytes.size(); i += 2) {
        const unsigned word = unsigned(bytes[i]) << 8 | bytes[i + 1];
        for (int b = 15; b >= 0; --b) {
            bits.push_back(uint8_t((word >> b) & 1));
        }
        bits.push_back(1);
    }
    return bits;
}

}  // namespace

const VirtualStation& RoomStation(int generation, size_t index) {
    return kRoom[generation == 1 ? 0 : 1][index % LightModel::kStations];
}

LightModel::LightModel(std::vector<VirtualPhotodiode> layout, Clock::time_point startTime)
    : start(startTime) {
    if (layout.size() > kMaxPhotodiodes) {
        layout.resize(kMaxPhotodiodes);
    }
    for (const VirtualPhotodiode& where : layout) {
        Photodiode p;
        p.where = where;
        for (size_t s = 0; s < kStations; ++s) {
            const double* at = kRoom[0][s].position;  // both rooms' stations stand alike
            double v[3], length = 0, dot = 0;
            for (int k = 0; k < 3; ++k) {
                v[k] = where.position[k] - at[k];
                length += v[k] * v[k];
            }
            length = std::sqrt(length);
            for (int k = 0; k < 3; ++k) {
                dot -= where.normal[k] * v[k] / length;
            }
            p.faces[s] = dot > kFacingCos;
            // The station looks along +z at the unit.
            p.angle[s][0] = std::atan2(v[0], v[2]);
            p.angle[s][1] = std::atan2(v[1], v[2]);
        }
        photodiodes.push_back(p);
    }
    for (size_t g = 0; g < 2; ++g) {
        for (size_t s = 0; s < kStations; ++s) {
            frameBits[g * kStations + s] = FrameBits(kRoom[g][s], kPayloadBytes[g]);
        }
    }
    Restart(0);
}

void LightModel::SetGeneration(int g) {
    std::lock_guard<std::mutex> lock(mtx);
    if ((g == 1 || g == 2) && g != generation) {
        generation = g;
        Restart(doneTicks);
    }
}

void LightModel::SetStationOn(size_t index, bool on) {
    std::lock_guard<std::mutex> lock(mtx);
    if (index < kStations && stationOn[index] != on) {
        stationOn[index] = on;
        Restart(doneTicks);  // from now: what is still to come is made again
    }
}

void LightModel::SetFault(int wire, PhotodiodeFault fault) {
    std::lock_guard<std::mutex> lock(mtx);
    for (Photodiode& p : photodiodes) {
        if (p.where.wire == wire) {
            p.fault = fault;
            p.weakCount = 0;
        }
    }
    Restart(doneTicks);
}

void LightModel::SetStreaming(bool on) {
    std::lock_guard<std::mutex> lock(mtx);
    if (on && !streaming) {
        Restart(doneTicks);  // nothing of the pause is sent late
    }
    streaming = on;
}

uint8_t LightModel::Format() const {
    std::lock_guard<std::mutex> lock(mtx);
    return format;
}

uint8_t LightModel::Mode() const {
    std::lock_guard<std::mutex> lock(mtx);
    return mode;
}

uint64_t LightModel::ReportsSent() const {
    std::lock_guard<std::mutex> lock(mtx);
    return sent;
}

uint64_t LightModel::TicksAt(Clock::time_point t) const {
    if (t <= start) {
        return 0;
    }
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t - start).count();
    return uint64_t(ns) / 1000 * (kTicksPerSecond / 1'000'000);
}

uint64_t LightModel::RoundStart(size_t stream, uint64_t round) const {
    if (generation == 1) {
        return round * kCycleTicks;
    }
    const uint8_t channel = kRoom[1][stream].channel;
    return TurnPhase(stream, channel) + round * TurnTicks(channel);
}

size_t LightModel::ActiveStreams() const {
    return generation == 1 ? 1 : kStations;
}

void LightModel::Restart(uint64_t ticks) {
    for (size_t i = 0; i < ActiveStreams(); ++i) {
        const uint64_t first = RoundStart(i, 0);
        const uint64_t length = generation == 1 ? kCycleTicks : TurnTicks(kRoom[1][i].channel);
        Fill(i, ticks <= first ? 0 : (ticks - first) / length);
        Stream& s = streams[i];
        while (s.Pending() && s.events[s.next].start < ticks) {
            ++s.next;  // what came before the restart is not sent late
        }
    }
    doneTicks = ticks;
}

void LightModel::Fill(size_t stream, uint64_t round) {
    Stream& s = streams[stream];
    s.count = s.next = 0;
    s.round = round;
    if (generation == 1) {
        FillCycle(s, round);
    } else {
        FillTurn(s, stream, round);
    }
    std::sort(s.events.begin(), s.events.begin() + s.count,
              [](const Event& a, const Event& b) { return a.start < b.start; });
}

void LightModel::Push(Stream& s, const Event& e) {
    if (s.count < s.events.size()) {
        s.events[s.count++] = e;
    }
}

bool LightModel::Keeps(Photodiode& p) {
    switch (p.fault) {
        case PhotodiodeFault::kDead:
            return false;
        case PhotodiodeFault::kWeak:
            return ++p.weakCount % kWeakKeepsOneIn == 0;
        default:
            return true;
    }
}

bool LightModel::FrameBit(size_t station, uint64_t round) const {
    const std::vector<uint8_t>& bits = frameBits[size_t(generation - 1) * kStations + station];
    return bits[round % bits.size()] != 0;
}

void LightModel::FillCycle(Stream& s, uint64_t cycle) {
    const uint64_t base = cycle * kCycleTicks;
    const size_t sweeping = (cycle / 2) % kStations;
    const unsigned axis = unsigned(cycle % 2);
    for (size_t st = 0; st < kStations; ++st) {
        if (!stationOn[st]) {
            continue;
        }
        const unsigned code =
            unsigned(st != sweeping) << 2 | unsigned(FrameBit(st, cycle)) << 1 | axis;
        const auto length = uint16_t(kFlashBase + kFlashStep * code);
        const uint64_t end = base + kFirstFlashEnd + st * kSecondFlashAfter;
        for (Photodiode& p : photodiodes) {
            if (p.faces[st] && Keeps(p)) {
                // One lit a little late reports a later start and the same end.
                const auto late = uint16_t((p.where.wire * 13) % 97);
                Push(s, {end - length + late, uint16_t(length - late), uint8_t(p.where.wire), 0,
                         true, false, uint8_t(st)});
            }
        }
    }
    if (!stationOn[sweeping]) {
        return;
    }
    for (Photodiode& p : photodiodes) {
        if (p.faces[sweeping] && Keeps(p)) {
            const double angle = p.angle[sweeping][axis];
            const auto at = uint64_t(double(kCycleTicks) * (0.5 + angle / kPi));
            const auto length = p.fault == PhotodiodeFault::kAbnormal
                                    ? kRuntPulse
                                    : uint16_t(120 + 3 * ((p.where.wire * 37) % 100));
            Push(s, {base + at, length, uint8_t(p.where.wire), 0, false, false, uint8_t(sweeping)});
        }
    }
}

void LightModel::FillTurn(Stream& s, size_t st, uint64_t turn) {
    if (!stationOn[st]) {
        return;
    }
    const VirtualStation& station = kRoom[1][st];
    const uint64_t period = TurnTicks(station.channel);
    const uint64_t base = RoundStart(st, turn);
    Push(s, {base, 0, 0, station.channel, true, FrameBit(st, turn), uint8_t(st)});
    for (Photodiode& p : photodiodes) {
        if (!p.faces[st]) {
            continue;
        }
        // Two tilted planes: the second crossing depends on the height too.
        const double h = p.angle[st][0], v = p.angle[st][1];
        const double at[2] = {0.25 + h / (2 * kPi), 0.6 + (h + 0.5 * v) / (2 * kPi)};
        for (double fraction : at) {
            if (!Keeps(p)) {
                continue;
            }
            const uint32_t copies = p.fault == PhotodiodeFault::kAbnormal ? kChatter : 1;
            for (uint32_t c = 0; c < copies; ++c) {
                Push(s, {base + uint64_t(double(period) * fraction) + 40 * c, 0,
                         uint8_t(p.where.wire), station.channel, false, false, uint8_t(st)});
            }
        }
    }
}

// The next due event of the active streams (the earliest end), filling the
// next cycle or turn of a stream that ran out, while its start is due.
const LightModel::Event* LightModel::Peek(uint64_t dueBy, size_t& which) {
    const Event* best = nullptr;
    for (size_t i = 0; i < ActiveStreams(); ++i) {
        Stream& s = streams[i];
        while (!s.Pending() && RoundStart(i, s.round + 1) <= dueBy) {
            Fill(i, s.round + 1);
        }
        if (s.Pending() && s.events[s.next].End() <= dueBy &&
            (best == nullptr || s.events[s.next].End() < best->End())) {
            best = &s.events[s.next];
            which = i;
        }
    }
    return best;
}

void LightModel::EmitPulses(uint64_t now, std::vector<InputReport>& out) {
    size_t which = 0;
    const Event* e = Peek(now, which);
    while (e != nullptr) {
        InputReport& r = out.emplace_back();
        r.length = kLightReportBytes;
        r.bytes[0] = kLightPulseReport;
        size_t entries = 0;
        for (; e != nullptr && entries < kPulseEntries; e = Peek(now, which)) {
            ++streams[which].next;
            if (generation == 2 && e->sync) {
                continue;  // no photodiode of its own in this format
            }
            uint8_t* at = r.bytes + 1 + entries++ * kPulseEntryBytes;
            at[0] = e->wire;
            // A second-generation room in this format: flags, not lengths.
            PutLe16(at + 1, generation == 1 ? e->length : uint16_t(0x8000 | e->station));
            PutLe32(at + 3, uint32_t(e->start));
        }
        for (size_t k = entries; k < kPulseEntries; ++k) {
            r.bytes[1 + k * kPulseEntryBytes] = 0xFF;  // empty
        }
        if (entries == 0) {
            out.pop_back();
        } else {
            ++sent;
        }
    }
}

void LightModel::EmitSweeps(uint64_t now, std::vector<InputReport>& out) {
    size_t which = 0;
    const Event* e = Peek(now, which);
    if (generation == 1) {
        for (; e != nullptr; e = Peek(now, which)) {
            ++streams[which].next;  // no second-generation light in a first-generation room
        }
        return;
    }
    while (e != nullptr) {
        InputReport& r = out.emplace_back();
        r.length = kLightReportBytes;
        r.bytes[0] = kLightSweepReport;
        size_t used = 0;
        int channel = -1;
        for (; e != nullptr; e = Peek(now, which)) {
            const bool newChannel = e->channel != channel;
            if (used + 4 + (newChannel ? 1 : 0) > kSweepPayload) {
                break;
            }
            ++streams[which].next;
            uint8_t* at = r.bytes + 2 + used;
            if (newChannel) {
                channel = e->channel;
                *at++ = uint8_t(channel << 4 | 1);
                ++used;
            }
            const uint32_t ticks = uint32_t(e->start) & 0xFFFFFF;
            const uint32_t word = e->sync ? ticks << 2 | uint32_t(e->ootxBit) << 26
                                          : ticks << 3 | 0x2 | uint32_t(e->wire) << 27;
            PutLe32(at, word);
            used += 4;
        }
        r.bytes[1] = uint8_t(used);
        ++sent;
    }
}

void LightModel::Produce(Clock::time_point now, std::vector<InputReport>& out) {
    std::lock_guard<std::mutex> lock(mtx);
    const uint64_t ticks = TicksAt(now);
    if (ticks < doneTicks) {
        return;
    }
    if (!streaming) {
        doneTicks = ticks;
        return;
    }
    if (ticks - doneTicks > kCatchUpTicks) {
        Restart(ticks);  // nobody read it: a real unit's reports would be gone too
    }
    if (format == kLightPulseReport) {
        EmitPulses(ticks, out);
    } else {
        EmitSweeps(ticks, out);
    }
    doneTicks = ticks;
}

Clock::time_point LightModel::NextDue(Clock::time_point now) const {
    std::lock_guard<std::mutex> lock(mtx);
    if (!streaming) {
        return Clock::time_point::max();
    }
    uint64_t due = UINT64_MAX;
    for (size_t i = 0; i < ActiveStreams(); ++i) {
        const Stream& s = streams[i];
        due = std::min(due, s.Pending() ? s.events[s.next].End() : RoundStart(i, s.round + 1));
    }
    const auto at = start + std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(
                                due / (kTicksPerSecond / 1'000'000) * 1000));
    return std::max(at, now);
}

bool LightModel::OnFeature(const uint8_t* report, size_t length, Clock::time_point) {
    if (report == nullptr || length < 2) {
        return false;
    }
    std::lock_guard<std::mutex> lock(mtx);
    switch (report[0]) {
        case kLightFormatReport:
            if (report[1] > 1) {
                return false;  // only the two formats the real units take
            }
            format = report[1] == 1 ? kLightSweepReport : kLightPulseReport;
            return true;
        case kLightModeReport:
            mode = report[1];
            return true;
        default:
            return false;
    }
}

FeatureResult LightModel::OnGetFeature(uint8_t reportId, uint8_t* buf, uint32_t length,
                                       Clock::time_point) {
    if (reportId != kLightFormatReport && reportId != kLightModeReport) {
        return {FeatureOutcome::kFailed, 0, kErrorGenFailure};
    }
    std::lock_guard<std::mutex> lock(mtx);
    // Both are 5 bytes on the wire, as the host sends them in the captures.
    uint8_t answer[5] = {reportId, uint8_t(reportId == kLightModeReport  ? mode
                                           : format == kLightSweepReport ? 1
                                                                         : 0)};
    const uint32_t n = std::min<uint32_t>(length, sizeof(answer));
    std::memcpy(buf, answer, n);
    return {FeatureOutcome::kData, n, 0};
}

}  // namespace brisk::sim
