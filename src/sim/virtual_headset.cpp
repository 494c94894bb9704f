#include "sim/virtual_headset.h"

#include <algorithm>

#include "base/utf8.h"
#include "imu/watchman_identity.h"
#include "sim/replay_source.h"

namespace brisk::sim {

const PortKey kHeadsetWatchmanPort{L"0000:00:14.0", {3, 2}};
const PortKey kHeadsetMcuPort{L"0000:00:14.0", {3, 1}};
const wchar_t* const kDefaultWatchmanSerial = L"LHR-5A1B2C3D";

namespace {

// Extra trackers hang on a second USB controller, so they never share a hub
// with the headset's MCU.
PortKey TrackerPort(size_t index) {
    return {L"0000:00:0d.0", {unsigned(index + 1), 1}};
}

std::wstring Widen(const std::string& text) {
    std::wstring out;
    for (unsigned char c : text) {
        out.push_back(static_cast<wchar_t>(c));
    }
    return out;
}

bool IsWatchmanAction(ActionKind k) {
    return k >= ActionKind::WatchmanUnplug && k <= ActionKind::WatchmanReplace;
}

bool IsMcuAction(ActionKind k) {
    return k >= ActionKind::McuUnplug && k <= ActionKind::McuAck;
}

// The unit's identity faults with one action's change.
WatchmanIdentityFaults Faulted(const WatchmanIdentity& id, const ScenarioAction& a) {
    WatchmanIdentityFaults f = id.Faults();
    switch (a.kind) {
        case ActionKind::WatchmanConfigCorrupt:
            f.configCorrupt = true;
            break;
        case ActionKind::WatchmanConfigSerial:
            f.configSerial = a.text;
            break;
        case ActionKind::WatchmanConfigDrop:
            f.dropKey = a.text;
            break;
        case ActionKind::WatchmanFeatureStall:
            f.stallOnce = a.value[0] != 0;
            break;
        case ActionKind::WatchmanFeatureSilent:
            f.silent = a.value[0] != 0;
            break;
        default:
            break;
    }
    return f;
}

bool IsReplayedDeviceAction(ActionKind k) {
    return (k >= ActionKind::WatchmanSerial && k <= ActionKind::WatchmanReplace) ||
           (k >= ActionKind::McuAbsent && k <= ActionKind::McuAck);
}

}  // namespace

bool ApplyLightAction(const ScenarioAction& a, LightModel& light) {
    const auto wire = static_cast<int>(a.value[0]);
    switch (a.kind) {
        case ActionKind::WatchmanLightGeneration:
            light.SetGeneration(wire);
            return true;
        case ActionKind::WatchmanPhotodiodeDead:
            light.SetFault(wire, PhotodiodeFault::kDead);
            return true;
        case ActionKind::WatchmanPhotodiodeWeak:
            light.SetFault(wire, PhotodiodeFault::kWeak);
            return true;
        case ActionKind::WatchmanPhotodiodeAbnormal:
            light.SetFault(wire, PhotodiodeFault::kAbnormal);
            return true;
        case ActionKind::WatchmanPhotodiodeOk:
            light.SetFault(wire, PhotodiodeFault::kNone);
            return true;
        case ActionKind::WatchmanStationOff:
        case ActionKind::WatchmanStationOn:
            light.SetStationOn(static_cast<size_t>(a.value[0]),
                               a.kind == ActionKind::WatchmanStationOn);
            return true;
        case ActionKind::WatchmanLight:
            light.SetStreaming(a.value[0] != 0);
            return true;
        default:
            return false;
    }
}

VirtualHeadset::VirtualHeadset() : watchman(std::make_shared<WatchmanModel>()) {}

VirtualHeadset::~VirtualHeadset() {
    StopTimeline();
}

bool VirtualHeadset::Build(const Scenario& scenario, const std::string& fileName,
                           std::string& error, const ReplaySetup* replay) {
    if (replay != nullptr) {
        for (const ScenarioAction& a : scenario.actions) {
            if (IsReplayedDeviceAction(a.kind)) {
                error = fileName + ":" + std::to_string(a.line) +
                        ": the watchman and the mcu are replayed from the capture; their "
                        "actions are refused with --replay";
                return false;
            }
        }
    }
    std::wstring serial = kDefaultWatchmanSerial;
    bool haveWatchman = true, haveMcu = true;
    std::vector<std::string> trackerSerials;
    DisplayDesc shape;
    for (const ScenarioAction& a : scenario.actions) {
        switch (a.kind) {
            case ActionKind::WatchmanSerial:
                serial = Widen(a.text);
                break;
            case ActionKind::WatchmanAbsent:
                haveWatchman = false;
                break;
            case ActionKind::TrackerAdd:
                trackerSerials.push_back(a.text);
                break;
            case ActionKind::McuAbsent:
                haveMcu = false;
                break;
            case ActionKind::DisplayAbsent:
                shape.displayCount = 0;
                break;
            case ActionKind::DisplaySurfaceFormat:
                shape.surfaceFormat = static_cast<DXGI_FORMAT>(a.value[0]);
                break;
            case ActionKind::DisplayHdcp:
                shape.hdcpDisabled = true;
                break;
            case ActionKind::DisplayAcquireFail:
                shape.acquireFailures = static_cast<uint32_t>(a.value[0]);
                break;
            default:
                runtimeActions.push_back(a);
                break;
        }
    }
    display = std::make_unique<VirtualDisplay>(std::move(shape));
    for (const ScenarioAction& a : runtimeActions) {
        const char* missing = nullptr;
        if (IsWatchmanAction(a.kind) && !haveWatchman) {
            missing = "watchman";
        } else if (IsMcuAction(a.kind) && !haveMcu) {
            missing = "mcu";
        }
        if (missing != nullptr) {
            error = fileName + ":" + std::to_string(a.line) + ": the " + missing +
                    " is absent in this scenario";
            return false;
        }
    }

    if (replay != nullptr) {
        AttachReplayed(*replay);
    } else if (haveWatchman) {
        light = std::make_shared<LightModel>(VirtualPhotodiodes(NarrowSerial(serial)));
        watchmanId = bus.Attach(WatchmanDevice(serial, kHeadsetWatchmanPort, watchman, light));
    }
    if (haveMcu && replay == nullptr) {
        mcu = std::make_unique<VirtualMcu>();
        mcu->SetDistance(kMcuAwayDistance);
        mcuId = bus.Attach(McuUsbDevice(kHeadsetMcuPort, mcu->Interfaces()));
    }
    for (size_t i = 0; i < trackerSerials.size(); ++i) {
        auto tracker = std::make_shared<WatchmanModel>();
        trackers.push_back(tracker);
        bus.Attach(WatchmanDevice(Widen(trackerSerials[i]), TrackerPort(i), tracker));
    }
    return true;
}

void VirtualHeadset::AttachReplayed(const ReplaySetup& replay) {
    using capture::ReplayDevice;
    using capture::ReplayRole;
    const capture::ReplayPlan& plan = replay.feed->Plan();
    auto stream = [&](ReplayRole role) {
        return std::make_shared<ReplayStream>(replay.feed, role);
    };
    const ReplayDevice& imu = plan.Device(ReplayRole::kImu);
    if (imu.found) {
        std::wstring serial(imu.serial.begin(), imu.serial.end());
        if (serial.empty()) {
            // The capture holds no serial: the one given here is ours, never
            // the unit's, and no check compares it.
            SetSerialChosenByLauncher(Utf8FromWide(kDefaultWatchmanSerial));
        }
        // Its light on interface 1, when the capture has any.
        std::shared_ptr<HidInterfaceModel> replayedLight;
        if (plan.lightReports > 0) {
            replayedLight = stream(ReplayRole::kLight);
        }
        watchmanId = bus.Attach(WatchmanDevice(serial.empty() ? kDefaultWatchmanSerial : serial,
                                               kHeadsetWatchmanPort, stream(ReplayRole::kImu), true,
                                               std::move(replayedLight)));
    }
    const ReplayDevice& mcuDevice = plan.Device(ReplayRole::kMcu);
    if (mcuDevice.found) {
        mcuId = bus.Attach(McuUsbDevice(kHeadsetMcuPort, {stream(ReplayRole::kMcu)}));
    }
    // Losses and returns as the scenario's unplugs and plugs.
    struct Replayed {
        const ReplayDevice& device;
        ActionKind unplug, plug;
    };
    const Replayed devices[] = {{imu, ActionKind::WatchmanUnplug, ActionKind::WatchmanPlug},
                                {mcuDevice, ActionKind::McuUnplug, ActionKind::McuPlug}};
    for (const Replayed& r : devices) {
        if (!r.device.found) {
            continue;
        }
        for (const capture::ReplayEvent& e : r.device.transitions) {
            ScenarioAction a;
            a.seconds = static_cast<double>(e.micros) / 1e6;
            a.kind = e.kind == capture::ReplayEventKind::kLost ? r.unplug : r.plug;
            runtimeActions.push_back(a);
        }
    }
    std::stable_sort(
        runtimeActions.begin(), runtimeActions.end(),
        [](const ScenarioAction& a, const ScenarioAction& b) { return a.seconds < b.seconds; });
}

void VirtualHeadset::Apply(const ScenarioAction& a) {
    const int64_t* v = a.value;
    switch (a.kind) {
        case ActionKind::WatchmanUnplug:
            bus.Unplug(watchmanId);
            break;
        case ActionKind::WatchmanPlug:
            bus.Plug(watchmanId);
            break;
        case ActionKind::WatchmanSleep:
            watchman->Sleep();
            break;
        case ActionKind::WatchmanWake:
            watchman->Wake();
            break;
        case ActionKind::WatchmanRate:
            watchman->SetRate(static_cast<int>(v[0]));
            break;
        case ActionKind::WatchmanAccel:
            watchman->SetAccel(static_cast<int16_t>(v[0]), static_cast<int16_t>(v[1]),
                               static_cast<int16_t>(v[2]));
            break;
        case ActionKind::WatchmanGyro:
            watchman->SetGyro(static_cast<int16_t>(v[0]), static_cast<int16_t>(v[1]),
                              static_cast<int16_t>(v[2]));
            break;
        case ActionKind::WatchmanSkip:
            watchman->Skip(static_cast<unsigned>(v[0]));
            break;
        case ActionKind::WatchmanAccelNoise:
            watchman->SetAccelNoise(a.number);
            break;
        case ActionKind::WatchmanGyroNoise:
            watchman->SetGyroNoise(a.number);
            break;
        case ActionKind::WatchmanGyroWalk:
            watchman->SetGyroWalk(a.number);
            break;
        case ActionKind::WatchmanClock:
            watchman->SetClockOffset(a.number);
            break;
        case ActionKind::WatchmanStuck:
            v[0] < 0 ? watchman->Unstick() : watchman->Stick(static_cast<int>(v[0]));
            break;
        case ActionKind::WatchmanSaturate:
            v[0] < 0 ? watchman->Unsaturate() : watchman->Saturate(static_cast<int>(v[0]));
            break;
        case ActionKind::WatchmanDropEvery:
            watchman->DropEvery(static_cast<unsigned>(v[0]));
            break;
        case ActionKind::WatchmanRepeat:
            watchman->Repeat();
            break;
        case ActionKind::WatchmanJunk:
            watchman->Junk();
            break;
        case ActionKind::WatchmanConfigCorrupt:
        case ActionKind::WatchmanConfigSerial:
        case ActionKind::WatchmanConfigDrop:
        case ActionKind::WatchmanFeatureStall:
        case ActionKind::WatchmanFeatureSilent:
            watchman->EditIdentity([&](WatchmanIdentity& id) { id.SetFaults(Faulted(id, a)); });
            break;
        case ActionKind::WatchmanReplace:
            ReplaceWatchman(Widen(a.text));
            break;
        case ActionKind::WatchmanLightGeneration:
        case ActionKind::WatchmanPhotodiodeDead:
        case ActionKind::WatchmanPhotodiodeWeak:
        case ActionKind::WatchmanPhotodiodeAbnormal:
        case ActionKind::WatchmanPhotodiodeOk:
        case ActionKind::WatchmanStationOff:
        case ActionKind::WatchmanStationOn:
        case ActionKind::WatchmanLight:
            ApplyLightAction(a, *light);
            break;
        case ActionKind::McuUnplug:
            bus.Unplug(mcuId);
            break;
        case ActionKind::McuPlug:
            if (mcu) {
                mcu->PowerCycle();  // a replugged MCU starts up silent
            }
            bus.Plug(mcuId);
            break;
        case ActionKind::McuSleep:
            mcu->Sleep();
            break;
        case ActionKind::McuWake:
            mcu->Wake();
            break;
        case ActionKind::McuDistance:
            mcu->SetDistance(static_cast<uint16_t>(v[0]));
            break;
        case ActionKind::McuAck:
            mcu->SetAck(v[0] != 0);
            break;
        case ActionKind::DisplayVsync:
            display->SetVsync(v[0] == kVsyncFree   ? Vsync::Free
                              : v[0] == kVsyncStop ? Vsync::Stopped
                                                   : Vsync::Paced);
            break;
        case ActionKind::DisplayRemove:
            display->RemoveDevice();
            break;
        case ActionKind::DisplayPresentErrors:
            display->FailNextPresents(static_cast<uint32_t>(v[0]));
            break;
        case ActionKind::ToolStop:
            if (toolStop) {
                toolStop();
            }
            break;
        default:
            break;  // set-up actions were applied by Build
    }
    bus.Notify();  // readers look at the models again
}

void VirtualHeadset::ReplaceWatchman(const std::wstring& serial) {
    // The old unit leaves for good; the new one is another device on the bus
    // at the same place, freshly powered, with a sound configuration of its own.
    bus.Unplug(watchmanId);
    watchman->EditIdentity([](WatchmanIdentity& id) { id.SetFaults({}); });
    watchman->Wake();
    light = std::make_shared<LightModel>(VirtualPhotodiodes(NarrowSerial(serial)));
    watchmanId = bus.Attach(WatchmanDevice(serial, kHeadsetWatchmanPort, watchman, light));
}

void VirtualHeadset::StartTimeline(std::chrono::steady_clock::time_point start,
                                   std::function<void()> onToolStop) {
    toolStop = std::move(onToolStop);
    size_t first = 0;
    while (first < runtimeActions.size() && runtimeActions[first].seconds == 0.0) {
        Apply(runtimeActions[first++]);
    }
    runtimeActions.erase(runtimeActions.begin(), runtimeActions.begin() + first);
    timeline = std::thread(&VirtualHeadset::TimelineLoop, this, start);
}

void VirtualHeadset::StopTimeline() {
    {
        std::lock_guard<std::mutex> lock(timelineMtx);
        timelineQuit = true;
    }
    timelineCv.notify_all();
    if (timeline.joinable()) {
        timeline.join();
    }
}

void VirtualHeadset::TimelineLoop(std::chrono::steady_clock::time_point start) {
    for (const ScenarioAction& a : runtimeActions) {
        auto due = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                               std::chrono::duration<double>(a.seconds));
        std::unique_lock<std::mutex> lock(timelineMtx);
        if (timelineCv.wait_until(lock, due, [this] { return timelineQuit; })) {
            return;
        }
        lock.unlock();
        Apply(a);
    }
}

}  // namespace brisk::sim
