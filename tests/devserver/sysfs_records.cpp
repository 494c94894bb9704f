#include "devserver/sysfs_records.h"

#include <cstdio>

namespace brisk::devserver {

namespace {

std::string Hex(unsigned value, int digits, bool upper = false) {
    char buf[16];
    std::snprintf(buf, sizeof buf, upper ? "%0*X" : "%0*x", digits, value);
    return buf;
}

std::string Dec(unsigned value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*u", digits, value);
    return buf;
}

// umockdev's A: lines take backslash escapes for backslashes and newlines.
std::string Escaped(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string ControllerPath(const std::string& controller) {
    // "0000:00:14.0" hangs off the PCI root "pci0000:00".
    return "/devices/pci" + controller.substr(0, 7) + "/" + controller;
}

std::string UsbDevicePath(const std::string& controller, int bus, const std::vector<int>& ports) {
    std::string path = ControllerPath(controller) + "/" + UsbDeviceName(bus, {});
    for (size_t n = 1; n <= ports.size(); ++n) {
        path += "/" + UsbDeviceName(bus, std::vector<int>(ports.begin(), ports.begin() + long(n)));
    }
    return path;
}

std::string DevPath(const std::vector<int>& ports) {
    std::string s;
    for (size_t i = 0; i < ports.size(); ++i) {
        s += (i ? "." : "") + std::to_string(ports[i]);
    }
    return s.empty() ? "0" : s;
}

Record UsbDeviceLike(const std::string& controller, int bus, const std::vector<int>& ports,
                     uint16_t vid, uint16_t pid, uint16_t version, int devnum,
                     const std::string& deviceClass, const std::string& extra) {
    Record r;
    r.sysPath = "/sys" + UsbDevicePath(controller, bus, ports);
    std::string product = Hex(vid, 1) + "/" + Hex(pid, 1) + "/" + Hex(version, 1);
    r.text =
        "P: " + r.sysPath.substr(4) + "\n" +
        "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n"
        "E: PRODUCT=" +
        product + "\nE: TYPE=" + deviceClass + "/0/0\n" + "E: BUSNUM=" + Dec(unsigned(bus), 3) +
        "\nE: DEVNUM=" + Dec(unsigned(devnum), 3) + "\n" + "A: idVendor=" + Hex(vid, 4) +
        "\nA: idProduct=" + Hex(pid, 4) + "\n" + "A: bcdDevice=" + Hex(version, 4) +
        "\nA: bDeviceClass=" + Hex(unsigned(std::stoi(deviceClass)), 2) +
        "\nA: busnum=" + std::to_string(bus) + "\nA: devnum=" + std::to_string(devnum) +
        "\nA: devpath=" + DevPath(ports) + "\nA: speed=480\nA: bConfigurationValue=1\n" + extra;
    return r;
}

}  // namespace

bool PlaceOfPort(const PortKey& port, UsbPlace& out) {
    // "0000:00:14.0": domain, bus, device, function.
    const std::wstring shape = L"hhhh:hh:hh.h";
    if (port.root.size() != shape.size()) {
        return false;
    }
    UsbPlace p;
    for (size_t i = 0; i < shape.size(); ++i) {
        const wchar_t c = port.root[i];
        const bool hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
        if (shape[i] == L'h' ? !hex : c != shape[i]) {
            return false;
        }
        p.controller += char(c);
    }
    for (unsigned number : port.ports) {
        if (number == 0 || number > 255) {
            return false;
        }
        p.ports.push_back(int(number));
    }
    out = std::move(p);
    return true;
}

std::string UsbDeviceName(int bus, const std::vector<int>& ports) {
    if (ports.empty()) {
        return "usb" + std::to_string(bus);
    }
    return std::to_string(bus) + "-" + DevPath(ports);
}

Record RootHubRecord(const std::string& controller, int bus) {
    return UsbDeviceLike(controller, bus, {}, 0x1d6b, 0x0002, 0x0601, 1, "9", "A: maxchild=4\n");
}

Record HubRecord(const std::string& controller, int bus, const std::vector<int>& ports) {
    return UsbDeviceLike(controller, bus, ports, 0x05e3, 0x0610, 0x0100, int(ports.size()) + 1, "9",
                         "A: maxchild=4\n");
}

Record UsbDeviceRecord(const UsbFunction& f) {
    std::string extra = "A: bNumInterfaces=" + std::to_string(f.interfaceCount) + "\n" +
                        "A: manufacturer=" + Escaped(f.manufacturer) + "\n" +
                        "A: product=" + Escaped(f.product) + "\nA: maxchild=0\n";
    if (!f.serial.empty()) {
        extra += "A: serial=" + Escaped(f.serial) + "\n";
    }
    return UsbDeviceLike(f.controller, f.bus, f.ports, f.vendorId, f.productId, f.version, f.devnum,
                         "0", extra);
}

std::string HidPhys(const UsbFunction& f, size_t iface) {
    return "usb-" + f.controller + "-" + DevPath(f.ports) + "/input" + std::to_string(iface);
}

std::vector<Record> HidInterfaceRecords(const UsbFunction& f, const HidInterfaceRecordArgs& a) {
    std::vector<Record> out;
    std::string device = UsbDevicePath(f.controller, f.bus, f.ports);
    std::string product = Hex(f.vendorId, 1) + "/" + Hex(f.productId, 1) + "/" + Hex(f.version, 1);

    Record iface;
    std::string ifaceName = UsbDeviceName(f.bus, f.ports) + ":1." + std::to_string(a.iface);
    iface.sysPath = "/sys" + device + "/" + ifaceName;
    iface.text = "P: " + iface.sysPath.substr(4) + "\n" +
                 "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=usbhid\n"
                 "E: PRODUCT=" +
                 product + "\nE: TYPE=0/0/0\nE: INTERFACE=3/0/0\n" +
                 "A: bInterfaceNumber=" + Hex(unsigned(a.iface), 2) + "\n" +
                 "A: bAlternateSetting= 0\nA: bInterfaceClass=03\nA: bInterfaceSubClass=00\n"
                 "A: bInterfaceProtocol=00\nA: bNumEndpoints=02\n";
    out.push_back(iface);

    Record hid;
    std::string vid = Hex(f.vendorId, 4, true), pid = Hex(f.productId, 4, true);
    hid.sysPath = iface.sysPath + "/0003:" + vid + ":" + pid + "." + Hex(a.hidSequence, 4, true);
    std::string hexDescriptor;
    for (uint8_t b : a.descriptor) {
        hexDescriptor += Hex(b, 2, true);
    }
    hid.text = "P: " + hid.sysPath.substr(4) + "\n" +
               "E: SUBSYSTEM=hid\nE: DRIVER=hid-generic\n"
               "E: HID_ID=0003:0000" +
               vid + ":0000" + pid + "\n" + "E: HID_NAME=" + f.manufacturer + " " + f.product +
               "\n" + "E: HID_PHYS=" + HidPhys(f, a.iface) + "\n" + "E: HID_UNIQ=" + f.serial +
               "\n" + "E: MODALIAS=hid:b0003g0001v0000" + vid + "p0000" + pid + "\n" +
               "H: report_descriptor=" + hexDescriptor + "\n";
    out.push_back(hid);

    Record raw;
    std::string name = "hidraw" + std::to_string(a.hidraw);
    raw.sysPath = hid.sysPath + "/hidraw/" + name;
    std::string majmin = std::to_string(kHidrawMajor) + ":" + std::to_string(a.hidraw);
    raw.text = "P: " + raw.sysPath.substr(4) + "\n" + "E: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/" +
               name + "\n" + "E: MAJOR=" + std::to_string(kHidrawMajor) +
               "\nE: MINOR=" + std::to_string(a.hidraw) + "\nA: dev=" + majmin + "\n" +
               // Readers of /sys/class/hidraw/hidrawN/device/uevent find the hid node.
               "L: device=../../../" + hid.sysPath.substr(hid.sysPath.rfind('/') + 1) + "\n";
    out.push_back(raw);
    return out;
}

}  // namespace brisk::devserver
