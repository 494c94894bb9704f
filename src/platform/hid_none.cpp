// Platforms without a HID backend of their own: a host on which nothing is
// attached, so discovery finds nothing and says so.
#include "platform/hid.h"

namespace brisk {
namespace {

class NoHidHost final : public HidHost {
  public:
    bool ListHidDevices(std::vector<HidDeviceInfo>& out) override {
        out.clear();
        return true;
    }
    Handle Open(const std::wstring&) override { return kInvalidHandle; }
    bool Attributes(Handle, HidAttributes&) override { return false; }
    bool SerialString(Handle, std::wstring& out) override {
        out.clear();
        return false;
    }
    bool SetFeature(Handle, const uint8_t*, size_t) override { return false; }
    Handle CreateReadEvent() override { return nullptr; }
    ReadResult ReadTimed(Handle, Handle, uint8_t*, uint32_t, uint32_t) override {
        return {ReadOutcome::FailedAtOnce, 0, kErrorInvalidHandle};
    }
    void CancelAll(Handle) override {}
    void Close(Handle) override {}
    bool SetInputQueueDepth(Handle, uint32_t, uint32_t& granted) override {
        granted = 0;
        return false;
    }
};

}  // namespace

HidHost& PlatformHidHost() {
    static NoHidHost host;
    return host;
}

}  // namespace brisk
