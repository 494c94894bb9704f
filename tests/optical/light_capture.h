// The light reports and the factory configuration of a real capture, taken
// out through the packet source and the identity reader (as a replay would
// take them), for the optical tests and the benchmark.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "capture/packet_source.h"
#include "identity/identity_reader.h"

namespace brisk::optical::test {

struct CaptureLight {
    int address = -1;                           // the Watchman's USB address
    std::vector<std::vector<uint8_t>> reports;  // its light reports, in order
    uint64_t firstMicros = 0, lastMicros = 0;   // when the first and last came
    std::shared_ptr<const identity::WatchmanConfig> config;
};

// The light interface's endpoint on the 28DE:2300 Watchmans these captures hold.
constexpr uint8_t kLightEndpoint = 0x83;

inline CaptureLight LoadCaptureLight(const std::string& path) {
    CaptureLight out;
    std::string error;
    auto source = capture::OpenPacketSource(path, error);
    if (source == nullptr) {
        return out;
    }
    struct Answer {
        bool ok;
        std::vector<uint8_t> data;
    };
    std::map<int, std::map<uint8_t, std::deque<Answer>>> answers;
    std::map<int, std::deque<capture::SetupPacket>> inFlight;
    capture::UsbPacket p;
    while (source->Read(p, error) == capture::SourceStatus::kPacket) {
        if (p.transfer == capture::UsbTransfer::kInterrupt && p.completion &&
            p.endpoint == kLightEndpoint && p.outcome == capture::UsbOutcome::kOk &&
            p.captured > 0) {
            out.address = p.device;
            out.reports.emplace_back(p.data, p.data + p.captured);
            out.firstMicros = out.firstMicros == 0 ? p.micros : out.firstMicros;
            out.lastMicros = p.micros;
            continue;
        }
        if (p.transfer != capture::UsbTransfer::kControl) {
            continue;
        }
        auto& pending = inFlight[p.device];
        if (!p.completion) {
            pending.push_back(p.setup);
            continue;
        }
        if (pending.empty()) {
            continue;
        }
        const capture::SetupPacket s = pending.front();
        pending.pop_front();
        if (s.requestType == 0xA1 && s.request == 1 && (s.value >> 8) == 3) {
            answers[p.device][s.value & 0xFF].push_back(
                {p.outcome == capture::UsbOutcome::kOk, {p.data, p.data + p.captured}});
        }
    }
    auto& byReport = answers[out.address];
    identity::IdentityReader reader;
    while (auto request = reader.Next()) {
        auto& queue = byReport[request->reportId];
        if (queue.empty()) {
            reader.Feed(identity::FeatureAnswer::NotCaptured());
            continue;
        }
        const Answer a = queue.front();
        queue.pop_front();
        reader.Feed(a.ok ? identity::FeatureAnswer::Data(a.data.data(), a.data.size())
                         : identity::FeatureAnswer::NoAnswer());
    }
    out.config = reader.Result().config;
    return out;
}

}  // namespace brisk::optical::test
