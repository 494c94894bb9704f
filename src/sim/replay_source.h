// Replay: the virtual Watchman's IMU interface and the virtual MCU take their
// input reports from a capture instead of from their models, at the recorded
// times counted from `start` (brisk-sim's start stands for the capture's
// first packet). Losses and returns become unplugs and plugs on the bus
// (VirtualHeadset turns the plan's transitions into timeline actions).
//
// The capture is read as the run goes, a little ahead of the clock, into one
// queue per device; both devices share the one reading (ReplayFeed).
//
// The MCU still answers the rate command itself, with the "$" the tool waits
// for, at the time the capture has the recorded answer (the first "$" from a
// second before the command on): an MCU that the capture shows silent
// (asleep, say) stays silent until it answered in the recording. The
// recorded answers themselves are not sent again.
//
// The Watchman's light interface takes the capture's light endpoint's
// reports (capture::ReplayRole::kLight), at their times. It accepts the
// format (0x04) and 0x07 and answers reads of them with what the tool last
// set: the capture holds no reads of them. While nobody reads it, only its
// latest kLightBacklog reports are kept.
//
// The IMU answers feature reads with the capture's answers to the same
// reports, whenever the tool asks: the n-th request for a report gets the
// n-th answer the capture holds to it, a recorded stall included, so a
// replayed read takes as many tries as the recorded one did. A request the
// capture holds no (more) answers to is "not captured".
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "capture/replay_schedule.h"
#include "sim/usb_bus.h"

namespace brisk::sim {

class ReplayFeed {
  public:
    // Reads this far ahead of the clock: more than a returning device is
    // dated back, so that its return is known before it is due.
    static constexpr int64_t kReadAheadMicros = 2 * capture::kReturnLeadMicros;
    // About 6 s of the real units' light.
    static constexpr size_t kLightBacklog = 4096;

    ReplayFeed(capture::ReplayPlan plan, std::unique_ptr<capture::ReplayReader> reader,
               Clock::time_point start);

    const capture::ReplayPlan& Plan() const { return plan; }
    Clock::time_point Start() const { return start; }
    // Input on the IMU's endpoint that was no IMU report, as handed to the tool.
    capture::ForeignInput ForeignDelivered() const;

  private:
    friend class ReplayStream;
    // With `mtx` held: reads on until an event later than `micros` is queued.
    void ReadUntil(int64_t micros);

    const capture::ReplayPlan plan;
    const Clock::time_point start;
    mutable std::mutex mtx;
    std::unique_ptr<capture::ReplayReader> reader;
    std::deque<capture::ReplayEvent> queues[capture::kReplayStreams];
    uint64_t lightDropped = 0;  // light reports nobody read in time
    int64_t readTo = 0;         // the latest event time read
    bool atEnd = false;
    capture::ForeignInput foreign;
};

class ReplayStream final : public HidInterfaceModel {
  public:
    // Every report in the capture was read by the tool, so none is dropped:
    // a burst recorded at one moment goes out a few at a time, each time a
    // reader looks, instead of overflowing the bus's 32-report queue at once.
    static constexpr size_t kPerLook = 2;

    ReplayStream(std::shared_ptr<ReplayFeed> feed, capture::ReplayRole role);

    void Produce(Clock::time_point now, std::vector<InputReport>& out) override;
    Clock::time_point NextDue(Clock::time_point now) const override;
    bool OnFeature(const uint8_t* report, size_t length, Clock::time_point now) override;
    FeatureResult OnGetFeature(uint8_t reportId, uint8_t* buf, uint32_t length,
                               Clock::time_point now) override;
    // The tool read each recorded report once: none is produced while nobody
    // has the interface open to take it.
    bool KeepsReportsForReaders() const override { return true; }

  private:
    int64_t MicrosAt(Clock::time_point t) const;
    void Deliver(const capture::ReplayEvent& e, std::vector<InputReport>& out);

    std::shared_ptr<ReplayFeed> feed;
    const capture::ReplayRole role;
    const bool answersRateCommand;
    // How far back a rate command looks for its recorded answer: the replay
    // runs a few milliseconds off the recording.
    static constexpr int64_t kAckLookBackMicros = 1000000;

    bool ackPending = false;  // guarded by the feed's mutex
    // The light: what the tool set with 0x04 and 0x07 (guarded by the feed's mutex).
    uint8_t lightFeatures[2][5] = {{0x04}, {0x07}};
    int64_t ackDue = 0;
    // The IMU: per report ID, how many of the capture's answers are used up
    // (guarded by the feed's mutex).
    std::map<uint8_t, size_t> featuresUsed;
};

// Reads a capture file through once and plans its replay. False with `error`
// ("FILE: reason").
bool PlanReplay(const std::string& path, const capture::ReplayOptions& options,
                capture::ReplayPlan& out, std::string& error);

// The feed for a planned capture, read again from its start.
std::shared_ptr<ReplayFeed> OpenReplayFeed(const std::string& path, capture::ReplayPlan plan,
                                           Clock::time_point start, std::string& error);

}  // namespace brisk::sim
