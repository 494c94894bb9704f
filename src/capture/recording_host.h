// A HidHost that records: every call goes on to the host underneath
// unchanged, and each transfer (an input report read, a read that failed
// because the device left, a feature report sent or read) is handed to the recorder.
// The IMU stream and the proximity sensor do not know they are recorded.
//
// Each device gets a USB address of its own, in the order the tool first
// transfers something with it; its descriptors (vendor and product ID, and
// its serial) are recorded then, and again when it comes back after a loss.
// Devices the tool only opens and looks at are not recorded.
#pragma once

#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "capture/capture_recorder.h"
#include "platform/hid.h"

namespace brisk::capture {

class RecordingHidHost final : public HidHost {
  public:
    RecordingHidHost(HidHost& inner, CaptureRecorder& recorder);

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
    struct OpenInterface {
        uint8_t interfaceNumber = 0;  // as listed; 0 when the listing did not say
        uint8_t address = 0;          // 0: not known yet
    };
    struct Device {
        HidAttributes attributes;
        std::wstring serial;
        bool lost = false;
    };

    // The address of the device behind an open handle; 0 when it cannot be
    // told (not one of ours, or gone before we asked).
    uint8_t AddressOf(Handle device, uint8_t& interfaceNumber);
    // Marks the device lost after a failed read; its next transfer records
    // its descriptors again.
    void Lost(Handle device);

    HidHost& inner;
    CaptureRecorder& recorder;
    std::mutex mtx;  // guards the three tables; never held across a call to `inner`
    // The interface number of every path listed so far, for the opens that follow.
    std::unordered_map<std::wstring, uint8_t> listedInterfaces;
    std::unordered_map<Handle, OpenInterface> handles;
    std::vector<Device> devices;  // address N is devices[N - 1]
};

}  // namespace brisk::capture
