#include "sim/virtual_display.h"

#include <cstring>

#include "platform/softgpu/softgpu.h"

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

}  // namespace

VirtualDisplay::VirtualDisplay() : modes_(DefaultModes()) {}

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
    for (const Surface& s : surfaces_) {
        CloseHandle(s.shared);
    }
}

std::vector<DirectModeMode> VirtualDisplay::DefaultModes() {
    return {
        MakeDirectModeMode(3840, 1920, 90, 1, 22),       MakeDirectModeMode(5088, 2544, 60, 1, 22),
        MakeDirectModeMode(5088, 2544, 75, 1, 22),       MakeDirectModeMode(5088, 2544, 75, 1, 25),
        MakeDirectModeMode(5088, 2544, 90000, 1000, 22), MakeDirectModeMode(5088, 2544, 120, 1, 22),
    };
}

// ---- shape ----

void VirtualDisplay::SetDisplayCount(uint32_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    displayCount_ = count > 2 ? 2 : count;
}

void VirtualDisplay::SetModes(std::vector<DirectModeMode> modes) {
    std::lock_guard<std::mutex> lock(mutex_);
    modes_ = std::move(modes);
}

void VirtualDisplay::SetSurfaceFormat(DXGI_FORMAT format) {
    std::lock_guard<std::mutex> lock(mutex_);
    surfaceFormat_ = format;
}

void VirtualDisplay::SetHdcpDisabled(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    hdcpDisabled_ = on;
}

void VirtualDisplay::SetAcquireFailures(uint32_t attempts) {
    std::lock_guard<std::mutex> lock(mutex_);
    acquireFailures_ = attempts;
}

void VirtualDisplay::FailCall(DisplayCall call, NvStatus status) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (call != DisplayCall::kCount) {
        forced_[static_cast<int>(call)] = status;
    }
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

// ---- queries ----

bool VirtualDisplay::Acquired() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return acquired_;
}

uint32_t VirtualDisplay::AcquireAttempts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return acquireAttempts_;
}

uint32_t VirtualDisplay::ReleaseCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return releases_;
}

bool VirtualDisplay::ModeIsSet() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return modeSet_;
}

DirectModeMode VirtualDisplay::CurrentMode() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return mode_;
}

std::vector<uint32_t> VirtualDisplay::PowerHistory() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return power_;
}

uint64_t VirtualDisplay::Presents() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return presents_;
}

uint64_t VirtualDisplay::VsyncSignals() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return vsyncSignals_;
}

DirectModeSurface VirtualDisplay::LastPresented() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastPresented_;
}

HANDLE VirtualDisplay::SharedHandle(DirectModeSurface surface) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Surface& s : surfaces_) {
        if (s.id == surface) {
            return s.shared;
        }
    }
    return nullptr;
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
    if (display == nullptr || displayCount_ == 0) {
        return false;
    }
    const DirectModeDisplay headset = Record(0);
    return std::memcmp(display, &headset, sizeof headset) == 0;
}

NvStatus VirtualDisplay::Forced(DisplayCall call) const {
    return forced_[static_cast<int>(call)];
}

std::chrono::steady_clock::duration VirtualDisplay::PeriodLocked() const {
    // Until a mode is set the panel runs its native 75 Hz.
    double hz = 75.0;
    if (modeSet_ && mode_.refreshDenominator != 0 && mode_.refreshNumerator != 0) {
        hz = static_cast<double>(mode_.refreshNumerator) / mode_.refreshDenominator;
    }
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / hz));
}

// ---- DirectModeApi ----

NvStatus VirtualDisplay::Initialize() {
    std::lock_guard<std::mutex> lock(mutex_);
    return Forced(DisplayCall::Initialize);
}

NvStatus VirtualDisplay::Enable(uint32_t vendorId, uint32_t) {
    std::lock_guard<std::mutex> lock(mutex_);
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
    const uint32_t available = vendorId == kVendorId ? displayCount_ : 0;
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
    const uint32_t available = static_cast<uint32_t>(modes_.size());
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
        modes[i] = modes_[i];
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
    const bool known = (displayCount_ >= 1 && displayId == kHeadsetDisplayId) ||
                       (displayCount_ >= 2 && displayId == kOtherDisplayId);
    if (!known) {
        return kNvDeviceNotFound;
    }
    *gpu = GpuHandle();
    return kNvOk;
}

NvStatus VirtualDisplay::GetAdapter(PhysicalGpu gpu, IDXGIAdapter** adapter) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (adapter == nullptr || gpu != GpuHandle()) {
            return kNvInvalidArgument;
        }
        if (NvStatus forced = Forced(DisplayCall::Adapter)) {
            return forced;
        }
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
        ++acquireAttempts_;
        if (vendorId != kVendorId || device == nullptr || !IsHeadset(display)) {
            return kNvInvalidArgument;
        }
        if (acquireFailures_ > 0) {
            // Still held by another process.
            --acquireFailures_;
            return kNvError;
        }
        acquired_ = true;
        device_ = device;
        removed = removed_;
        status = hdcpDisabled_ ? kNvHdcpDisabled : kNvOk;
    }
    if (removed != 0) {
        softgpu::RemoveDevice(device, removed);
    }
    return status;
}

NvStatus VirtualDisplay::Release(uint32_t vendorId, const DirectModeDisplay* display) {
    ComPtr<ID3D12Device> device;  // let go outside the lock
    std::lock_guard<std::mutex> lock(mutex_);
    if (vendorId != kVendorId || !IsHeadset(display) || !acquired_) {
        return kNvInvalidArgument;
    }
    acquired_ = false;
    ++releases_;
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
    if (!acquired_) {
        return kNvError;
    }
    HANDLE handle = softgpu::CreateSharedSurface(mode->width, mode->height, surfaceFormat_);
    if (handle == nullptr) {
        return kNvInvalidArgument;
    }
    const DirectModeSurface id = static_cast<DirectModeSurface>(surfaces_.size() + 1);
    surfaces_.push_back({id, handle});
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
        if (!acquired_) {
            return kNvError;
        }
        bool listed = false;
        for (const DirectModeMode& m : modes_) {
            listed = listed || (SameTiming(m, *mode) && m.refreshDenominator != 0);
        }
        if (!listed) {
            return kNvInvalidArgument;
        }
        mode_ = *mode;
        modeSet_ = true;
        ++vsyncGeneration_;  // the scan-out period follows the new mode
        result = hdcpDisabled_ ? kNvHdcpDisabled : kNvOk;
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
    power_.push_back(control);
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
        if (queue == nullptr || !IsHeadset(display) || !acquired_) {
            return kNvInvalidArgument;
        }
        bool known = false;
        for (const Surface& s : surfaces_) {
            known = known || s.id == surface;
        }
        if (!known) {
            return kNvInvalidArgument;
        }
        if (presentErrors_ > 0) {
            --presentErrors_;
            return kNvError;
        }
        ++presents_;
        lastPresented_ = surface;
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
        ++vsyncSignals_;
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
