#include "sim/replay_source.h"

#include <algorithm>
#include <cstring>

#include "device/headset_usb.h"

namespace brisk::sim {

using capture::ReplayEvent;
using capture::ReplayEventKind;
using capture::ReplayRole;

ReplayFeed::ReplayFeed(capture::ReplayPlan plan, std::unique_ptr<capture::ReplayReader> reader,
                       Clock::time_point start)
    : plan(std::move(plan)), start(start), reader(std::move(reader)) {}

capture::ForeignInput ReplayFeed::ForeignDelivered() const {
    std::lock_guard<std::mutex> lock(mtx);
    return foreign;
}

void ReplayFeed::ReadUntil(int64_t micros) {
    ReplayRole role;
    ReplayEvent e;
    while (!atEnd && readTo <= micros) {
        if (!reader->Next(role, e)) {
            atEnd = true;
            break;
        }
        readTo = std::max(readTo, e.micros);
        std::deque<ReplayEvent>& queue = queues[static_cast<size_t>(role)];
        queue.push_back(e);
        if (role == ReplayRole::kLight && queue.size() > kLightBacklog) {
            queue.pop_front();
            ++lightDropped;
        }
    }
}

ReplayStream::ReplayStream(std::shared_ptr<ReplayFeed> feed, ReplayRole role)
    : feed(std::move(feed)), role(role), answersRateCommand(role == ReplayRole::kMcu) {}

int64_t ReplayStream::MicrosAt(Clock::time_point t) const {
    return std::chrono::duration_cast<std::chrono::microseconds>(t - feed->start).count();
}

void ReplayStream::Deliver(const ReplayEvent& e, std::vector<InputReport>& out) {
    InputReport& r = out.emplace_back();
    std::memcpy(r.bytes, e.bytes, e.length);
    r.length = e.length;
    r.recordedAt = feed->start + std::chrono::microseconds(e.micros);
    const bool imuReport =
        e.length >= headset::kImuReportMinBytes && e.bytes[0] == headset::kImuReportId;
    if (role == ReplayRole::kImu && !imuReport && feed->foreign.count++ == 0) {
        feed->foreign.firstId = e.length > 0 ? e.bytes[0] : 0;
        feed->foreign.firstLength = e.length;
        feed->foreign.firstMicros = e.micros;
    }
}

void ReplayStream::Produce(Clock::time_point now, std::vector<InputReport>& out) {
    std::lock_guard<std::mutex> lock(feed->mtx);
    const int64_t at = MicrosAt(now);
    feed->ReadUntil(at + ReplayFeed::kReadAheadMicros);
    std::deque<ReplayEvent>& queue = feed->queues[static_cast<size_t>(role)];
    // What came before a loss or a return that is due belongs to a session
    // that is over.
    size_t endOfSession = 0;
    for (size_t i = 0; i < queue.size() && queue[i].micros <= at; ++i) {
        if (queue[i].kind != ReplayEventKind::kReport) {
            endOfSession = i + 1;
        }
    }
    queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(endOfSession));
    if (ackPending && ackDue <= at) {
        ackPending = false;
        InputReport& ack = out.emplace_back();
        ack.bytes[1] = headset::kMcuAckTag;
        ack.length = capture::kMaxReplayReportBytes;
    }
    for (size_t sent = 0; sent < kPerLook && !queue.empty() && queue.front().micros <= at;) {
        const ReplayEvent& e = queue.front();
        if (!(answersRateCommand && capture::IsMcuAck(e.bytes, e.length))) {
            Deliver(e, out);
            ++sent;
        }
        queue.pop_front();
    }
}

Clock::time_point ReplayStream::NextDue(Clock::time_point) const {
    std::lock_guard<std::mutex> lock(feed->mtx);
    const std::deque<ReplayEvent>& queue = feed->queues[static_cast<size_t>(role)];
    Clock::time_point due = Clock::time_point::max();
    if (!queue.empty()) {
        due = feed->start + std::chrono::microseconds(queue.front().micros);
    } else if (!feed->atEnd) {
        // Nothing read for this device yet: look again where the reading stopped.
        due = feed->start + std::chrono::microseconds(feed->readTo);
    }
    if (ackPending) {
        due = std::min(due, feed->start + std::chrono::microseconds(ackDue));
    }
    return due;
}

bool ReplayStream::OnFeature(const uint8_t* report, size_t length, Clock::time_point now) {
    if (report == nullptr || length == 0) {
        return false;
    }
    if (role == ReplayRole::kLight) {
        const int which = report[0] == 0x04 ? 0 : report[0] == 0x07 ? 1 : -1;
        if (which < 0 || length < 2) {
            return false;
        }
        std::lock_guard<std::mutex> lock(feed->mtx);
        std::memcpy(lightFeatures[which], report, std::min<size_t>(length, 5));
        return true;
    }
    if (answersRateCommand && length >= 4 && report[0] == 0 && report[1] == headset::kMcuRateTag) {
        // The answer goes out when the recorded one did: the first "$" in the
        // capture from a little before now on. None: the MCU stays silent.
        std::lock_guard<std::mutex> lock(feed->mtx);
        const std::vector<int64_t>& acks = feed->plan.Device(ReplayRole::kMcu).acks;
        auto it = std::lower_bound(acks.begin(), acks.end(), MicrosAt(now) - kAckLookBackMicros);
        if (it != acks.end()) {
            ackPending = true;
            ackDue = *it;
        }
    }
    return true;
}

FeatureResult ReplayStream::OnGetFeature(uint8_t reportId, uint8_t* buf, uint32_t length,
                                         Clock::time_point) {
    if (role == ReplayRole::kLight && (reportId == 0x04 || reportId == 0x07)) {
        std::lock_guard<std::mutex> lock(feed->mtx);
        const auto n = std::min<uint32_t>(length, 5);
        std::memcpy(buf, lightFeatures[reportId == 0x04 ? 0 : 1], n);
        return {FeatureOutcome::kData, n, 0};
    }
    if (role != ReplayRole::kImu) {
        return {FeatureOutcome::kNotCaptured, 0, 0};
    }
    std::lock_guard<std::mutex> lock(feed->mtx);
    const std::vector<capture::FeatureExchange>& held = feed->plan.Device(role).features;
    size_t& used = featuresUsed[reportId];
    size_t seen = 0;
    for (const capture::FeatureExchange& e : held) {
        if (e.reportId != reportId || seen++ < used) {
            continue;
        }
        ++used;
        if (!e.answered) {
            return {FeatureOutcome::kFailed, 0, kErrorGenFailure};  // the recorded stall
        }
        const auto n = static_cast<uint32_t>(std::min<size_t>(length, e.data.size()));
        if (n > 0) {  // an answer without data is one too: the reader asks again
            std::memcpy(buf, e.data.data(), n);
        }
        return {FeatureOutcome::kData, n, 0};
    }
    return {FeatureOutcome::kNotCaptured, 0, 0};
}

bool PlanReplay(const std::string& path, const capture::ReplayOptions& options,
                capture::ReplayPlan& out, std::string& error) {
    std::unique_ptr<capture::PacketSource> source = capture::OpenPacketSource(path, error);
    if (!source || !capture::ScanReplay(*source, options, out, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

std::shared_ptr<ReplayFeed> OpenReplayFeed(const std::string& path, capture::ReplayPlan plan,
                                           Clock::time_point start, std::string& error) {
    std::unique_ptr<capture::PacketSource> source = capture::OpenPacketSource(path, error);
    if (!source) {
        error = path + ": " + error;
        return nullptr;
    }
    auto reader = std::make_unique<capture::ReplayReader>(std::move(source), plan);
    return std::make_shared<ReplayFeed>(std::move(plan), std::move(reader), start);
}

}  // namespace brisk::sim
