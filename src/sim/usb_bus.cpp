// The virtual USB bus. One mutex guards everything; readers sleep on one
// condition variable with the mutex released, and device models are only ever
// called with it held, so a model needs no locking against the bus.
#include "sim/usb_bus.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace brisk::sim {
namespace {

constexpr uint32_t kErrorInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
// The Windows HID class driver keeps 32 input reports per open handle.
constexpr size_t kRingSlots = 32;
// A model whose next report is overdue must not make a reader spin.
constexpr auto kMinNap = std::chrono::microseconds(200);
// DEVPKEY_Device_LocationPaths is read into 1024 bytes (a REG_MULTI_SZ).
constexpr size_t kLocationPropertyBytes = 1024;
constexpr wchar_t kHidClassGuid[] = L"{4d1e55b2-f16f-11cf-88cb-001111000030}";
constexpr wchar_t kUsbStep[] = L"#USB(";
constexpr wchar_t kRootStep[] = L"#USBROOT(";

wchar_t FoldLower(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c;
}

std::wstring Lower(std::wstring s) {
    for (auto& c : s) {
        c = FoldLower(c);
    }
    return s;
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

uintptr_t Token(Handle h) {
    return reinterpret_cast<uintptr_t>(h);
}

struct Node {
    std::wstring id;
    std::wstring locationPath;  // empty: the node has no such property
    DevNode parent = 0;         // 0: top of the tree
    int device = -1;            // owning device; -1: hubs and above, always present
};

// One open handle's queue of input reports; the oldest goes when it is full.
class ReportRing {
  public:
    void Push(const InputReport& r) {
        if (count == kRingSlots) {
            head = (head + 1) % kRingSlots;
            --count;
        }
        slots[(head + count) % kRingSlots] = r;
        ++count;
    }
    const InputReport* Front() const { return count ? &slots[head] : nullptr; }
    void PopFront() {
        head = (head + 1) % kRingSlots;
        --count;
    }
    void Clear() { head = count = 0; }

  private:
    std::array<InputReport, kRingSlots> slots{};
    size_t head = 0;
    size_t count = 0;
};

struct OpenDevice {
    int device = -1;
    size_t iface = 0;
    bool dead = false;     // its device was unplugged after the open
    uint64_t cancels = 0;  // CancelAll calls so far; a pending read notices a change
    ReportRing ring;
};

struct Device {
    UsbDeviceDesc desc;
    bool present = true;
    DevNode usbNode = 0;
    std::vector<DevNode> hidNodes;       // by interface number
    std::vector<std::wstring> hidPaths;  // by interface number, lower case
};

ReadResult Result(ReadOutcome outcome, uint32_t bytes, uint32_t error) {
    ReadResult r;
    r.outcome = outcome;
    r.bytes = bytes;
    r.error = error;
    return r;
}

}  // namespace

struct UsbBus::State {
    mutable std::mutex mtx;
    std::condition_variable cv;
    std::vector<Node> nodes;  // DevNode n is nodes[n - 1]
    std::vector<Device> devices;
    std::map<std::wstring, DevNode> hubsByPath;
    std::map<std::wstring, DevNode> controllersByPath;
    DevNode treeRoot = 0;
    std::unordered_map<uintptr_t, OpenDevice> handles;
    std::unordered_set<uintptr_t> events;
    uintptr_t nextToken = 0x100;
    size_t badCloses = 0;
    std::map<std::wstring, size_t> openAttempts;  // lower-cased path -> attempts
    std::vector<InputReport> produced;            // reused: no allocation per report
    Clock::time_point epoch = Clock::now();       // origin of the delivery grid
    Clock::duration tick = std::chrono::milliseconds(10);

    DevNode AddNode(std::wstring id, std::wstring locationPath, DevNode parent, int device) {
        nodes.push_back(Node{std::move(id), std::move(locationPath), parent, device});
        return DevNode(nodes.size());
    }

    const Node* FindNode(DevNode n) const {
        if (n == 0 || n > nodes.size()) {
            return nullptr;
        }
        const Node& node = nodes[n - 1];
        if (node.device >= 0 && !devices[size_t(node.device)].present) {
            return nullptr;
        }
        return &node;
    }

    Handle NewToken() {
        uintptr_t t = nextToken;
        nextToken += 4;  // like kernel handles: multiples of 4, never reused
        return reinterpret_cast<Handle>(t);
    }

    OpenDevice* FindOpen(Handle h) {
        auto it = handles.find(Token(h));
        return it == handles.end() ? nullptr : &it->second;
    }

    // The PCI host controller a root hub hangs on, below the tree's root.
    DevNode Controller(const std::wstring& rootHubPath) {
        size_t at = rootHubPath.rfind(kRootStep);
        std::wstring path = at == std::wstring::npos ? rootHubPath : rootHubPath.substr(0, at);
        auto it = controllersByPath.find(path);
        if (it != controllersByPath.end()) {
            return it->second;
        }
        if (treeRoot == 0) {
            treeRoot = AddNode(L"HTREE\\ROOT\\0", L"", 0, -1);
        }
        std::wstring id = L"PCI\\VEN_8086&DEV_A36D&SUBSYS_00000000&REV_10\\" +
                          MadeUpInstance(3, Fnv(path, 3), L"A0");
        DevNode n = AddNode(id, path, treeRoot, -1);
        controllersByPath[path] = n;
        return n;
    }

    // The hub node at a location path, created with its parents on first use.
    // Paths with no port step left are root hubs.
    DevNode Hub(const std::wstring& path) {
        auto it = hubsByPath.find(path);
        if (it != hubsByPath.end()) {
            return it->second;
        }
        DevNode n;
        if (path.find(kUsbStep) == std::wstring::npos) {
            DevNode parent = Controller(path);
            n = AddNode(L"USB\\ROOT_HUB30\\" + MadeUpInstance(4, Fnv(path, 4), L"0"), path, parent,
                        -1);
        } else {
            DevNode parent = Hub(CutLastUsbStep(path));
            std::wstring tail = std::to_wstring(LastPort(path));
            n = AddNode(L"USB\\VID_05E3&PID_0610\\" + MadeUpInstance(5, Fnv(path, 5), tail), path,
                        parent, -1);
        }
        hubsByPath[path] = n;
        return n;
    }

    void BuildNodes(Device& d, int index) {
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
            d.hidPaths.push_back(L"\\\\?\\" + Lower(path) + L"#" + kHidClassGuid);
        }
    }

    // Lets the interface's model produce what is due and hands a copy of each
    // report to every live handle of that interface.
    void Pump(int device, size_t iface, Clock::time_point now) {
        Device& d = devices[size_t(device)];
        HidInterfaceModel* model = d.desc.interfaces[iface].get();
        if (!d.present || model == nullptr) {
            return;
        }
        produced.clear();
        model->Produce(now, produced);
        if (produced.empty()) {
            return;
        }
        for (auto& [token, od] : handles) {
            if (od.device != device || od.iface != iface || od.dead) {
                continue;
            }
            for (const InputReport& r : produced) {
                od.ring.Push(r);
            }
        }
    }

    // When a reader with nothing queued should look again at the latest.
    Clock::time_point WakeTime(const OpenDevice& od, Clock::time_point now,
                               Clock::time_point deadline) const {
        const HidInterfaceModel* model = devices[size_t(od.device)].desc.interfaces[od.iface].get();
        if (model == nullptr) {
            return deadline;
        }
        Clock::time_point due = model->NextDue(now);
        if (due >= deadline) {
            return deadline;
        }
        if (due <= now) {
            return now + kMinNap;
        }
        if (tick.count() > 0) {
            auto steps = (due - epoch + tick - Clock::duration(1)) / tick;
            due = epoch + steps * tick;
        }
        return std::min(std::max(due, now + kMinNap), deadline);
    }

    // A live device handle, or null.
    OpenDevice* Live(Handle h) {
        OpenDevice* od = FindOpen(h);
        return (od != nullptr && !od->dead) ? od : nullptr;
    }
};

UsbBus::UsbBus() : st(std::make_unique<State>()) {}

UsbBus::~UsbBus() = default;

UsbDeviceId UsbBus::Attach(UsbDeviceDesc desc) {
    std::lock_guard<std::mutex> lock(st->mtx);
    int index = int(st->devices.size());
    Device d;
    d.desc = std::move(desc);
    st->BuildNodes(d, index);
    st->devices.push_back(std::move(d));
    return index;
}

void UsbBus::Unplug(UsbDeviceId device) {
    {
        std::lock_guard<std::mutex> lock(st->mtx);
        if (device < 0 || size_t(device) >= st->devices.size()) {
            return;
        }
        st->devices[size_t(device)].present = false;
        for (auto& [token, od] : st->handles) {
            if (od.device == device) {
                od.dead = true;
                od.ring.Clear();
            }
        }
    }
    st->cv.notify_all();
}

void UsbBus::Plug(UsbDeviceId device) {
    std::lock_guard<std::mutex> lock(st->mtx);
    if (device >= 0 && size_t(device) < st->devices.size()) {
        st->devices[size_t(device)].present = true;
    }
}

void UsbBus::Notify() {
    // Taking the lock orders this wake-up after any reader's look at the
    // models, so a reader about to sleep cannot miss it.
    { std::lock_guard<std::mutex> lock(st->mtx); }
    st->cv.notify_all();
}

void UsbBus::SetDeliveryTick(std::chrono::microseconds tick) {
    {
        std::lock_guard<std::mutex> lock(st->mtx);
        st->tick = std::max(tick, std::chrono::microseconds(0));
    }
    st->cv.notify_all();
}

size_t UsbBus::OpenHandles() const {
    std::lock_guard<std::mutex> lock(st->mtx);
    return st->handles.size();
}

size_t UsbBus::OpenEvents() const {
    std::lock_guard<std::mutex> lock(st->mtx);
    return st->events.size();
}

size_t UsbBus::BadCloses() const {
    std::lock_guard<std::mutex> lock(st->mtx);
    return st->badCloses;
}

size_t UsbBus::OpensOf(const std::wstring& pathFragment) const {
    std::wstring fragment = Lower(pathFragment);
    std::lock_guard<std::mutex> lock(st->mtx);
    size_t n = 0;
    for (const auto& [path, count] : st->openAttempts) {
        if (path.find(fragment) != std::wstring::npos) {
            n += count;
        }
    }
    return n;
}

bool UsbBus::ListHidInterfaces(std::vector<HidInterface>& out) {
    out.clear();
    std::lock_guard<std::mutex> lock(st->mtx);
    for (const Device& d : st->devices) {
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
    return true;
}

bool UsbBus::ListDeviceNodes(const std::wstring& enumerator, std::vector<DevNode>& out) {
    out.clear();
    std::lock_guard<std::mutex> lock(st->mtx);
    for (DevNode n = 1; n <= st->nodes.size(); ++n) {
        const Node* node = st->FindNode(n);
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
    return true;
}

bool UsbBus::ParentNode(DevNode node, DevNode& parent) {
    std::lock_guard<std::mutex> lock(st->mtx);
    const Node* n = st->FindNode(node);
    if (n == nullptr || n->parent == 0) {
        return false;
    }
    parent = n->parent;
    return true;
}

bool UsbBus::DeviceId(DevNode node, std::wstring& id) {
    std::lock_guard<std::mutex> lock(st->mtx);
    const Node* n = st->FindNode(node);
    if (n == nullptr) {
        return false;
    }
    id = n->id;
    return true;
}

bool UsbBus::LocationPath(DevNode node, std::wstring& path) {
    std::lock_guard<std::mutex> lock(st->mtx);
    const Node* n = st->FindNode(node);
    // The property is a list: the path, its terminator and the list's own.
    if (n == nullptr || n->locationPath.empty() ||
        (n->locationPath.size() + 2) * sizeof(uint16_t) > kLocationPropertyBytes) {
        return false;
    }
    path = n->locationPath;
    return true;
}

Handle UsbBus::Open(const std::wstring& path) {
    std::wstring lower = Lower(path);
    std::lock_guard<std::mutex> lock(st->mtx);
    ++st->openAttempts[lower];
    for (size_t di = 0; di < st->devices.size(); ++di) {
        const Device& d = st->devices[di];
        if (!d.present) {
            continue;
        }
        for (size_t i = 0; i < d.hidPaths.size(); ++i) {
            if (d.hidPaths[i] != lower) {
                continue;
            }
            // A handle sees only reports that arrive after it was opened:
            // what is already due goes to the others first.
            st->Pump(int(di), i, Clock::now());
            Handle h = st->NewToken();
            OpenDevice& od = st->handles[Token(h)];
            od.device = int(di);
            od.iface = i;
            return h;
        }
    }
    return kInvalidHandle;
}

bool UsbBus::Attributes(Handle device, HidAttributes& out) {
    std::lock_guard<std::mutex> lock(st->mtx);
    const OpenDevice* od = st->Live(device);
    if (od == nullptr) {
        return false;
    }
    const UsbDeviceDesc& desc = st->devices[size_t(od->device)].desc;
    out.vendorId = desc.vendorId;
    out.productId = desc.productId;
    out.version = desc.version;
    return true;
}

bool UsbBus::SerialString(Handle device, std::wstring& out) {
    out.clear();
    std::lock_guard<std::mutex> lock(st->mtx);
    const OpenDevice* od = st->Live(device);
    if (od == nullptr) {
        return false;
    }
    // HidD_GetSerialNumberString fills 128 wide characters, terminator included.
    out = st->devices[size_t(od->device)].desc.serial.substr(0, 127);
    return !out.empty();
}

bool UsbBus::SetFeature(Handle device, const uint8_t* report, size_t length) {
    bool ok = false;
    {
        std::lock_guard<std::mutex> lock(st->mtx);
        const OpenDevice* od = st->Live(device);
        if (od == nullptr || report == nullptr || length == 0) {
            return false;
        }
        HidInterfaceModel* model = st->devices[size_t(od->device)].desc.interfaces[od->iface].get();
        if (model == nullptr) {
            return false;
        }
        ok = model->OnFeature(report, length, Clock::now());
    }
    // The model may have something to say now (an acknowledgement, say).
    st->cv.notify_all();
    return ok;
}

Handle UsbBus::CreateReadEvent() {
    std::lock_guard<std::mutex> lock(st->mtx);
    Handle h = st->NewToken();
    st->events.insert(Token(h));
    return h;
}

ReadResult UsbBus::ReadTimed(Handle device, Handle event, uint8_t* buf, uint32_t length,
                             uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(st->mtx);
    OpenDevice* od = st->FindOpen(device);
    if (od == nullptr || st->events.count(Token(event)) == 0) {
        return Result(ReadOutcome::FailedAtOnce, 0, kErrorInvalidHandle);
    }
    if (buf == nullptr || length == 0) {
        return Result(ReadOutcome::FailedAtOnce, 0, kErrorInvalidParameter);
    }
    if (od->dead) {
        return Result(ReadOutcome::FailedAtOnce, 0, kErrorDeviceNotConnected);
    }
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    uint64_t cancelsBefore = od->cancels;
    for (;;) {
        Clock::time_point now = Clock::now();
        st->Pump(od->device, od->iface, now);
        if (const InputReport* r = od->ring.Front()) {
            uint32_t n = std::min<uint32_t>(length, r->length);
            std::memcpy(buf, r->bytes, n);
            od->ring.PopFront();
            return Result(ReadOutcome::Completed, n, 0);
        }
        if (now >= deadline) {
            return Result(ReadOutcome::TimedOut, 0, 0);
        }
        st->cv.wait_until(lock, st->WakeTime(*od, now, deadline));
        // The handle may have been closed while we slept: closing a handle
        // aborts its pending reads, as does a cancel.
        od = st->FindOpen(device);
        if (od == nullptr || od->cancels != cancelsBefore) {
            return Result(ReadOutcome::FailedAfterPending, 0, kErrorOperationAborted);
        }
        if (od->dead) {
            return Result(ReadOutcome::FailedAfterPending, 0, kErrorDeviceNotConnected);
        }
    }
}

void UsbBus::CancelAll(Handle device) {
    {
        std::lock_guard<std::mutex> lock(st->mtx);
        OpenDevice* od = st->FindOpen(device);
        if (od == nullptr) {
            return;
        }
        ++od->cancels;
    }
    st->cv.notify_all();
}

void UsbBus::Close(Handle handle) {
    {
        std::lock_guard<std::mutex> lock(st->mtx);
        uintptr_t t = Token(handle);
        if (st->handles.erase(t) == 0 && st->events.erase(t) == 0) {
            ++st->badCloses;
            return;
        }
    }
    st->cv.notify_all();
}

}  // namespace brisk::sim
