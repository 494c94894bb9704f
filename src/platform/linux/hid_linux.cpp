// The Linux HID host: libudev for the interface list and what sysfs says of
// each interface, hidraw nodes for identity, feature reports and input reports.
//
// A device handle owns the node's file descriptor and an eventfd that
// CancelAll signals; a read polls both. The read event callers create has
// nothing to carry here (the cancel belongs to the device, because CancelAll
// names only the device), but it is a real object all the same, so every
// handle is created, owned and closed alike on every platform.
#include <fcntl.h>

#include <memory>
#include <mutex>
#include <unordered_set>

#include "platform/hid.h"
#include "platform/linux/hidraw_io.h"
#include "platform/linux/sysfs_ids.h"
#include "platform/linux/udev_tree.h"

namespace brisk {
namespace {

using linux_hid::ReportIds;
using linux_hid::UniqueFd;

struct LinuxHandle {
    virtual ~LinuxHandle() = default;
};

struct ReadEvent final : LinuxHandle {};

struct Device final : LinuxHandle {
    UniqueFd fd;
    UniqueFd cancel;
    // Windows hands on a report of a device without report IDs behind a
    // zero byte; hidraw hands on the report alone. The report descriptor
    // says which kind of device this is; when it cannot be had the reports
    // go on as read (the MCU's reader finds its message either way).
    bool prependZero = false;
    bool haveAttributes = false;
    HidAttributes attributes;
    bool haveSerial = false;
    std::wstring serial;
};

class LinuxHidHost final : public HidHost {
  public:
    bool ListHidDevices(std::vector<HidDeviceInfo>& out) override {
        return linux_hid::ListHidrawDevices(out);
    }

    Handle Open(const std::wstring& path) override {
        const std::string devnode = linux_hid::DevnodeOfPath(path);
        if (devnode.empty()) {
            return kInvalidHandle;
        }
        auto device = std::make_unique<Device>();
        // Non-blocking, so a read that poll woke for nothing cannot hang
        // past a cancel.
        device->fd = UniqueFd(open(devnode.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK));
        device->cancel = linux_hid::MakeCancelFd();
        if (device->fd.Get() < 0 || device->cancel.Get() < 0) {
            return kInvalidHandle;
        }
        linux_hid::HidrawFacts facts;
        linux_hid::FactsOfDevnode(devnode, facts);
        FillIdentity(*device, facts);
        device->prependZero = linux_hid::ReportIdsOf(device->fd.Get(), facts.descriptorFile) ==
                              ReportIds::kUnnumbered;
        return Register(std::move(device));
    }

    bool Attributes(Handle handle, HidAttributes& out) override {
        const Device* device = FindDevice(handle);
        if (device == nullptr || !device->haveAttributes) {
            return false;
        }
        out = device->attributes;
        return true;
    }

    bool SerialString(Handle handle, std::wstring& out) override {
        out.clear();
        const Device* device = FindDevice(handle);
        if (device == nullptr || !device->haveSerial) {
            return false;
        }
        out = device->serial;
        return true;
    }

    bool SetFeature(Handle handle, const uint8_t* report, size_t length) override {
        const Device* device = FindDevice(handle);
        return device != nullptr && linux_hid::SendFeature(device->fd.Get(), report, length);
    }

    FeatureResult GetFeature(Handle handle, uint8_t reportId, uint8_t* buf,
                             uint32_t length) override {
        const Device* device = FindDevice(handle);
        if (device == nullptr) {
            return {FeatureOutcome::kFailed, 0, kErrorInvalidHandle};
        }
        return linux_hid::ReadFeature(device->fd.Get(), reportId, buf, length);
    }

    Handle CreateReadEvent() override { return Register(std::make_unique<ReadEvent>()); }

    ReadResult ReadTimed(Handle handle, Handle event, uint8_t* buf, uint32_t length,
                         uint32_t timeoutMs) override {
        const Device* device = FindDevice(handle);
        if (device == nullptr || !IsLive(event)) {
            return {ReadOutcome::FailedAtOnce, 0, kErrorInvalidHandle};
        }
        return linux_hid::ReadReport(device->fd.Get(), device->cancel.Get(), device->prependZero,
                                     buf, length, timeoutMs);
    }

    void CancelAll(Handle handle) override {
        if (const Device* device = FindDevice(handle)) {
            linux_hid::CancelRead(device->cancel.Get());
        }
    }

    void Close(Handle handle) override {
        std::unique_ptr<LinuxHandle> owned;
        {
            std::lock_guard<std::mutex> lock(mtx);
            if (live.erase(handle) == 0) {
                return;  // never ours, or closed already: nothing to free twice
            }
            owned.reset(static_cast<LinuxHandle*>(handle));
        }
        // The descriptors close here, outside the lock.
    }

    bool SetInputQueueDepth(Handle handle, uint32_t wanted, uint32_t& granted) override {
        // hidraw's queue per open file is fixed in the kernel (64 reports);
        // there is no call to make it deeper, so nothing is refused.
        const bool open = FindDevice(handle) != nullptr;
        granted = open ? wanted : 0;
        return open;
    }

  private:
    // What the kernel says wins over sysfs: HIDIOCGRAWINFO names the HID
    // device itself. sysfs fills in the rest, and the identity of nodes
    // whose ioctls are not served (emulated ones).
    static void FillIdentity(Device& device, const linux_hid::HidrawFacts& facts) {
        uint16_t vid = 0;
        uint16_t pid = 0;
        if (linux_hid::RawInfo(device.fd.Get(), vid, pid)) {
            device.haveAttributes = true;
        } else if (facts.vendorId && facts.productId) {
            vid = *facts.vendorId;
            pid = *facts.productId;
            device.haveAttributes = true;
        }
        device.attributes = {vid, pid, facts.version.value_or(0)};
        if (facts.serial) {
            device.serial = linux_hid::SerialText(*facts.serial);
            device.haveSerial = true;
        }
    }

    Handle Register(std::unique_ptr<LinuxHandle> handle) {
        std::lock_guard<std::mutex> lock(mtx);
        LinuxHandle* raw = handle.release();
        live.insert(raw);
        return raw;
    }

    bool IsLive(Handle handle) {
        std::lock_guard<std::mutex> lock(mtx);
        return live.count(handle) != 0;
    }

    // The device behind a handle; null for anything else. The pointer stays
    // good after the lock: only Close frees it, and callers never close a
    // handle that another thread still uses (ReaderDevice sees to that).
    Device* FindDevice(Handle handle) {
        std::lock_guard<std::mutex> lock(mtx);
        if (live.count(handle) == 0) {
            return nullptr;
        }
        return dynamic_cast<Device*>(static_cast<LinuxHandle*>(handle));
    }

    std::mutex mtx;  // guards `live`; never held across I/O
    std::unordered_set<Handle> live;
};

}  // namespace

HidHost& PlatformHidHost() {
    static LinuxHidHost host;
    return host;
}

}  // namespace brisk
