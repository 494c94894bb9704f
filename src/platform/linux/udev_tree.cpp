#include "platform/linux/udev_tree.h"

#include <libudev.h>

#include <cstring>
#include <memory>
#include <string_view>

#include "platform/linux/sysfs_ids.h"

namespace brisk::linux_hid {
namespace {

// More distinct devices than any bench sees in a run: past this, a node
// cannot be named, and the call that wanted one fails.
constexpr size_t kMaxNodes = 1 << 16;

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

bool Is(const char* value, const char* wanted) {
    return value != nullptr && std::strcmp(value, wanted) == 0;
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

// Vendor and product of a usb_device, with the interface number of
// `usbInterface` when there is one.
std::optional<UsbIdentity> IdentityOf(udev_device* usbDevice, udev_device* usbInterface) {
    const auto vid = ParseHex16(Attr(usbDevice, "idVendor"));
    const auto pid = ParseHex16(Attr(usbDevice, "idProduct"));
    if (!vid || !pid) {
        return std::nullopt;
    }
    UsbIdentity identity{*vid, *pid, std::nullopt};
    if (usbInterface != nullptr) {
        identity.interfaceNumber = ParseInterfaceNumber(Attr(usbInterface, "bInterfaceNumber"));
    }
    return identity;
}

// The USB identity of a HID or hidraw device, from the USB nodes above it.
std::optional<UsbIdentity> IdentityAbove(udev_device* d) {
    return IdentityOf(UsbDeviceAbove(d), UsbInterfaceAbove(d));
}

// The Windows-shaped ID of any node; empty when it has none.
std::wstring IdOf(udev_device* d) {
    const char* subsystem = udev_device_get_subsystem(d);
    const char* devtype = udev_device_get_devtype(d);
    const std::string_view sysname = Text(udev_device_get_sysname(d));
    std::optional<UsbIdentity> identity;
    std::wstring bus;
    std::wstring instance = InstanceOf({}, sysname);
    if (Is(subsystem, "usb") && Is(devtype, "usb_device")) {
        identity = IdentityOf(d, nullptr);
        bus = L"USB";
        instance = InstanceOf(Attr(d, "serial"), sysname);
    } else if (Is(subsystem, "usb") && Is(devtype, "usb_interface")) {
        identity = IdentityOf(UsbDeviceAbove(d), d);
        bus = L"USB";
    } else if (Is(subsystem, "hid") || Is(subsystem, "hidraw")) {
        identity = IdentityAbove(d);
        bus = Is(subsystem, "hid") ? L"HID" : L"HIDRAW";
    }
    if (!identity || instance.empty()) {
        return GenericIdOf(Text(subsystem), sysname);
    }
    return DeviceIdOf(bus, identity->vendorId, identity->productId, identity->interfaceNumber,
                      instance);
}

Device DeviceAt(udev* u, const std::string& syspath) {
    return Device(udev_device_new_from_syspath(u, syspath.c_str()));
}

}  // namespace

DevNode UdevTree::Intern(const char* syspath) {
    if (syspath == nullptr || *syspath == '\0') {
        return 0;
    }
    std::lock_guard<std::mutex> lock(mtx);
    const auto found = nodes.find(syspath);
    if (found != nodes.end()) {
        return found->second;
    }
    if (syspaths.size() >= kMaxNodes) {
        return 0;
    }
    syspaths.emplace_back(syspath);
    const auto node = static_cast<DevNode>(syspaths.size());
    nodes.emplace(syspaths.back(), node);
    return node;
}

bool UdevTree::SyspathOf(DevNode node, std::string& syspath) {
    std::lock_guard<std::mutex> lock(mtx);
    if (node == 0 || node > syspaths.size()) {
        return false;
    }
    syspath = syspaths[node - 1];
    return true;
}

bool UdevTree::ListHidInterfaces(std::vector<HidInterface>& out) {
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
        const std::wstring path =
            InterfacePathOf(IdentityAbove(raw.get()), Text(udev_device_get_devnode(raw.get())));
        // The HID device is the interface's node, as the HID collection is on
        // Windows: its parents lead to the USB interface and device.
        udev_device* hid = udev_device_get_parent_with_subsystem_devtype(raw.get(), "hid", nullptr);
        const DevNode node = Intern(udev_device_get_syspath(hid != nullptr ? hid : raw.get()));
        if (!path.empty() && node != 0) {
            out.push_back({path, node});
        }
    }
    return true;
}

bool UdevTree::ListDeviceNodes(const std::wstring& enumerator, std::vector<DevNode>& out) {
    out.clear();
    Udev u(udev_new());
    Enumerate e(u ? udev_enumerate_new(u.get()) : nullptr);
    if (!e || udev_enumerate_add_match_subsystem(e.get(), "usb") < 0 ||
        udev_enumerate_add_match_subsystem(e.get(), "hid") < 0 ||
        udev_enumerate_scan_devices(e.get()) < 0) {
        return false;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e.get())) {
        Device d(udev_device_new_from_syspath(u.get(), udev_list_entry_get_name(entry)));
        if (!d || !IdUnderEnumerator(IdOf(d.get()), enumerator)) {
            continue;
        }
        const DevNode node = Intern(udev_device_get_syspath(d.get()));
        if (node != 0) {
            out.push_back(node);
        }
    }
    return true;
}

bool UdevTree::ParentNode(DevNode node, DevNode& parent) {
    std::string syspath;
    Udev u(udev_new());
    if (!u || !SyspathOf(node, syspath)) {
        return false;
    }
    Device d = DeviceAt(u.get(), syspath);
    udev_device* up = d ? udev_device_get_parent(d.get()) : nullptr;
    if (up == nullptr) {
        return false;
    }
    const DevNode found = Intern(udev_device_get_syspath(up));
    if (found == 0) {
        return false;
    }
    parent = found;
    return true;
}

bool UdevTree::DeviceId(DevNode node, std::wstring& id) {
    id.clear();
    std::string syspath;
    Udev u(udev_new());
    if (!u || !SyspathOf(node, syspath)) {
        return false;
    }
    Device d = DeviceAt(u.get(), syspath);
    if (!d) {
        return false;
    }
    id = IdOf(d.get());
    return !id.empty();
}

bool UdevTree::LocationPath(DevNode node, std::wstring& path) {
    path.clear();
    std::string syspath;
    Udev u(udev_new());
    if (!u || !SyspathOf(node, syspath)) {
        return false;
    }
    Device d = DeviceAt(u.get(), syspath);
    if (!d || !Is(udev_device_get_subsystem(d.get()), "usb") ||
        !Is(udev_device_get_devtype(d.get()), "usb_device")) {
        return false;
    }
    const auto place = ParseUsbDeviceName(Text(udev_device_get_sysname(d.get())));
    if (!place) {
        return false;
    }
    path = LocationPathOf(*place);
    return true;
}

bool UdevTree::FactsOfDevnode(const std::string& devnode, HidrawFacts& out) {
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
    if (const auto identity = IdentityAbove(raw.get())) {
        out.vendorId = identity->vendorId;
        out.productId = identity->productId;
    }
    out.version = ParseHex16(Attr(usb, "bcdDevice"));
    if (const char* serial =
            usb != nullptr ? udev_device_get_sysattr_value(usb, "serial") : nullptr) {
        out.serial = std::string(serial);
    }
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(raw.get(), "hid", nullptr);
    if (const char* hidPath = hid != nullptr ? udev_device_get_syspath(hid) : nullptr) {
        out.descriptorFile = std::string(hidPath) + "/report_descriptor";
    }
    return true;
}

}  // namespace brisk::linux_hid
