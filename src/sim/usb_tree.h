// The device tree of the virtual USB bus: device nodes with Windows-style
// instance IDs and location paths, the hubs and host controllers above them,
// the HID interface paths, and the enumeration HidHost offers over all that.
//
// Plain data without a lock of its own: UsbBus owns one and calls it with the
// bus's lock held. Devices are numbered in the order they were added and stay
// in the tree when unplugged; an absent device's nodes and paths are hidden.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "platform/hid.h"
#include "sim/usb_bus.h"

namespace brisk::sim {

// ASCII lower case: paths are compared without regard to it, as on Windows.
std::wstring FoldCase(std::wstring s);

class UsbTree {
  public:
    // Adds a device node, one interface node and one HID node per interface,
    // and the hubs and controller above them on first use. Returns its number.
    UsbDeviceId Add(UsbDeviceDesc desc);
    // False for a number that was never handed out.
    bool SetPresent(UsbDeviceId device, bool present);
    bool Present(UsbDeviceId device) const;
    const UsbDeviceDesc& Desc(UsbDeviceId device) const;
    // The model behind one of a device's interfaces; null for a dead one.
    HidInterfaceModel* Model(UsbDeviceId device, size_t iface) const;
    // The present device and interface whose HID path is `path` (any case).
    bool FindHidPath(const std::wstring& path, UsbDeviceId& device, size_t& iface) const;

    // ---- enumeration, with HidHost's meaning ----
    void ListHidInterfaces(std::vector<HidInterface>& out) const;
    void ListDeviceNodes(const std::wstring& enumerator, std::vector<DevNode>& out) const;
    bool ParentNode(DevNode node, DevNode& parent) const;
    bool DeviceId(DevNode node, std::wstring& id) const;
    bool LocationPath(DevNode node, std::wstring& path) const;

  private:
    struct Node {
        std::wstring id;
        std::wstring locationPath;  // empty: the node has no such property
        DevNode parent = 0;         // 0: top of the tree
        UsbDeviceId device = -1;    // owning device; -1: hubs and above, always present
    };
    struct Device {
        UsbDeviceDesc desc;
        bool present = true;
        DevNode usbNode = 0;
        std::vector<DevNode> hidNodes;       // by interface number
        std::vector<std::wstring> hidPaths;  // by interface number, lower case
    };

    DevNode AddNode(std::wstring id, std::wstring locationPath, DevNode parent, UsbDeviceId device);
    const Node* FindNode(DevNode n) const;  // null when absent
    DevNode Controller(const std::wstring& rootHubPath);
    DevNode Hub(const std::wstring& path);
    void BuildNodes(Device& d, UsbDeviceId index);

    std::vector<Node> nodes;  // DevNode n is nodes[n - 1]
    std::vector<Device> devices;
    std::map<std::wstring, DevNode> hubsByPath;
    std::map<std::wstring, DevNode> controllersByPath;
    DevNode treeRoot = 0;
};

}  // namespace brisk::sim
