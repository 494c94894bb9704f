// Replay: the virtual Watchman's IMU interface and the virtual MCU take their
// input reports from a capture instead of from their models, at the recorded
// times counted from `start` (brisk-sim's start stands for the capture's
// first packet). Losses and returns become unplugs and plugs on the bus
// (VirtualHeadset turns them into timeline actions).
//
// The MCU still answers the rate command itself, with the "$" the tool waits
// for, at the time the capture has the recorded answer (the first "$" from a
// second before the command on): an MCU that the capture shows silent
// (asleep, say) stays silent until it answered in the recording. The
// recorded answers themselves are not sent again.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "capture/replay_schedule.h"
#include "sim/usb_bus.h"

namespace brisk::sim {

class ReplayStream final : public HidInterfaceModel {
  public:
    // Every report in the capture was read by the tool, so none is dropped:
    // a burst recorded at one moment goes out a few at a time, each time a
    // reader looks, instead of overflowing the bus's 32-report queue at once.
    static constexpr size_t kPerLook = 2;

    ReplayStream(std::shared_ptr<const capture::ReplaySchedule> schedule, capture::ReplayRole role,
                 Clock::time_point start);

    void Produce(Clock::time_point now, std::vector<InputReport>& out) override;
    Clock::time_point NextDue(Clock::time_point now) const override;
    bool OnFeature(const uint8_t* report, size_t length, Clock::time_point now) override;

  private:
    Clock::time_point Due(size_t index) const;
    bool IsAck(const capture::ReplayEvent& e) const;

    std::shared_ptr<const capture::ReplaySchedule> schedule;
    const capture::ReplayDevice& device;
    const bool answersRateCommand;
    const Clock::time_point start;
    static constexpr size_t kNone = static_cast<size_t>(-1);
    // How far back a rate command looks for its recorded answer: the replay
    // runs a few milliseconds off the recording.
    static constexpr std::chrono::seconds kAckLookBack{1};

    mutable std::mutex mtx;
    size_t next = 0;          // first event not yet due
    size_t ackIndex = kNone;  // the recorded "$" a pending answer waits for
};

// Reads and checks a capture file. False with `error` ("FILE: reason").
bool LoadReplay(const std::string& path, const capture::ReplayOptions& options,
                capture::ReplaySchedule& out, std::string& error);

}  // namespace brisk::sim
