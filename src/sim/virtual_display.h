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
// Built from one DisplayDesc; tests and brisk-sim look at it through one
// DisplayState snapshot. Every member is safe from any thread. The display
// owns its surfaces and its waitable, so it must outlive every presenter that
// took it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
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

// Calls whose status can be forced (DisplayDesc::failing).
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
};

// The headset's list: several modes, exactly one of them 5088x2544 at 75 Hz
// with format code 22.
std::vector<DirectModeMode> DefaultDisplayModes();

// What the display is, fixed when it is built; the defaults are a healthy
// headset.
struct DisplayDesc {
    uint32_t displayCount = 1;  // 0: no DirectMode display; 1: the headset; 2: and another
    std::vector<DirectModeMode> modes = DefaultDisplayModes();
    DXGI_FORMAT surfaceFormat = DXGI_FORMAT_R8G8B8A8_TYPELESS;
    bool hdcpDisabled = false;                     // acquire and mode set answer -208
    uint32_t acquireFailures = 0;                  // the first N acquires fail: held elsewhere
    std::map<DisplayCall, NvStatus> failing = {};  // calls that answer this status instead
};

struct DisplaySurface {
    DirectModeSurface id = 0;
    HANDLE shared = nullptr;  // the display's own; it closes them when it goes
};

// What the display has been through, as one consistent snapshot.
struct DisplayState {
    bool acquired = false;
    uint32_t acquireAttempts = 0;
    uint32_t releases = 0;
    bool modeSet = false;
    DirectModeMode mode{};                 // as last set, DSC words included
    std::vector<uint32_t> power;           // DisplayControl arguments, in order
    std::vector<DisplaySurface> surfaces;  // in the order they were created
    uint64_t presents = 0;                 // successful presents
    DirectModeSurface lastPresented = 0;
    uint64_t vsyncSignals = 0;  // paced scan-outs signalled
};

class VirtualDisplay : public DirectModeApi {
  public:
    static constexpr uint32_t kHeadsetDisplayId = 0x80061086;
    static constexpr uint32_t kOtherDisplayId = 0x80061087;

    explicit VirtualDisplay(DisplayDesc desc = {});
    ~VirtualDisplay() override;
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    DisplayState State() const;

    // ---- what changes while the tool runs ----
    void SetVsync(Vsync mode);
    void FailNextPresents(uint32_t count);
    // The cable is pulled: the Direct3D device the display is acquired with
    // reports removal. Before an acquire, every device alive reports it, and
    // so does the device of any later acquire: the display stays gone.
    void RemoveDevice(HRESULT reason = DXGI_ERROR_DEVICE_REMOVED);

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

    DirectModeDisplay Record(uint32_t index) const;
    bool IsHeadset(const DirectModeDisplay* display) const;  // lock held
    bool KnownSurface(DirectModeSurface surface) const;      // lock held
    NvStatus Forced(DisplayCall call) const;                 // the description only: no lock
    Clock::duration PeriodLocked() const;
    void StartVsyncLocked();
    void VsyncLoop();

    const DisplayDesc desc_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    DisplayState state_;
    uint32_t acquireFailures_;     // still to come
    ComPtr<ID3D12Device> device_;  // the device the display was acquired with
    HRESULT removed_ = 0;          // non-zero once the cable is pulled
    uint32_t presentErrors_ = 0;   // still to come

    // scan-out
    Vsync vsync_ = Vsync::Paced;
    HANDLE waitable_ = nullptr;     // auto-reset: one wait takes one scan-out
    uint64_t vsyncGeneration_ = 0;  // bumped when the pacing changes
    bool quit_ = false;
    std::thread vsyncThread_;
};

}  // namespace brisk::sim
