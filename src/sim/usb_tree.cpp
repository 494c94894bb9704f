// The virtual USB bus's device tree. Instance IDs are made up the way
// Windows makes them up, so discovery sees what it would see on a real host.
#include "sim/usb_tree.h"

#include <algorithm>
#include <iterator>

namespace brisk::sim {
namespace {

// DEVPKEY_Device_LocationPaths is read into 1024 bytes (a REG_MULTI_SZ).
constexpr size_t kLocationPropertyBytes = 1024;
constexpr wchar_t kHidClassGuid[] = L"{4d1e55b2-f16f-11cf-88cb-001111000030}";
constexpr wchar_t kUsbStep[] = L"#USB(";
constexpr wchar_t kRootStep[] = L"#USBROOT(";

wchar_t FoldLower(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c;
}

bool StartsWithNoCase(const std::wstring& s, const std::wstring& prefix) {
    if (s.size() < prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (FoldLower(s[i]) != FoldLower(prefix[i])) {
            return false;
        }
    }
    return true;
}

std::wstring Hex(uint32_t value, int digits, bool upper) {
    const wchar_t* set = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
    std::wstring s(size_t(digits), L'0');
    for (int i = digits - 1; i >= 0; --i) {
        s[size_t(i)] = set[value & 0xF];
        value >>= 4;
    }
    return s;
}

// FNV-1a: stands in for the hash Windows puts into made-up instance IDs, so
// they look alike and stay the same for the same device at the same place.
uint32_t Fnv(const std::wstring& s, uint32_t salt) {
    uint32_t h = 2166136261u ^ salt;
    for (wchar_t c : s) {
        h = (h ^ uint32_t(c)) * 16777619u;
    }
    return h;
}

// "<generation>&<hash>&0&<tail>", as Windows makes up for devices that have
// no serial number and for child nodes.
std::wstring MadeUpInstance(int generation, uint32_t hash, const std::wstring& tail) {
    return std::to_wstring(generation) + L"&" + Hex(hash, 8, false) + L"&0&" + tail;
}

// A serial serves as instance part only when it is plain text, as on Windows.
bool UsableAsInstance(const std::wstring& serial) {
    if (serial.empty() || serial.size() > 64) {
        return false;
    }
    return std::all_of(serial.begin(), serial.end(), [](wchar_t c) {
        return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') ||
               c == L'-' || c == L'_' || c == L'.';
    });
}

// The number of the last port step, "…#USB(3)" -> 3; 0 when there is none.
uint32_t LastPort(const std::wstring& locationPath) {
    size_t at = locationPath.rfind(kUsbStep);
    if (at == std::wstring::npos) {
        return 0;
    }
    uint32_t port = 0;
    for (size_t i = at + std::size(kUsbStep) - 1; i < locationPath.size(); ++i) {
        wchar_t c = locationPath[i];
        if (c < L'0' || c > L'9') {
            break;
        }
        port = port * 10 + uint32_t(c - L'0');
    }
    return port;
}

std::wstring CutLastUsbStep(const std::wstring& locationPath) {
    size_t at = locationPath.rfind(kUsbStep);
    return at == std::wstring::npos ? locationPath : locationPath.substr(0, at);
}

std::wstring VidPid(const UsbDeviceDesc& d) {
    return L"VID_" + Hex(d.vendorId, 4, true) + L"&PID_" + Hex(d.productId, 4, true);
}

std::wstring Mi(size_t number) {
    return L"&MI_" + Hex(uint32_t(number), 2, true);
}

}  // namespace

std::wstring FoldCase(std::wstring s) {
    for (auto& c : s) {
        c = FoldLower(c);
    }
    return s;
}

UsbDeviceId UsbTree::Add(UsbDeviceDesc desc) {
    const UsbDeviceId index = UsbDeviceId(devices.size());
    Device d;
    d.desc = std::move(desc);
    BuildNodes(d, index);
    devices.push_back(std::move(d));
    return index;
}

bool UsbTree::SetPresent(UsbDeviceId device, bool present) {
    if (device < 0 || size_t(device) >= devices.size()) {
        return false;
    }
    devices[size_t(device)].present = present;
    return true;
}

bool UsbTree::Present(UsbDeviceId device) const {
    return devices[size_t(device)].present;
}

const UsbDeviceDesc& UsbTree::Desc(UsbDeviceId device) const {
    return devices[size_t(device)].desc;
}

HidInterfaceModel* UsbTree::Model(UsbDeviceId device, size_t iface) const {
    return devices[size_t(device)].desc.interfaces[iface].get();
}

bool UsbTree::FindHidPath(const std::wstring& path, UsbDeviceId& device, size_t& iface) const {
    const std::wstring lower = FoldCase(path);
    for (size_t di = 0; di < devices.size(); ++di) {
        const Device& d = devices[di];
        auto it = std::find(d.hidPaths.begin(), d.hidPaths.end(), lower);
        if (d.present && it != d.hidPaths.end()) {
            device = UsbDeviceId(di);
            iface = size_t(it - d.hidPaths.begin());
            return true;
        }
    }
    return false;
}

DevNode UsbTree::AddNode(std::wstring id, std::wstring locationPath, DevNode parent,
                         UsbDeviceId device) {
    nodes.push_back(Node{std::move(id), std::move(locationPath), parent, device});
    return DevNode(nodes.size());
}

const UsbTree::Node* UsbTree::FindNode(DevNode n) const {
    if (n == 0 || n > nodes.size()) {
        return nullptr;
    }
    const Node& node = nodes[n - 1];
    if (node.device >= 0 && !devices[size_t(node.device)].present) {
        return nullptr;
    }
    return &node;
}

// The PCI host controller a root hub hangs on, below the tree's root.
DevNode UsbTree::Controller(const std::wstring& rootHubPath) {
    size_t at = rootHubPath.rfind(kRootStep);
    std::wstring path = at == std::wstring::npos ? rootHubPath : rootHubPath.substr(0, at);
    auto it = controllersByPath.find(path);
    if (it != controllersByPath.end()) {
        return it->second;
    }
    if (treeRoot == 0) {
        treeRoot = AddNode(L"HTREE\\ROOT\\0", L"", 0, -1);
    }
    std::wstring id =
        L"PCI\\VEN_8086&DEV_A36D&SUBSYS_00000000&REV_10\\" + MadeUpInstance(3, Fnv(path, 3), L"A0");
    DevNode n = AddNode(id, path, treeRoot, -1);
    controllersByPath[path] = n;
    return n;
}

// The hub node at a location path, created with its parents on first use.
// Paths with no port step left are root hubs.
DevNode UsbTree::Hub(const std::wstring& path) {
    auto it = hubsByPath.find(path);
    if (it != hubsByPath.end()) {
        return it->second;
    }
    DevNode n;
    if (path.find(kUsbStep) == std::wstring::npos) {
        DevNode parent = Controller(path);
        n = AddNode(L"USB\\ROOT_HUB30\\" + MadeUpInstance(4, Fnv(path, 4), L"0"), path, parent, -1);
    } else {
        DevNode parent = Hub(CutLastUsbStep(path));
        std::wstring tail = std::to_wstring(LastPort(path));
        n = AddNode(L"USB\\VID_05E3&PID_0610\\" + MadeUpInstance(5, Fnv(path, 5), tail), path,
                    parent, -1);
    }
    hubsByPath[path] = n;
    return n;
}

void UsbTree::BuildNodes(Device& d, UsbDeviceId index) {
    const UsbDeviceDesc& desc = d.desc;
    const std::wstring& lp = desc.locationPath;
    std::wstring hubPath = lp.find(kUsbStep) == std::wstring::npos ? L"" : CutLastUsbStep(lp);
    DevNode hub = Hub(hubPath);
    uint32_t hash = Fnv(VidPid(desc) + desc.serial + lp, uint32_t(index));
    std::wstring instance = UsableAsInstance(desc.serial)
                                ? desc.serial
                                : MadeUpInstance(6, hash, std::to_wstring(LastPort(lp)));
    d.usbNode = AddNode(L"USB\\" + VidPid(desc) + L"\\" + instance, lp, hub, index);
    for (size_t i = 0; i < desc.interfaces.size(); ++i) {
        std::wstring number = Hex(uint32_t(i), 4, true);
        std::wstring ifaceLp = lp.empty() ? L"" : lp + L"#USBMI(" + std::to_wstring(i) + L")";
        DevNode iface = AddNode(L"USB\\" + VidPid(desc) + Mi(i) + L"\\" +
                                    MadeUpInstance(7, Fnv(instance, uint32_t(7 + i)), number),
                                ifaceLp, d.usbNode, index);
        std::wstring hidId = L"HID\\" + VidPid(desc) + Mi(i) + L"\\" +
                             MadeUpInstance(8, Fnv(instance, uint32_t(0x80 + i)), L"0000");
        // HID nodes carry no location path of their own.
        d.hidNodes.push_back(AddNode(hidId, L"", iface, index));
        std::wstring path = hidId;
        std::replace(path.begin(), path.end(), L'\\', L'#');
        d.hidPaths.push_back(L"\\\\?\\" + FoldCase(path) + L"#" + kHidClassGuid);
    }
}

void UsbTree::ListHidInterfaces(std::vector<HidInterface>& out) const {
    out.clear();
    for (const Device& d : devices) {
        if (!d.present) {
            continue;
        }
        std::vector<size_t> order = d.desc.listOrder;
        if (order.empty()) {
            for (size_t i = 0; i < d.hidPaths.size(); ++i) {
                order.push_back(i);
            }
        }
        for (size_t i : order) {
            if (i < d.hidPaths.size()) {
                out.push_back(HidInterface{d.hidPaths[i], d.hidNodes[i]});
            }
        }
    }
}

void UsbTree::ListDeviceNodes(const std::wstring& enumerator, std::vector<DevNode>& out) const {
    out.clear();
    for (DevNode n = 1; n <= nodes.size(); ++n) {
        const Node* node = FindNode(n);
        if (node == nullptr || !StartsWithNoCase(node->id, enumerator)) {
            continue;
        }
        // "USB\VID_35BD&PID_0101" takes its device and interface nodes, not a
        // product ID that merely begins the same way.
        wchar_t next = node->id.size() > enumerator.size() ? node->id[enumerator.size()] : L'\0';
        if (next == L'\0' || next == L'\\' || next == L'&' || enumerator.empty() ||
            enumerator.back() == L'\\') {
            out.push_back(n);
        }
    }
}

bool UsbTree::ParentNode(DevNode node, DevNode& parent) const {
    const Node* n = FindNode(node);
    if (n == nullptr || n->parent == 0) {
        return false;
    }
    parent = n->parent;
    return true;
}

bool UsbTree::DeviceId(DevNode node, std::wstring& id) const {
    const Node* n = FindNode(node);
    if (n == nullptr) {
        return false;
    }
    id = n->id;
    return true;
}

bool UsbTree::LocationPath(DevNode node, std::wstring& path) const {
    const Node* n = FindNode(node);
    // The property is a list: the path, its terminator and the list's own.
    if (n == nullptr || n->locationPath.empty() ||
        (n->locationPath.size() + 2) * sizeof(uint16_t) > kLocationPropertyBytes) {
        return false;
    }
    path = n->locationPath;
    return true;
}

}  // namespace brisk::sim
