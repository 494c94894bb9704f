#include "sim/virtual_display.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "sim/softgpu/softgpu.h"

namespace brisk::sim {
namespace {

// Token the display hands out as its GPU's handle; only its address matters.
char gGpuToken;

PhysicalGpu GpuHandle() {
    return reinterpret_cast<PhysicalGpu>(&gGpuToken);
}

bool SameTiming(const DirectModeMode& a, const DirectModeMode& b) {
    return a.width == b.width && a.height == b.height && a.refreshNumerator == b.refreshNumerator &&
           a.refreshDenominator == b.refreshDenominator && a.format == b.format;
}

DisplayDesc Shaped(DisplayDesc desc) {
    desc.displayCount = std::min(desc.displayCount, 2u);
    return desc;
}

}  // namespace

VirtualDisplay::VirtualDisplay(DisplayDesc desc)
    : desc_(Shaped(std::move(desc))), acquireFailures_(desc_.acquireFailures) {}

VirtualDisplay::~VirtualDisplay() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    if (vsyncThread_.joinable()) {
        vsyncThread_.join();
    }
    if (waitable_) {
        CloseHandle(waitable_);
    }
    for (const DisplaySurface& s : state_.surfaces) {
        CloseHandle(s.shared);
    }
}

std::vector<DirectModeMode> DefaultDisplayModes() {
    return {
        MakeDirectModeMode(3840, 1920, 90, 1, 22),       MakeDirectModeMode(5088, 2544, 60, 1, 22),
        MakeDirectModeMode(5088, 2544, 75, 1, 22),       MakeDirectModeMode(5088, 2544, 75, 1, 25),
        MakeDirectModeMode(5088, 2544, 90000, 1000, 22), MakeDirectModeMode(5088, 2544, 120, 1, 22),
    };
}

// ---- run time ----

void VirtualDisplay::SetVsync(Vsync mode) {
    HANDLE event = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        vsync_ = mode;
        ++vsyncGeneration_;
        event = waitable_;
    }
    wake_.notify_all();
    if (event == nullptr) {
        return;
    }
    // Free: whoever waits gets through at once. Stopped: a scan-out that was
    // pending when the signal died is gone too.
    if (mode == Vsync::Free) {
        SetEvent(event);
    } else if (mode == Vsync::Stopped) {
        ResetEvent(event);
    }
}

void VirtualDisplay::FailNextPresents(uint32_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    presentErrors_ = count;
}

void VirtualDisplay::RemoveDevice(HRESULT reason) {
    ComPtr<ID3D12Device> device;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        removed_ = reason;
        device = device_;
    }
    if (device) {
        softgpu::RemoveDevice(device.Get(), reason);
    } else {
        softgpu::RemoveAllDevices(reason);
    }
}

DisplayState VirtualDisplay::State() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

// ---- helpers ----

DirectModeDisplay VirtualDisplay::Record(uint32_t index) const {
    // The words after displayId are the driver's own; they must come back
    // unchanged, so they carry something recognisable.
    DirectModeDisplay d{};
    d.displayId = index == 0 ? kHeadsetDisplayId : kOtherDisplayId;
    d.opaque[0] = 0x10de0000u + index;
    d.opaque[1] = 0x5a5a5a5au;
    d.opaque[2] = ~index;
    return d;
}

bool VirtualDisplay::IsHeadset(const DirectModeDisplay* display) const {
    if (display == nullptr || desc_.displayCount == 0) {
        return false;
    }
    const DirectModeDisplay headset = Record(0);
    return std::memcmp(display, &headset, sizeof headset) == 0;
}

NvStatus VirtualDisplay::Forced(DisplayCall call) const {
    const auto it = desc_.failing.find(call);
    return it == desc_.failing.end() ? kNvOk : it->second;
}

bool VirtualDisplay::KnownSurface(DirectModeSurface surface) const {
    for (const DisplaySurface& s : state_.surfaces) {
        if (s.id == surface) {
            return true;
        }
    }
    return false;
}

std::chrono::steady_clock::duration VirtualDisplay::PeriodLocked() const {
    // Until a mode is set the panel runs its native 75 Hz.
    double hz = 75.0;
    if (state_.modeSet && state_.mode.refreshDenominator != 0 &&
        state_.mode.refreshNumerator != 0) {
        hz = static_cast<double>(state_.mode.refreshNumerator) / state_.mode.refreshDenominator;
    }
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / hz));
}

// ---- DirectModeApi ----

NvStatus VirtualDisplay::Initialize() {
    return Forced(DisplayCall::Initialize);
}

NvStatus VirtualDisplay::Enable(uint32_t vendorId, uint32_t) {
    if (NvStatus forced = Forced(DisplayCall::Enable)) {
        return forced;
    }
    return vendorId == kVendorId ? kNvOk : kNvInvalidArgument;
}

NvStatus VirtualDisplay::EnumerateDisplays(uint32_t vendorId, uint32_t* count,
                                           DirectModeDisplay* displays, uint32_t) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count == nullptr) {
        return kNvInvalidArgument;
    }
    if (NvStatus forced =
            Forced(displays ? DisplayCall::EnumerateList : DisplayCall::EnumerateCount)) {
        return forced;
    }
    const uint32_t available = vendorId == kVendorId ? desc_.displayCount : 0;
    if (displays == nullptr) {
        *count = available;
        return kNvOk;
    }
    const uint32_t n = *count < available ? *count : available;
    for (uint32_t i = 0; i < n; ++i) {
        displays[i] = Record(i);
    }
    *count = n;
    return kNvOk;
}

NvStatus VirtualDisplay::GetDisplayModes(const DirectModeDisplay* display, uint32_t* count,
                                         DirectModeMode* modes, uint32_t) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count == nullptr || !IsHeadset(display)) {
        return kNvInvalidArgument;
    }
    if (NvStatus forced = Forced(modes ? DisplayCall::ModesList : DisplayCall::ModesCount)) {
        return forced;
    }
    const uint32_t available = static_cast<uint32_t>(desc_.modes.size());
    if (modes == nullptr) {
        *count = available;
        return kNvOk;
    }
    const uint32_t n = *count < available ? *count : available;
    for (uint32_t i = 0; i < n; ++i) {
        // As the driver does: records of another layout are not written to.
        if (modes[i].version != kModeRecordVersion) {
            return kNvIncompatibleStructVersion;
        }
    }
    for (uint32_t i = 0; i < n; ++i) {
        modes[i] = desc_.modes[i];
        modes[i].version = kModeRecordVersion;
    }
    *count = n;
    return kNvOk;
}

NvStatus VirtualDisplay::GetPhysicalGpu(uint32_t displayId, PhysicalGpu* gpu) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (gpu == nullptr) {
        return kNvInvalidArgument;
    }
    if (NvStatus forced = Forced(DisplayCall::PhysicalGpu)) {
        return forced;
    }
    const bool known = (desc_.displayCount >= 1 && displayId == kHeadsetDisplayId) ||
                       (desc_.displayCount >= 2 && displayId == kOtherDisplayId);
    if (!known) {
        return kNvDeviceNotFound;
    }
    *gpu = GpuHandle();
    return kNvOk;
}

NvStatus VirtualDisplay::GetAdapter(PhysicalGpu gpu, IDXGIAdapter** adapter) {
    if (adapter == nullptr || gpu != GpuHandle()) {
        return kNvInvalidArgument;
    }
    if (NvStatus forced = Forced(DisplayCall::Adapter)) {
        return forced;
    }
    *adapter = softgpu::CreateSoftwareAdapter().Detach();
    return *adapter ? kNvOk : kNvError;
}

NvStatus VirtualDisplay::Acquire(uint32_t vendorId, ID3D12Device* device,
                                 const DirectModeDisplay* display) {
    HRESULT removed = 0;
    NvStatus status = kNvOk;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++state_.acquireAttempts;
        if (vendorId != kVendorId || device == nullptr || !IsHeadset(display)) {
            return kNvInvalidArgument;
        }
        if (acquireFailures_ > 0) {
            // Still held by another process.
            --acquireFailures_;
            return kNvError;
        }
        state_.acquired = true;
        device_ = device;
        removed = removed_;
        status = desc_.hdcpDisabled ? kNvHdcpDisabled : kNvOk;
    }
    if (removed != 0) {
        softgpu::RemoveDevice(device, removed);
    }
    return status;
}

NvStatus VirtualDisplay::Release(uint32_t vendorId, const DirectModeDisplay* display) {
    ComPtr<ID3D12Device> device;  // let go outside the lock
    std::lock_guard<std::mutex> lock(mutex_);
    if (vendorId != kVendorId || !IsHeadset(display) || !state_.acquired) {
        return kNvInvalidArgument;
    }
    state_.acquired = false;
    ++state_.releases;
    device.Swap(device_);
    return kNvOk;
}

NvStatus VirtualDisplay::CreateSurface(const DirectModeDisplay* display, const DirectModeMode* mode,
                                       DirectModeSurface* surface, HANDLE* shared) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (mode == nullptr || surface == nullptr || shared == nullptr || !IsHeadset(display)) {
        return kNvInvalidArgument;
    }
    if (NvStatus forced = Forced(DisplayCall::CreateSurface)) {
        return forced;
    }
    if (!state_.acquired) {
        return kNvError;
    }
    HANDLE handle = softgpu::CreateSharedSurface(mode->width, mode->height, desc_.surfaceFormat);
    if (handle == nullptr) {
        return kNvInvalidArgument;
    }
    const DirectModeSurface id = static_cast<DirectModeSurface>(state_.surfaces.size() + 1);
    state_.surfaces.push_back({id, handle});
    *surface = id;
    *shared = handle;
    return kNvOk;
}

NvStatus VirtualDisplay::SetMode(const DirectModeDisplay* display, const DirectModeMode* mode) {
    NvStatus result = kNvOk;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (mode == nullptr || !IsHeadset(display)) {
            return kNvInvalidArgument;
        }
        if (NvStatus forced = Forced(DisplayCall::SetMode)) {
            return forced;
        }
        if (!state_.acquired) {
            return kNvError;
        }
        bool listed = false;
        for (const DirectModeMode& m : desc_.modes) {
            listed = listed || (SameTiming(m, *mode) && m.refreshDenominator != 0);
        }
        if (!listed) {
            return kNvInvalidArgument;
        }
        state_.mode = *mode;
        state_.modeSet = true;
        ++vsyncGeneration_;  // the scan-out period follows the new mode
        result = desc_.hdcpDisabled ? kNvHdcpDisabled : kNvOk;
    }
    wake_.notify_all();
    return result;
}

NvStatus VirtualDisplay::Control(const DirectModeDisplay* display, uint32_t control) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!IsHeadset(display) || (control != kDisplayPowerOn && control != kDisplayPowerOff)) {
        return kNvInvalidArgument;
    }
    if (NvStatus forced = Forced(DisplayCall::Control)) {
        return forced;
    }
    state_.power.push_back(control);
    return kNvOk;
}

NvStatus VirtualDisplay::GetWaitable(const DirectModeDisplay* display, HANDLE* waitable) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (waitable == nullptr || !IsHeadset(display)) {
        return kNvInvalidArgument;
    }
    if (NvStatus forced = Forced(DisplayCall::Waitable)) {
        return forced;
    }
    if (waitable_ == nullptr) {
        waitable_ = CreateEventA(nullptr, FALSE, vsync_ == Vsync::Free, nullptr);
        if (waitable_ == nullptr) {
            return kNvError;
        }
        StartVsyncLocked();
    }
    *waitable = waitable_;
    return kNvOk;
}

NvStatus VirtualDisplay::Present(const DirectModeDisplay* display, DirectModeSurface surface,
                                 uint32_t, ID3D12CommandQueue* queue, ID3D12GraphicsCommandList*) {
    HANDLE release = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queue == nullptr || !IsHeadset(display) || !state_.acquired) {
            return kNvInvalidArgument;
        }
        if (!KnownSurface(surface)) {
            return kNvInvalidArgument;
        }
        if (presentErrors_ > 0) {
            --presentErrors_;
            return kNvError;
        }
        ++state_.presents;
        state_.lastPresented = surface;
        if (vsync_ == Vsync::Free) {
            release = waitable_;
        }
    }
    if (release) {
        SetEvent(release);
    }
    return kNvOk;
}

// ---- scan-out ----

void VirtualDisplay::StartVsyncLocked() {
    vsyncThread_ = std::thread([this] { VsyncLoop(); });
}

void VirtualDisplay::VsyncLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    uint64_t generation = vsyncGeneration_;
    Clock::time_point next = Clock::now() + PeriodLocked();
    auto changed = [&] { return quit_ || vsyncGeneration_ != generation; };
    while (!quit_) {
        // Only paced scan-out needs the clock; otherwise sleep until told.
        const bool woken = vsync_ == Vsync::Paced ? wake_.wait_until(lock, next, changed)
                                                  : (wake_.wait(lock, changed), true);
        if (quit_) {
            break;
        }
        if (woken) {
            generation = vsyncGeneration_;
            next = Clock::now() + PeriodLocked();
            continue;
        }
        ++state_.vsyncSignals;
        HANDLE event = waitable_;
        lock.unlock();
        SetEvent(event);
        lock.lock();
        const Clock::time_point now = Clock::now();
        next += PeriodLocked();
        if (next + PeriodLocked() < now) {
            // Starved by a loaded machine: scan-outs missed meanwhile are gone;
            // do not deliver them in a burst.
            next = now;
        }
    }
}

}  // namespace brisk::sim
