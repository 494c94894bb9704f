// The virtual headset display, offered through the DirectMode interface: one
// DirectMode display (or none, or a second one listed after it) with the
// headset's mode list, acquire and release, typeless scan-out surfaces shared
// with the software GPU, mode set, panel power, and a present waitable that
// the display's own thread signals at the refresh rate of the mode set.
//
// Field failures are reproduced on request: no display, HDCP off, a display
// still held by someone else for the first N acquires, surfaces of another
// format, scan-out that stops or runs free, failing presents, a removed
// device, and any single call failing with a chosen status.
//
// Every member is safe from any thread. The display owns its surfaces and its
// waitable, so it must outlive every presenter that took it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/directmode.h"

namespace brisk::sim {

enum class Vsync {
    Paced,    // the waitable is signalled once per refresh period
    Free,     // presents are never held back: the waitable is signalled on
              // entering this mode and again by every present
    Stopped,  // the waitable is never signalled: scan-out has stopped
};

// Calls whose status can be forced (FailCall).
enum class DisplayCall {
    Initialize,
    Enable,
    EnumerateCount,  // enumeration without an array
    EnumerateList,   // enumeration filling the array
    ModesCount,
    ModesList,
    PhysicalGpu,
    Adapter,
    CreateSurface,
    SetMode,
    Control,
    Waitable,
    kCount,
};

class VirtualDisplay : public DirectModeApi {
  public:
    static constexpr uint32_t kHeadsetDisplayId = 0x80061086;
    static constexpr uint32_t kOtherDisplayId = 0x80061087;

    VirtualDisplay();
    ~VirtualDisplay() override;
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // The headset's list: several modes, exactly one of them 5088x2544 at
    // 75 Hz with format code 22.
    static std::vector<DirectModeMode> DefaultModes();

    // ---- shape, before the presenter starts ----
    // 0: no DirectMode display; 1: the headset; 2: the headset and another.
    void SetDisplayCount(uint32_t count);
    void SetModes(std::vector<DirectModeMode> modes);
    void SetSurfaceFormat(DXGI_FORMAT format);         // default R8G8B8A8_TYPELESS
    void SetHdcpDisabled(bool on);                     // acquire and mode set answer -208
    void SetAcquireFailures(uint32_t attempts);        // the next N acquires fail
    void FailCall(DisplayCall call, NvStatus status);  // kNvOk clears

    // ---- at run time ----
    void SetVsync(Vsync mode);
    void FailNextPresents(uint32_t count);
    // The cable is pulled: the Direct3D device the display is acquired with
    // reports removal. Before an acquire, every device alive reports it, and
    // so does the device of any later acquire: the display stays gone.
    void RemoveDevice(HRESULT reason = DXGI_ERROR_DEVICE_REMOVED);

    // ---- what tests and brisk-sim look at ----
    bool Acquired() const;
    uint32_t AcquireAttempts() const;
    uint32_t ReleaseCount() const;
    bool ModeIsSet() const;
    DirectModeMode CurrentMode() const;          // as last set, DSC words included
    std::vector<uint32_t> PowerHistory() const;  // DisplayControl arguments, in order
    uint64_t Presents() const;                   // successful presents
    uint64_t VsyncSignals() const;               // paced scan-outs signalled
    DirectModeSurface LastPresented() const;
    HANDLE SharedHandle(DirectModeSurface surface) const;  // null when unknown

    // ---- DirectModeApi ----
    NvStatus Initialize() override;
    NvStatus Enable(uint32_t vendorId, uint32_t flags) override;
    NvStatus EnumerateDisplays(uint32_t vendorId, uint32_t* count, DirectModeDisplay* displays,
                               uint32_t flags) override;
    NvStatus GetDisplayModes(const DirectModeDisplay* display, uint32_t* count,
                             DirectModeMode* modes, uint32_t flags) override;
    NvStatus GetPhysicalGpu(uint32_t displayId, PhysicalGpu* gpu) override;
    NvStatus GetAdapter(PhysicalGpu gpu, IDXGIAdapter** adapter) override;
    NvStatus Acquire(uint32_t vendorId, ID3D12Device* device,
                     const DirectModeDisplay* display) override;
    NvStatus Release(uint32_t vendorId, const DirectModeDisplay* display) override;
    NvStatus CreateSurface(const DirectModeDisplay* display, const DirectModeMode* mode,
                           DirectModeSurface* surface, HANDLE* shared) override;
    NvStatus SetMode(const DirectModeDisplay* display, const DirectModeMode* mode) override;
    NvStatus Control(const DirectModeDisplay* display, uint32_t control) override;
    NvStatus GetWaitable(const DirectModeDisplay* display, HANDLE* waitable) override;
    NvStatus Present(const DirectModeDisplay* display, DirectModeSurface surface, uint32_t flags,
                     ID3D12CommandQueue* queue, ID3D12GraphicsCommandList* list) override;

  private:
    using Clock = std::chrono::steady_clock;

    struct Surface {
        DirectModeSurface id;
        HANDLE shared;
    };

    DirectModeDisplay Record(uint32_t index) const;
    bool IsHeadset(const DirectModeDisplay* display) const;  // lock held
    NvStatus Forced(DisplayCall call) const;                 // lock held
    Clock::duration PeriodLocked() const;
    void StartVsyncLocked();
    void VsyncLoop();

    mutable std::mutex mutex_;
    std::condition_variable wake_;

    // shape
    uint32_t displayCount_ = 1;
    std::vector<DirectModeMode> modes_;
    DXGI_FORMAT surfaceFormat_ = DXGI_FORMAT_R8G8B8A8_TYPELESS;
    bool hdcpDisabled_ = false;
    uint32_t acquireFailures_ = 0;
    NvStatus forced_[static_cast<int>(DisplayCall::kCount)] = {};

    // state
    bool acquired_ = false;
    ComPtr<ID3D12Device> device_;  // the device the display was acquired with
    HRESULT removed_ = 0;          // non-zero once the cable is pulled
    uint32_t acquireAttempts_ = 0;
    uint32_t releases_ = 0;
    bool modeSet_ = false;
    DirectModeMode mode_{};
    std::vector<uint32_t> power_;
    std::vector<Surface> surfaces_;
    uint64_t presents_ = 0;
    uint32_t presentErrors_ = 0;
    DirectModeSurface lastPresented_ = 0;

    // scan-out
    Vsync vsync_ = Vsync::Paced;
    HANDLE waitable_ = nullptr;  // auto-reset: one wait takes one scan-out
    uint64_t vsyncSignals_ = 0;
    uint64_t vsyncGeneration_ = 0;  // bumped when the pacing changes
    bool quit_ = false;
    std::thread vsyncThread_;
};

}  // namespace brisk::sim
