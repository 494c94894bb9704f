// Input reports from whatever answers as the headset MCU, through message
// location, telemetry decoding, the acknowledgement wait and the worn/away
// decision, the way discovery and the reader thread use them.
//
// Input: threshold and hysteresis (16 bits each, little-endian), then records
// of one length byte and that many report bytes. Length 0xFF stands for a read
// that timed out, 0xFE for a reconnect.
#include <algorithm>
#include <deque>

#include "fuzz_support.h"
#include "prox/mcu_protocol.h"
#include "prox/prox_tracker.h"

namespace {

using brisk::AckStep;
using brisk::fuzz::ExactBuffer;
using brisk::fuzz::Reader;

constexpr uint8_t kTimeout = 0xFF;
constexpr uint8_t kReconnect = 0xFE;
constexpr int kMaxRecords = 64;

void CheckFrame(const uint8_t* command, size_t length) {
    const brisk::McuReport frame = brisk::FrameCommand(command, length);
    const size_t n = command == nullptr ? 0 : std::min(length, brisk::kMcuMaxCommandBytes);
    FUZZ_CHECK(frame[0] == 0);
    for (size_t i = 1; i < frame.size(); ++i) {
        FUZZ_CHECK(frame[i] == (i - 1 < n ? command[i - 1] : 0));
    }
}

// Checks one report and returns the distance it carries, if any.
bool CheckMessage(const ExactBuffer& report, uint16_t& distance) {
    const uint8_t* bytes = report.data();
    const size_t count = report.size();
    const brisk::McuMessage m = brisk::LocateMessage(bytes, count);
    if (count == 0) {
        FUZZ_CHECK(m.bytes == nullptr && m.length == 0);
    } else {
        // The message lies inside the report and runs to its end.
        const bool skipId = bytes[0] == 0 && count >= 2;
        FUZZ_CHECK(m.bytes == bytes + (skipId ? 1 : 0));
        FUZZ_CHECK(m.length == count - (skipId ? 1 : 0));
    }

    const uint16_t kUntouched = 0xBEEF;
    distance = kUntouched;
    const bool telemetry = brisk::TelemetryDistance(m, distance);
    FUZZ_CHECK(telemetry == (m.length >= brisk::kTelemetryMinBytes && m.bytes[0] == '#'));
    if (telemetry) {
        FUZZ_CHECK(distance == (m.bytes[4] << 8 | m.bytes[5]));
    } else {
        FUZZ_CHECK(distance == kUntouched);
    }

    const AckStep step = brisk::ClassifyAckRead(static_cast<int>(count), bytes);
    if (m.length == 0) {
        FUZZ_CHECK(step == AckStep::NotAcknowledged);
    } else {
        FUZZ_CHECK((step == AckStep::Acknowledged) == (m.bytes[0] == '$'));
        FUZZ_CHECK((step == AckStep::KeepWaiting) == (m.bytes[0] == '#'));
    }
    FUZZ_CHECK(brisk::ClassifyAckRead(-1, bytes) == AckStep::NotAcknowledged);
    CheckFrame(bytes, count);
    return telemetry;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const uint16_t threshold = in.U16();
    const uint16_t hysteresis = in.U16();

    const brisk::RateCommandBytes rate = brisk::RateCommand(threshold);
    FUZZ_CHECK(rate[0] == 'R' && (rate[1] << 8 | rate[2]) == threshold);
    CheckFrame(nullptr, size);

    brisk::TelemetryTracker tracker(threshold, hysteresis);
    std::deque<uint16_t> lastEight;
    size_t sinceRestart = 0;
    bool worn = false;
    // A few dozen reads reach every state; longer streams only cost speed.
    for (int record = 0; record < kMaxRecords && !in.Empty(); ++record) {
        const uint8_t length = in.Byte();
        if (length == kTimeout) {
            continue;  // the reader loop counts silence; the tracker never sees it
        }
        if (length == kReconnect) {
            tracker.Restart();
            sinceRestart = 0;
            continue;
        }
        const std::vector<uint8_t> bytes = in.Take(length);
        const ExactBuffer report(bytes.data(), bytes.size());
        uint16_t distance = 0;
        const bool telemetry = CheckMessage(report, distance);

        const brisk::TelemetryUpdate u = tracker.OnReport(report.data(), report.size(), worn);
        FUZZ_CHECK(u.telemetry == telemetry);
        if (!telemetry) {
            FUZZ_CHECK(!u.decided);
            continue;
        }
        FUZZ_CHECK(u.distance == distance);
        lastEight.push_back(distance);
        if (lastEight.size() > brisk::kProxMeanWindow) {
            lastEight.pop_front();
        }
        ++sinceRestart;
        // No decision until the window has filled again since the last reconnect.
        FUZZ_CHECK(u.decided == (sinceRestart >= brisk::kProxMeanWindow));
        if (!u.decided) {
            continue;
        }
        uint32_t sum = 0;
        for (uint16_t d : lastEight) {
            sum += d;
        }
        const uint32_t mean = sum / brisk::kProxMeanWindow;
        // Hysteresis: worn leaves only at or below the band, away leaves only
        // at or above it; inside it the state holds.
        const bool atOrAbove = mean >= static_cast<uint32_t>(threshold) + hysteresis;
        const bool atOrBelow =
            threshold >= hysteresis && mean <= static_cast<uint32_t>(threshold - hysteresis);
        FUZZ_CHECK(u.worn == (worn ? !atOrBelow : atOrAbove));
        if (hysteresis > 0 && u.worn != worn) {
            FUZZ_CHECK(u.worn ? mean > threshold : mean < threshold);
        }
        worn = u.worn;
    }
    return 0;
}
