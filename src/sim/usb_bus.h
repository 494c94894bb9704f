// The virtual USB bus: an in-process model of the part of the USB tree brisk
// looks at, offered through the same HidHost interface as the Win32 backend.
//
// The bus owns its devices (what they are, where they sit, their HID
// interface paths: usb_tree.h), every handle and event it hands out, the
// per-handle input report queues and the waiting. Device models (Watchman, MCU, ...) own their
// protocol only: what reports they produce and when, and how they answer a
// feature report.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/hid.h"

namespace brisk::sim {

using Clock = std::chrono::steady_clock;

// One input report as a device sends it, report ID first.
struct InputReport {
    uint8_t bytes[65] = {};
    uint8_t length = 0;
    // When a replayed report came in the recording (0: a model's, it comes
    // when it is read); handed to the reader as the report's arrival time.
    Clock::time_point recordedAt{};
};

// The protocol side of one HID interface (top-level collection) of a virtual
// device. The bus calls these with its lock held, so they must not block and
// must not call back into the bus.
class HidInterfaceModel {
  public:
    virtual ~HidInterfaceModel() = default;

    // Appends the input reports this interface has produced up to `now`, in
    // order. The bus calls it whenever a reader looks for data, so models need
    // no thread of their own. Every open handle of the interface receives them.
    virtual void Produce(Clock::time_point now, std::vector<InputReport>& out) = 0;

    // When the next report is due without outside help; Clock::time_point::max()
    // when none will come by itself. Readers sleep until then at the latest.
    virtual Clock::time_point NextDue(Clock::time_point now) const = 0;

    // The time between two reports of its steady stream; zero when it has
    // none. The bus wakes a reader before that stream fills the reader's
    // queue, however coarse its delivery tick.
    virtual Clock::duration ReportSpacing() const { return Clock::duration::zero(); }

    // A feature report from the host (report ID first). False: the device
    // refuses it (HidD_SetFeature fails).
    virtual bool OnFeature(const uint8_t* report, size_t length, Clock::time_point now) = 0;

    // The host asks for feature report `reportId` (HidD_GetFeature): the
    // answer goes into `buf` of `length` bytes, report ID first, never past
    // it. By default the interface stalls every such request, as an
    // interface without feature reports does.
    virtual FeatureResult OnGetFeature(uint8_t reportId, uint8_t* buf, uint32_t length,
                                       Clock::time_point now) {
        (void)reportId, (void)buf, (void)length, (void)now;
        return {FeatureOutcome::kFailed, 0, kErrorGenFailure};
    }

    // True: reports wait in the model while no handle of the interface is
    // open, instead of going to nobody (a replay, whose every report the
    // tool once read). A live device's reports go to whoever listens then.
    virtual bool KeepsReportsForReaders() const { return false; }

    // The input report IDs the interface's report descriptor declares, as
    // a backend lists them (HidDeviceInfo::inputReportIds); nothing for a
    // model that declares none, which the bus then lists as unknown.
    virtual std::optional<std::vector<uint8_t>> InputReportIds() const { return std::nullopt; }
};

// What a virtual USB device looks like on the bus.
struct UsbDeviceDesc {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::wstring serial;  // reported by HidD_GetSerialNumberString; empty: none
    // Where it sits: {L"0000:00:14.0", {3, 2}} is port 2 of the hub on root
    // port 3 of the host controller at PCI address 0000:00:14.0 (the device
    // server lays out its sysfs below that address). Unknown: no place.
    PortKey port;
    // One entry per HID interface, by interface number.
    // A null model makes an interface that never sends and refuses features.
    std::vector<std::shared_ptr<HidInterfaceModel>> interfaces;
    // The order in which ListHidDevices lists this device's interfaces, as
    // interface numbers; empty: by number. Real hosts list them in no promised
    // order, so discovery must not depend on interface 0 coming first.
    std::vector<size_t> listOrder;
    uint16_t version = 0x0100;  // HIDD_ATTRIBUTES.VersionNumber
};

// An interface that is there but never sends anything, and accepts (and
// ignores) every feature report: the Watchman's non-IMU interfaces. It
// declares the input reports it is given, or is listed as unknown.
class SilentInterface final : public HidInterfaceModel {
  public:
    SilentInterface() = default;
    explicit SilentInterface(std::vector<uint8_t> inputIds) : inputIds(std::move(inputIds)) {}
    std::optional<std::vector<uint8_t>> InputReportIds() const override { return inputIds; }
    void Produce(Clock::time_point, std::vector<InputReport>&) override {}
    Clock::time_point NextDue(Clock::time_point) const override { return Clock::time_point::max(); }
    bool OnFeature(const uint8_t* report, size_t length, Clock::time_point) override {
        return report != nullptr && length > 0;
    }

  private:
    std::optional<std::vector<uint8_t>> inputIds;
};

using UsbDeviceId = int;

class UsbBus final : public HidHost {
  public:
    UsbBus();
    ~UsbBus() override;
    UsbBus(const UsbBus&) = delete;
    UsbBus& operator=(const UsbBus&) = delete;

    // --- shaping the bus (tests, brisk-sim) -------------------------------
    // Attaches a device with one HID interface path per interface,
    // "virtual/D/VVVV:PPPP/ifN" for interface N of device D (vendor and
    // product in lower-case hex).
    UsbDeviceId Attach(UsbDeviceDesc desc);
    // The device leaves: it is no longer listed or opened, every open handle on it
    // fails from now on (pending reads at once, with ERROR_DEVICE_NOT_CONNECTED).
    void Unplug(UsbDeviceId device);
    // It returns at the same place; old handles stay dead, new opens work.
    void Plug(UsbDeviceId device);
    // Wakes readers after a model's state changed from outside (sleep/wake,
    // rate, ...), so that they ask the model again.
    void Notify();
    // Readers waiting for a model's next report wake on a grid of this step
    // (default 10 ms) and take everything due by then, instead of waking for
    // each report: a 1000 samples/s Watchman would otherwise cost 1000 thread
    // wake-ups a second. A model faster than the step's worth of half a
    // handle's queue (1600 reports a second at 10 ms) wakes its readers
    // sooner, when that much is due, so that the grid loses nothing. Zero:
    // wake for every report, as on real hardware. Notify, cancels, unplugs
    // and time-outs are never delayed.
    void SetDeliveryTick(std::chrono::microseconds tick);

    // --- what tests assert -------------------------------------------------
    size_t OpenHandles() const;  // device handles open now
    size_t OpenEvents() const;   // events open now
    size_t BadCloses() const;    // closes of unknown or already closed handles
    // Open attempts, successful or not, whose path contains the fragment.
    size_t OpensOf(const std::wstring& pathFragment) const;
    // The input queue depth of each open device handle, in the order they
    // were opened: 32 until SetInputQueueDepth granted another (2 to 512,
    // as Windows grants).
    std::vector<uint32_t> InputQueueDepths() const;

    // --- HidHost -----------------------------------------------------------
    bool ListHidDevices(std::vector<HidDeviceInfo>& out) override;
    Handle Open(const std::wstring& path) override;
    bool Attributes(Handle device, HidAttributes& out) override;
    bool SerialString(Handle device, std::wstring& out) override;
    bool SetFeature(Handle device, const uint8_t* report, size_t length) override;
    FeatureResult GetFeature(Handle device, uint8_t reportId, uint8_t* buf,
                             uint32_t length) override;
    Handle CreateReadEvent() override;
    ReadResult ReadTimed(Handle device, Handle event, uint8_t* buf, uint32_t length,
                         uint32_t timeoutMs) override;
    void CancelAll(Handle device) override;
    void Close(Handle handle) override;
    bool SetInputQueueDepth(Handle device, uint32_t wanted, uint32_t& granted) override;

  private:
    struct State;
    std::unique_ptr<State> st;
};

}  // namespace brisk::sim
