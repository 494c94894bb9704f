#include "sim/replay_source.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace brisk::sim {
namespace {

using capture::ReplayEvent;
using capture::ReplayEventKind;
using capture::ReplayRole;

// The MCU's framing, kept here as the virtual MCU keeps its own.
constexpr uint8_t kRateTag = 'R';
constexpr uint8_t kAckTag = '$';
constexpr uint8_t kMcuReportBytes = 65;

}  // namespace

ReplayStream::ReplayStream(std::shared_ptr<const capture::ReplaySchedule> schedule, ReplayRole role,
                           Clock::time_point start)
    : schedule(std::move(schedule)),
      device(this->schedule->Device(role)),
      answersRateCommand(role == ReplayRole::kMcu),
      start(start) {}

Clock::time_point ReplayStream::Due(size_t index) const {
    return start + std::chrono::microseconds(device.events[index].micros);
}

bool ReplayStream::IsAck(const ReplayEvent& e) const {
    // With report ID 0 first, or without report IDs at all.
    const uint8_t* b = schedule->bytes.data() + e.offset;
    return answersRateCommand && e.length > 0 &&
           (b[0] == kAckTag || (e.length > 1 && b[0] == 0 && b[1] == kAckTag));
}

void ReplayStream::Produce(Clock::time_point now, std::vector<InputReport>& out) {
    std::lock_guard<std::mutex> lock(mtx);
    size_t end = next;
    while (end < device.events.size() && Due(end) <= now) {
        // What came before a loss or a return belongs to a session that is over.
        if (device.events[end].kind != ReplayEventKind::kReport) {
            next = end + 1;
        }
        ++end;
    }
    if (ackIndex != kNone && Due(ackIndex) <= now) {
        ackIndex = kNone;
        InputReport& ack = out.emplace_back();
        ack.bytes[1] = kAckTag;
        ack.length = kMcuReportBytes;
    }
    if (end == next) {
        return;
    }
    for (size_t sent = 0; next < end && sent < kPerLook; ++next) {
        const ReplayEvent& e = device.events[next];
        if (IsAck(e)) {
            continue;
        }
        InputReport& r = out.emplace_back();
        std::memcpy(r.bytes, schedule->bytes.data() + e.offset, e.length);
        r.length = e.length;
        ++sent;
    }
}

Clock::time_point ReplayStream::NextDue(Clock::time_point) const {
    std::lock_guard<std::mutex> lock(mtx);
    Clock::time_point due = next < device.events.size() ? Due(next) : Clock::time_point::max();
    return ackIndex != kNone ? std::min(due, Due(ackIndex)) : due;
}

bool ReplayStream::OnFeature(const uint8_t* report, size_t length, Clock::time_point now) {
    if (report == nullptr || length == 0) {
        return false;
    }
    if (answersRateCommand && length >= 4 && report[0] == 0 && report[1] == kRateTag) {
        // The answer goes out when the recorded one did: the first "$" in the
        // capture from a little before now on. None: the MCU stays silent.
        std::lock_guard<std::mutex> lock(mtx);
        const auto& events = device.events;
        const int64_t from =
            std::chrono::duration_cast<std::chrono::microseconds>(now - start - kAckLookBack)
                .count();
        auto it = std::partition_point(events.begin(), events.end(),
                                       [from](const ReplayEvent& e) { return e.micros < from; });
        while (it != events.end() && !(it->kind == ReplayEventKind::kReport && IsAck(*it))) {
            ++it;
        }
        ackIndex = it == events.end() ? kNone : static_cast<size_t>(it - events.begin());
    }
    return true;
}

bool LoadReplay(const std::string& path, const capture::ReplayOptions& options,
                capture::ReplaySchedule& out, std::string& error) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[1 << 16];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    const bool readError = std::ferror(f) != 0;
    std::fclose(f);
    if (readError) {
        error = path + ": cannot read it";
        return false;
    }
    if (!capture::BuildReplaySchedule(bytes.data(), bytes.size(), options, out, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

}  // namespace brisk::sim
