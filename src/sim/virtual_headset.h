// The whole virtual headset brisk-sim runs the tool against: a USB bus with
// the headset's Watchman and MCU on one internal hub, any extra trackers, and
// the DirectMode display; shaped by a scenario's time-0 lines and then driven
// by its timed actions on a timeline thread of its own.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/replay_schedule.h"
#include "sim/replay_source.h"
#include "sim/scenario.h"
#include "sim/usb_bus.h"
#include "sim/virtual_display.h"
#include "sim/virtual_mcu.h"
#include "sim/watchman.h"

namespace brisk::sim {

// Where the default devices sit: the headset's internal hub on port 3 of the
// first host controller's root hub, the Watchman on its port 2 and the MCU
// on its port 1.
extern const PortKey kHeadsetWatchmanPort;
extern const PortKey kHeadsetMcuPort;
extern const wchar_t* const kDefaultWatchmanSerial;

// The Watchman and the MCU replayed from a capture instead of their models.
struct ReplaySetup {
    std::shared_ptr<ReplayFeed> feed;  // its start stands for the capture's first packet
};

// Applies one of the light actions (photodiode faults, stations, the
// stream, the room's generation) to `light`; false for any other action.
bool ApplyLightAction(const ScenarioAction& action, LightModel& light);

class VirtualHeadset {
  public:
    VirtualHeadset();
    ~VirtualHeadset();
    VirtualHeadset(const VirtualHeadset&) = delete;
    VirtualHeadset& operator=(const VirtualHeadset&) = delete;

    // Applies the scenario's set-up lines and attaches the devices. False with
    // `error` ("FILE:LINE: reason") when an action names a device the
    // scenario took off the bus. Call once, before the tool starts.
    // With `replay`, the Watchman and the MCU come from the capture (a device
    // the capture lacks is not on the bus) and scenario actions for them are
    // refused: the capture already says what they did.
    bool Build(const Scenario& scenario, const std::string& fileName, std::string& error,
               const ReplaySetup* replay = nullptr);

    // Applies the run-time actions at their times, counted from `start`, on a
    // thread of its own; "tool stop" calls `onToolStop`. Time-0 actions are
    // applied before it returns.
    void StartTimeline(std::chrono::steady_clock::time_point start,
                       std::function<void()> onToolStop);
    // Ends the timeline thread; actions not yet due are dropped.
    void StopTimeline();

    UsbBus& Bus() { return bus; }
    VirtualDisplay& Display() { return *display; }  // after Build
    LightModel* Light() { return light.get(); }     // after Build; null in a replay

  private:
    void Apply(const ScenarioAction& action);
    void TimelineLoop(std::chrono::steady_clock::time_point start);
    void AttachReplayed(const ReplaySetup& replay);
    void ReplaceWatchman(const std::wstring& serial);

    UsbBus bus;
    std::unique_ptr<VirtualDisplay> display;  // shaped by Build
    std::shared_ptr<WatchmanModel> watchman;
    std::shared_ptr<LightModel> light;  // the Watchman's light interface
    std::unique_ptr<VirtualMcu> mcu;
    std::vector<std::shared_ptr<WatchmanModel>> trackers;
    UsbDeviceId watchmanId = -1;
    UsbDeviceId mcuId = -1;

    std::vector<ScenarioAction> runtimeActions;
    std::function<void()> toolStop;
    std::mutex timelineMtx;
    std::condition_variable timelineCv;
    bool timelineQuit = false;
    std::thread timeline;
};

}  // namespace brisk::sim
