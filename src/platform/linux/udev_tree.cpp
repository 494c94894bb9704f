#include "platform/linux/udev_tree.h"

#include <libudev.h>

#include <memory>
#include <string_view>

#include "platform/linux/hidraw_io.h"
#include "platform/linux/sysfs_ids.h"

namespace brisk::linux_hid {
namespace {

struct UdevUnref {
    void operator()(udev* u) const { udev_unref(u); }
};
struct DeviceUnref {
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
struct EnumerateUnref {
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
};
using Udev = std::unique_ptr<udev, UdevUnref>;
using Device = std::unique_ptr<udev_device, DeviceUnref>;
using Enumerate = std::unique_ptr<udev_enumerate, EnumerateUnref>;

std::string_view Text(const char* s) {
    return s == nullptr ? std::string_view() : std::string_view(s);
}

std::string_view Attr(udev_device* d, const char* name) {
    return d == nullptr ? std::string_view() : Text(udev_device_get_sysattr_value(d, name));
}

// Ancestors are borrowed: they live as long as `d`. libudev starts the
// search at the parent, never at `d` itself.
udev_device* UsbDeviceAbove(udev_device* d) {
    return udev_device_get_parent_with_subsystem_devtype(d, "usb", "usb_device");
}

udev_device* UsbInterfaceAbove(udev_device* d) {
    return udev_device_get_parent_with_subsystem_devtype(d, "usb", "usb_interface");
}

// The HID device's report_descriptor in sysfs; empty when there is no HID
// device above the node.
std::string DescriptorFileAbove(udev_device* raw) {
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(raw, "hid", nullptr);
    const char* hidPath = hid != nullptr ? udev_device_get_syspath(hid) : nullptr;
    return hidPath != nullptr ? std::string(hidPath) + "/report_descriptor" : std::string();
}

// Vendor and product of the USB device above a hidraw node, when it has both.
bool UsbIdsAbove(udev_device* raw, uint16_t& vendorId, uint16_t& productId) {
    udev_device* usb = UsbDeviceAbove(raw);
    const auto vid = ParseHex16(Attr(usb, "idVendor"));
    const auto pid = ParseHex16(Attr(usb, "idProduct"));
    if (!vid || !pid) {
        return false;
    }
    vendorId = *vid;
    productId = *pid;
    return true;
}

// The record of one hidraw node; its path stays empty when the node has none
// that can be opened.
HidDeviceInfo Describe(udev_device* raw) {
    HidDeviceInfo info;
    info.path = PathOfDevnode(Text(udev_device_get_devnode(raw)));
    udev_device* usb = UsbDeviceAbove(raw);
    if (!UsbIdsAbove(raw, info.vendorId, info.productId)) {
        return info;  // not on USB: nothing above it is ours to read
    }
    if (const auto number =
            ParseInterfaceNumber(Attr(UsbInterfaceAbove(raw), "bInterfaceNumber"))) {
        info.interfaceNumber = *number;
    }
    info.serial = SerialText(Attr(usb, "serial"));
    info.port = ParseUsbPort(Attr(usb, "busnum"), Attr(usb, "devpath"));
    info.inputReportIds = InputReportIdsOfNode(std::string(Text(udev_device_get_devnode(raw))),
                                               DescriptorFileAbove(raw));
    return info;
}

}  // namespace

bool ListHidrawDevices(std::vector<HidDeviceInfo>& out) {
    out.clear();
    Udev u(udev_new());
    Enumerate e(u ? udev_enumerate_new(u.get()) : nullptr);
    if (!e || udev_enumerate_add_match_subsystem(e.get(), "hidraw") < 0 ||
        udev_enumerate_scan_devices(e.get()) < 0) {
        return false;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e.get())) {
        Device raw(udev_device_new_from_syspath(u.get(), udev_list_entry_get_name(entry)));
        if (!raw) {
            continue;  // gone since the scan
        }
        HidDeviceInfo info = Describe(raw.get());
        if (!info.path.empty()) {
            out.push_back(std::move(info));
        }
    }
    return true;
}

bool FactsOfDevnode(const std::string& devnode, HidrawFacts& out) {
    out = HidrawFacts{};
    const size_t slash = devnode.rfind('/');
    const std::string sysname = slash == std::string::npos ? devnode : devnode.substr(slash + 1);
    Udev u(udev_new());
    Device raw(u && !sysname.empty()
                   ? udev_device_new_from_subsystem_sysname(u.get(), "hidraw", sysname.c_str())
                   : nullptr);
    // The name alone could meet another node of that name; the node must match.
    if (!raw || Text(udev_device_get_devnode(raw.get())) != devnode) {
        return false;
    }
    udev_device* usb = UsbDeviceAbove(raw.get());
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    if (UsbIdsAbove(raw.get(), vendorId, productId)) {
        out.vendorId = vendorId;
        out.productId = productId;
    }
    out.version = ParseHex16(Attr(usb, "bcdDevice"));
    if (const char* serial =
            usb != nullptr ? udev_device_get_sysattr_value(usb, "serial") : nullptr) {
        out.serial = std::string(serial);
    }
    out.descriptorFile = DescriptorFileAbove(raw.get());
    return true;
}

}  // namespace brisk::linux_hid
