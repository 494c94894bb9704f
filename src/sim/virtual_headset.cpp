#include "sim/virtual_headset.h"

#include <algorithm>

#include "sim/replay_source.h"

namespace brisk::sim {

const wchar_t* const kHeadsetWatchmanLocation = L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)#USB(2)";
const wchar_t* const kHeadsetMcuLocation = L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)#USB(1)";
const wchar_t* const kDefaultWatchmanSerial = L"LHR-5A1B2C3D";

namespace {

// Extra trackers hang on a second USB controller, so they never share a hub
// with the headset's MCU.
std::wstring TrackerLocation(size_t index) {
    return L"PCIROOT(0)#PCI(0D00)#USBROOT(0)#USB(" + std::to_wstring(index + 1) + L")#USB(1)";
}

std::wstring Widen(const std::string& text) {
    std::wstring out;
    for (unsigned char c : text) {
        out.push_back(static_cast<wchar_t>(c));
    }
    return out;
}

bool IsWatchmanAction(ActionKind k) {
    return k >= ActionKind::WatchmanUnplug && k <= ActionKind::WatchmanJunk;
}

bool IsMcuAction(ActionKind k) {
    return k >= ActionKind::McuUnplug && k <= ActionKind::McuAck;
}

bool IsReplayedDeviceAction(ActionKind k) {
    return (k >= ActionKind::WatchmanSerial && k <= ActionKind::WatchmanJunk) ||
           (k >= ActionKind::McuAbsent && k <= ActionKind::McuAck);
}

}  // namespace

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
        watchmanId = bus.Attach(WatchmanDevice(serial, kHeadsetWatchmanLocation, watchman));
    }
    if (haveMcu && replay == nullptr) {
        mcu = std::make_unique<VirtualMcu>();
        mcu->SetDistance(kMcuAwayDistance);
        mcuId = bus.Attach(McuUsbDevice(kHeadsetMcuLocation, mcu->Interfaces()));
    }
    for (size_t i = 0; i < trackerSerials.size(); ++i) {
        auto tracker = std::make_shared<WatchmanModel>();
        trackers.push_back(tracker);
        bus.Attach(WatchmanDevice(Widen(trackerSerials[i]), TrackerLocation(i), tracker));
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
        watchmanId = bus.Attach(WatchmanDevice(serial.empty() ? kDefaultWatchmanSerial : serial,
                                               kHeadsetWatchmanLocation, stream(ReplayRole::kImu)));
    }
    const ReplayDevice& mcuDevice = plan.Device(ReplayRole::kMcu);
    if (mcuDevice.found) {
        mcuId = bus.Attach(McuUsbDevice(kHeadsetMcuLocation, {stream(ReplayRole::kMcu)}));
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
