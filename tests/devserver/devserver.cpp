// brisk-devserver: the virtual headset of brisk-sim (the same Watchman and
// MCU models, driven by the same scenario files) presented as emulated hidraw
// devices under umockdev, so that a real brisk (natively, or brisk.exe under
// Wine) reaches it through the operating system's HID path.
//
//   umockdev-wrapper brisk-devserver [-v] [-s] SCENARIO -- PROGRAM [ARGS...]
//
// The devices live on brisk-sim's virtual bus: the scenario's timeline
// unplugs, plugs, sleeps and commands them there as in brisk-sim, its times
// counted from the first open of a device node, or with -s from the moment
// PROGRAM sends the server SIGUSR1 (a program that starts the tool only once
// a slow stack has taken the devices in, as Wine's does). The server
// holds one bus handle per HID interface and mirrors the bus into the
// testbed: a USB device that appears on the bus gets its sysfs nodes and an
// "add" uevent for each; one that leaves gets "remove" uevents and its nodes
// go. Input reports go out through a packet-mode pipe behind /dev/hidrawN
// (one write is one read, and poll() sees it); the hidraw ioctls (report
// descriptor, raw info, name, phys, feature reports) are answered by an
// ioctl handler on the testbed. PROGRAM runs as a child with the testbed's
// environment; the server exits with its exit code.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <glib-unix.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "devserver/hid_descriptors.h"
#include "devserver/sysfs_records.h"
#include "platform/linux/hidraw_io.h"
#include "sim/scenario.h"
#include "sim/virtual_headset.h"

namespace brisk::devserver {
namespace {

bool verbose = false;

void Say(const std::string& line) {
    if (verbose) {
        std::fprintf(stderr, "brisk-devserver: %s\n", line.c_str());
    }
}

using linux_hid::UniqueFd;

std::string Narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) {
        s.push_back(c < 0x80 ? char(c) : '?');
    }
    return s;
}

// Which USB device an interface belongs to: the bus lists one record per
// interface, and those of one device share its place, identity and serial.
std::string DeviceKey(const HidDeviceInfo& hid) {
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x:%04x", unsigned(hid.vendorId), unsigned(hid.productId));
    std::string key = Narrow(hid.port.root);
    for (unsigned port : hid.port.ports) {
        key += "/" + std::to_string(port);
    }
    return key + " " + ids + " " + Narrow(hid.serial);
}

class Server;

// One emulated hidraw node: a HID interface of a device on the bus.
struct HidrawNode {
    Server* server = nullptr;
    std::wstring busPath;
    HidInterfaceRecordArgs args;
    ReportSizes sizes;
    std::string name;     // "hidraw0"
    std::string devNode;  // "/dev/hidraw0"
    std::string hidName, phys, uniq;
    std::vector<Record> records;
    UniqueFd readEnd, writeEnd;
    Handle handle = kInvalidHandle;  // on the bus, for reads and features
    Handle event = nullptr;
    std::thread pump;
    std::atomic<bool> stopping{false};
    std::atomic<bool> gone{false};
    std::atomic<int> clients{0};
    std::vector<UMockdevIoctlClient*> openClients;  // one reference each, ours; main thread only
    std::atomic<uint64_t> written{0}, dropped{0};
    UMockdevIoctlBase* handler = nullptr;  // one reference, ours
};

struct UsbDevice {
    std::string key;  // where it sits, what it is and its serial: DeviceKey
    UsbFunction function;
    Record record;
    std::vector<std::unique_ptr<HidrawNode>> nodes;  // by interface number
};

class Server {
  public:
    Server(UMockdevTestbed* testbed, sim::UsbBus& bus) : tb(testbed), bus(bus) {
        char* root = umockdev_testbed_get_root_dir(tb);
        rootDir = root;
        g_free(root);
    }
    ~Server() {
        for (auto& [key, dev] : devices) {
            StopNodes(*dev);
        }
        for (auto& dev : retired) {
            ReleaseHandlers(*dev);
        }
        for (auto& [key, dev] : devices) {
            ReleaseHandlers(*dev);
        }
    }

    // Mirrors the bus: devices that left are removed, new ones added; and
    // counts out the clients that have closed their nodes since.
    void Sync();

    // Called once, on the main thread, when a node is first opened.
    void OnFirstOpen(std::function<void()> f) { firstOpen = std::move(f); }
    bool AnyDevice() const { return !devices.empty(); }

    bool OnIoctl(HidrawNode& n, UMockdevIoctlClient* client);
    bool OnRead(HidrawNode& n, UMockdevIoctlClient* client);
    void OnClient(HidrawNode& n, bool connected);

  private:
    bool Add(const std::string& text);
    void Remove(const std::string& sysPath);
    int BusNumber(const UsbPlace& place);
    void EnsureHubs(const std::string& controller, int bus, const std::vector<int>& ports);
    void Plug(const std::string& key, const std::vector<HidDeviceInfo>& ifaces);
    bool PlugNode(UsbDevice& dev, const HidDeviceInfo& hid, std::unique_ptr<HidrawNode>& out);
    void Unplug(std::unique_ptr<UsbDevice> dev);
    void StopNodes(UsbDevice& dev);
    void ReleaseHandlers(UsbDevice& dev);
    void CountOutClosedClients();
    void Pump(HidrawNode& n);
    std::string Root(const std::string& path) const { return rootDir + path; }

    UMockdevTestbed* tb;
    sim::UsbBus& bus;
    std::string rootDir;
    std::map<std::string, int> busNumbers;  // by controller
    std::map<int, int> nextDevnum;          // by bus
    std::set<std::string> hubs;             // sysfs paths added
    std::set<int> hidrawInUse;
    unsigned hidSequence = 0;
    std::map<std::string, std::unique_ptr<UsbDevice>> devices;  // present, by key
    std::vector<std::unique_ptr<UsbDevice>> retired;            // unplugged; clients may still talk
    std::function<void()> firstOpen;
};

gboolean IoctlThunk(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer node) {
    auto* n = static_cast<HidrawNode*>(node);
    return n->server->OnIoctl(*n, client);
}

gboolean ReadThunk(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer node) {
    auto* n = static_cast<HidrawNode*>(node);
    return n->server->OnRead(*n, client);
}

// Each client of a node is held until it has closed (see CountOutClosedClients).
void ConnectedThunk(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer node) {
    auto* n = static_cast<HidrawNode*>(node);
    n->openClients.push_back(UMOCKDEV_IOCTL_CLIENT(g_object_ref(client)));
    n->server->OnClient(*n, true);
}

bool Server::Add(const std::string& text) {
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(tb, text.c_str(), &error)) {
        std::fprintf(stderr, "brisk-devserver: cannot add device: %s\n",
                     error ? error->message : "?");
        g_clear_error(&error);
        return false;
    }
    return true;
}

void Server::Remove(const std::string& sysPath) {
    umockdev_testbed_uevent(tb, sysPath.c_str(), "remove");
    umockdev_testbed_remove_device(tb, sysPath.c_str());
}

int Server::BusNumber(const UsbPlace& place) {
    auto it = busNumbers.find(place.controller);
    if (it != busNumbers.end()) {
        return it->second;
    }
    int number = int(busNumbers.size()) + 1;
    busNumbers[place.controller] = number;
    return number;
}

void Server::EnsureHubs(const std::string& controller, int busNumber,
                        const std::vector<int>& ports) {
    for (size_t depth = 0; depth < ports.size(); ++depth) {
        std::vector<int> at(ports.begin(), ports.begin() + long(depth));
        Record r = depth == 0 ? RootHubRecord(controller, busNumber)
                              : HubRecord(controller, busNumber, at);
        if (hubs.insert(r.sysPath).second) {
            Add(r.text);
        }
    }
}

void Server::Sync() {
    CountOutClosedClients();
    std::vector<HidDeviceInfo> list;
    if (!bus.ListHidDevices(list)) {
        return;
    }
    // The bus's interfaces grouped by their USB device.
    std::map<std::string, std::vector<HidDeviceInfo>> present;
    for (const HidDeviceInfo& hid : list) {
        present[DeviceKey(hid)].push_back(hid);
    }
    for (auto it = devices.begin(); it != devices.end();) {
        if (present.count(it->first) == 0) {
            std::unique_ptr<UsbDevice> dev = std::move(it->second);
            it = devices.erase(it);
            Unplug(std::move(dev));
        } else {
            ++it;
        }
    }
    for (const auto& [key, ifaces] : present) {
        if (devices.count(key) == 0) {
            Plug(key, ifaces);
        }
    }
}

void Server::Plug(const std::string& key, const std::vector<HidDeviceInfo>& ifaces) {
    UsbPlace place;
    if (!PlaceOfPort(ifaces.front().port, place) || place.ports.empty()) {
        std::fprintf(stderr, "brisk-devserver: %s has no usable place on the bus\n", key.c_str());
        devices[key] = std::make_unique<UsbDevice>();  // not again
        return;
    }
    auto dev = std::make_unique<UsbDevice>();
    dev->key = key;
    UsbFunction& f = dev->function;
    f.controller = place.controller;
    f.bus = BusNumber(place);
    f.ports = place.ports;
    int& devnum = nextDevnum[f.bus];
    devnum = std::max(devnum, 10) + 1;
    f.devnum = devnum;
    f.interfaceCount = ifaces.size();

    std::vector<HidDeviceInfo> sorted = ifaces;
    std::sort(sorted.begin(), sorted.end(), [](const HidDeviceInfo& a, const HidDeviceInfo& b) {
        return a.interfaceNumber < b.interfaceNumber;
    });
    // The device's own strings come from its first interface.
    Handle probe = bus.Open(sorted.front().path);
    if (probe == kInvalidHandle) {
        return;  // gone again already; the next look decides
    }
    HidAttributes attrs;
    std::wstring serial;
    bool haveAttrs = bus.Attributes(probe, attrs);
    if (bus.SerialString(probe, serial)) {
        f.serial = Narrow(serial);
    }
    bus.Close(probe);
    if (!haveAttrs) {
        return;
    }
    f.vendorId = attrs.vendorId;
    f.productId = attrs.productId;
    f.version = attrs.version;
    bool mcu = attrs.vendorId == 0x35BD;
    f.manufacturer = mcu ? "Davovo" : "Valve";
    f.product = mcu ? "Headset MCU" : "Watchman";

    EnsureHubs(f.controller, f.bus, f.ports);
    dev->record = UsbDeviceRecord(f);
    if (!Add(dev->record.text)) {
        return;
    }
    for (const HidDeviceInfo& hid : sorted) {
        std::unique_ptr<HidrawNode> node;
        if (PlugNode(*dev, hid, node)) {
            Say("plugged " + node->devNode + " (" + node->phys + ", serial '" + f.serial + "')");
            dev->nodes.push_back(std::move(node));
        }
    }
    devices[key] = std::move(dev);
}

bool Server::PlugNode(UsbDevice& dev, const HidDeviceInfo& hid, std::unique_ptr<HidrawNode>& out) {
    const UsbFunction& f = dev.function;
    auto n = std::make_unique<HidrawNode>();
    n->server = this;
    n->busPath = hid.path;
    n->args.iface = size_t(std::max(hid.interfaceNumber, 0));
    n->args.descriptor = DescriptorFor(f.vendorId, f.productId, n->args.iface);
    n->sizes = ReadReportSizes(n->args.descriptor);
    n->args.hidSequence = ++hidSequence;
    int number = 0;
    while (hidrawInUse.count(number)) {
        ++number;
    }
    n->args.hidraw = number;
    n->name = "hidraw" + std::to_string(number);
    n->devNode = "/dev/" + n->name;
    n->hidName = f.manufacturer + " " + f.product;
    n->phys = HidPhys(f, n->args.iface);
    n->uniq = f.serial;
    n->records = HidInterfaceRecords(f, n->args);

    n->handle = bus.Open(hid.path);
    n->event = bus.CreateReadEvent();
    if (n->handle == kInvalidHandle || n->event == nullptr) {
        if (n->handle != kInvalidHandle) {
            bus.Close(n->handle);
        }
        if (n->event != nullptr) {
            bus.Close(n->event);
        }
        return false;
    }

    // One write is one read: a packet-mode pipe, roomy enough for a stalled
    // reader's backlog (each packet takes a page).
    int p[2];
    if (pipe2(p, O_DIRECT | O_NONBLOCK | O_CLOEXEC) != 0) {
        std::perror("brisk-devserver: pipe2");
        bus.Close(n->handle);
        bus.Close(n->event);
        return false;
    }
    n->readEnd = UniqueFd(p[0]);
    n->writeEnd = UniqueFd(p[1]);
    fcntl(p[1], F_SETPIPE_SZ, 1 << 20);

    // Leftovers of an earlier node of this name would break umockdev's own
    // links, so they go first; then the node and the ioctl handler, before
    // the "add" uevents send anyone to open it.
    std::string majmin = std::to_string(kHidrawMajor) + ":" + std::to_string(number);
    unlink(Root("/dev/.node/" + n->name).c_str());
    unlink(Root("/sys/dev/char/" + majmin).c_str());
    unlink(Root("/ioctl" + n->devNode).c_str());
    unlink(Root(n->devNode).c_str());
    g_mkdir_with_parents(Root("/dev").c_str(), 0755);
    std::string target = "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(p[0]);
    if (symlink(target.c_str(), Root(n->devNode).c_str()) != 0) {
        std::perror("brisk-devserver: symlink");
    }
    n->handler = umockdev_ioctl_base_new();
    g_signal_connect(n->handler, "handle-ioctl", G_CALLBACK(IoctlThunk), n.get());
    g_signal_connect(n->handler, "handle-read", G_CALLBACK(ReadThunk), n.get());
    g_signal_connect(n->handler, "client-connected", G_CALLBACK(ConnectedThunk), n.get());
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(tb, n->devNode.c_str(), n->handler, &error)) {
        std::fprintf(stderr, "brisk-devserver: attach_ioctl %s: %s\n", n->devNode.c_str(),
                     error ? error->message : "?");
        g_clear_error(&error);
    }
    hidrawInUse.insert(number);
    std::string text;
    for (const Record& r : n->records) {
        text += r.text + "\n";
    }
    Add(text);
    HidrawNode* raw = n.get();
    n->pump = std::thread([this, raw] { Pump(*raw); });
    out = std::move(n);
    return true;
}

void Server::Pump(HidrawNode& n) {
    uint8_t buf[65];
    while (!n.stopping.load()) {
        ReadResult r = bus.ReadTimed(n.handle, n.event, buf, sizeof buf, 200);
        if (r.outcome == ReadOutcome::TimedOut) {
            continue;
        }
        if (r.outcome != ReadOutcome::Completed) {
            if (r.error == kErrorDeviceNotConnected || n.stopping.load()) {
                return;  // unplugged: Sync removes the node
            }
            continue;
        }
        // The bus hands reports over as Windows does, with report ID 0 in
        // front when the device has no IDs; the device itself sends them
        // without, at its descriptor's length.
        const uint8_t* p = buf;
        size_t count = r.bytes;
        if (!n.sizes.usesIds && count > 0) {
            ++p;
            --count;
        }
        count = count == 0 ? 0 : std::min(count, InputBytesOf(n.sizes, p[0]));
        if (n.clients.load() == 0 || count == 0) {
            continue;  // nobody has the node open: the report goes nowhere, as on hidraw
        }
        if (write(n.writeEnd.Get(), p, count) == ssize_t(count)) {
            ++n.written;
        } else {
            ++n.dropped;  // the reader fell behind: its queue is full
        }
    }
}

void Server::StopNodes(UsbDevice& dev) {
    for (auto& n : dev.nodes) {
        n->gone = true;
        n->stopping = true;
        if (n->handle != kInvalidHandle) {
            bus.CancelAll(n->handle);
        }
        if (n->pump.joinable()) {
            n->pump.join();
        }
        if (n->handle != kInvalidHandle) {
            bus.Close(n->handle);
            n->handle = kInvalidHandle;
        }
        if (n->event != nullptr) {
            bus.Close(n->event);
            n->event = nullptr;
        }
        n->writeEnd = UniqueFd();
        n->readEnd = UniqueFd();
    }
}

// A client's close shows only in its "connected" property: umockdev emits
// neither client-vanished nor a notification for it. So the clients are
// looked at here, every Sync; the reference held keeps each until then.
void Server::CountOutClosedClients() {
    auto countOut = [this](UsbDevice& dev) {
        for (auto& n : dev.nodes) {
            auto& held = n->openClients;
            for (auto it = held.begin(); it != held.end();) {
                if (umockdev_ioctl_client_get_connected(*it)) {
                    ++it;
                    continue;
                }
                g_object_unref(*it);
                it = held.erase(it);
                OnClient(*n, false);
            }
        }
    };
    for (auto& [key, dev] : devices) {
        countOut(*dev);
    }
    for (auto& dev : retired) {
        countOut(*dev);
    }
}

void Server::ReleaseHandlers(UsbDevice& dev) {
    for (auto& n : dev.nodes) {
        // A client still connected is still held by umockdev's own reader
        // of its socket, so this is never the last reference to one open.
        for (UMockdevIoctlClient* client : n->openClients) {
            g_object_unref(client);
        }
        n->openClients.clear();
        if (n->handler != nullptr) {
            g_signal_handlers_disconnect_by_data(n->handler, n.get());
            g_object_unref(n->handler);
            n->handler = nullptr;
        }
    }
}

// Whether a process other than this one holds the pipe `fd` reads from open.
// umockdev does not say when a client closes its node, so the processes'
// open files are looked at instead.
bool PipeHeldElsewhere(int fd) {
    struct stat own;
    if (fstat(fd, &own) != 0) {
        return false;
    }
    const std::string want = "pipe:[" + std::to_string(own.st_ino) + "]";
    const std::string self = std::to_string(getpid());
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return false;
    }
    bool held = false;
    while (!held) {
        dirent* p = readdir(proc);
        if (p == nullptr) {
            break;
        }
        if (!std::isdigit(static_cast<unsigned char>(p->d_name[0])) || self == p->d_name) {
            continue;
        }
        std::string fdDir = std::string("/proc/") + p->d_name + "/fd";
        DIR* fds = opendir(fdDir.c_str());
        if (fds == nullptr) {
            continue;  // gone, or not ours to look at
        }
        while (dirent* f = readdir(fds)) {
            char target[64];
            std::string link = fdDir + "/" + f->d_name;
            ssize_t len = readlink(link.c_str(), target, sizeof target);
            if (len > 0 && std::string(target, size_t(len)) == want) {
                held = true;
                break;
            }
        }
        closedir(fds);
    }
    closedir(proc);
    return held;
}

// Runs the main loop's other work (the nodes that stay are served from it)
// until no other process holds the pipe `fd` open, or `limit` has passed;
// says whether they all let go.
bool AwaitLastClose(int fd, std::chrono::milliseconds limit) {
    auto until = std::chrono::steady_clock::now() + limit;
    auto nextLook = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < until) {
        if (std::chrono::steady_clock::now() >= nextLook) {
            if (!PipeHeldElsewhere(fd)) {
                return true;
            }
            nextLook = std::chrono::steady_clock::now() + std::chrono::milliseconds(10);
        }
        if (!g_main_context_iteration(nullptr, FALSE)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return false;
}

void Server::Unplug(std::unique_ptr<UsbDevice> dev) {
    // Interfaces leave in ascending order, as the kernel unregisters them,
    // each node's records child first; and each only once its last reader
    // has let go of the one before. A real kernel does not wait, but Wine
    // 8.0's winebus needs it: it unlinks a removed device from its list when
    // the "remove" arrives and again when its PnP manager removes the device,
    // and when a second "remove" comes in between, the second unlink can
    // cut a live device, or one plugged later, out of the list for good.
    // Winebus closes its node only after that second unlink.
    for (auto& node : dev->nodes) {
        HidrawNode& n = *node;
        n.gone = true;
        if (n.writeEnd.Get() >= 0) {
            // A reader waiting in poll() wakes and its next read fails.
            const uint8_t wake = 0;
            (void)!write(n.writeEnd.Get(), &wake, 1);
        }
        for (auto r = n.records.rbegin(); r != n.records.rend(); ++r) {
            Remove(r->sysPath);
        }
        const bool closed = AwaitLastClose(n.readEnd.Get(), std::chrono::seconds(5));
        umockdev_testbed_detach_ioctl(tb, n.devNode.c_str(), nullptr);
        unlink(Root("/ioctl" + n.devNode).c_str());
        unlink(Root(n.devNode).c_str());
        hidrawInUse.erase(n.args.hidraw);  // the kernel hands out the lowest free number
        Say("unplugged " + n.devNode + " after " + std::to_string(n.written.load()) + " reports (" +
            std::to_string(n.dropped.load()) + " dropped)" + (closed ? "" : ", still open"));
    }
    if (!dev->record.sysPath.empty()) {
        Remove(dev->record.sysPath);
    }
    StopNodes(*dev);
    // Clients that still have a node open keep talking to its handler, which
    // now fails them; it stays until the server ends.
    retired.push_back(std::move(dev));
}

bool Server::OnRead(HidrawNode& n, UMockdevIoctlClient* client) {
    if (!n.gone.load()) {
        return FALSE;  // the client reads the pipe itself
    }
    umockdev_ioctl_client_complete(client, -1, EIO);
    return TRUE;
}

void Server::OnClient(HidrawNode& n, bool connected) {
    if (!connected) {
        const int left = n.clients.fetch_sub(1) - 1;
        Say(n.devNode + " closed, " + std::to_string(left) + " client(s)");
        return;
    }
    if (n.clients.load() == 0 && n.readEnd.Get() >= 0) {
        // A new reader sees reports from its open on, not what an earlier one left.
        uint8_t buf[128];
        while (read(n.readEnd.Get(), buf, sizeof buf) > 0) {
        }
    }
    const int open = n.clients.fetch_add(1) + 1;
    Say(n.devNode + " opened, " + std::to_string(open) + " client(s)");
    if (firstOpen) {
        std::function<void()> f = std::move(firstOpen);
        firstOpen = nullptr;
        f();
    }
}

// Copies `text` into a string buffer of `size` bytes as the kernel does for
// HIDIOCGRAWNAME and friends: cut to fit, zero-terminated; returns the length
// copied with its zero.
long CopyString(UMockdevIoctlData* data, size_t size, const std::string& text) {
    size_t len = std::min(text.size() + 1, size);
    std::memset(data->data, 0, size);
    std::memcpy(data->data, text.c_str(), len > 0 ? len - 1 : 0);
    return long(len);
}

bool Server::OnIoctl(HidrawNode& n, UMockdevIoctlClient* client) {
    unsigned long request = umockdev_ioctl_client_get_request(client);
    if (n.gone.load()) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    if (_IOC_TYPE(request) != 'H') {
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return TRUE;
    }
    size_t size = _IOC_SIZE(request);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    UMockdevIoctlData* data = nullptr;
    if (size > 0) {
        GError* error = nullptr;
        data = umockdev_ioctl_data_resolve(arg, 0, size, &error);
        g_clear_error(&error);
    }
    if (data == nullptr || size_t(data->data_len) < size) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        if (data != nullptr) {
            umockdev_ioctl_data_unref(data);
        }
        return TRUE;
    }
    long result = -1;
    int err = 0;
    const std::vector<uint8_t>& desc = n.args.descriptor;
    switch (_IOC_NR(request)) {
        case _IOC_NR(HIDIOCGRDESCSIZE): {
            int value = int(desc.size());
            std::memcpy(data->data, &value, sizeof value);
            result = 0;
            break;
        }
        case _IOC_NR(HIDIOCGRDESC): {
            hidraw_report_descriptor rd;
            std::memcpy(&rd, data->data, std::min(size, sizeof rd));
            if (rd.size > HID_MAX_DESCRIPTOR_SIZE - 1) {
                err = EINVAL;
                break;
            }
            size_t len = std::min(size_t(rd.size), desc.size());
            std::memcpy(data->data + offsetof(hidraw_report_descriptor, value), desc.data(), len);
            result = 0;
            break;
        }
        case _IOC_NR(HIDIOCGRAWINFO): {
            hidraw_devinfo info{};
            info.bustype = BUS_USB;
            const UsbFunction* f = nullptr;
            for (const auto& [key, dev] : devices) {
                for (const auto& node : dev->nodes) {
                    if (node.get() == &n) {
                        f = &dev->function;
                    }
                }
            }
            if (f != nullptr) {
                info.vendor = int16_t(f->vendorId);
                info.product = int16_t(f->productId);
            }
            std::memcpy(data->data, &info, std::min(size, sizeof info));
            result = 0;
            break;
        }
        case _IOC_NR(HIDIOCGRAWNAME(0)):
            result = CopyString(data, size, n.hidName);
            break;
        case _IOC_NR(HIDIOCGRAWPHYS(0)):
            result = CopyString(data, size, n.phys);
            break;
        case _IOC_NR(HIDIOCGRAWUNIQ(0)):
            result = CopyString(data, size, n.uniq);
            break;
        case _IOC_NR(HIDIOCSFEATURE(0)):
            // The buffer starts with the report number, 0 for a device
            // without IDs: the same bytes HidD_SetFeature takes.
            if (bus.SetFeature(n.handle, data->data, size)) {
                result = long(size);
            } else {
                err = EPIPE;  // the device stalled the request
            }
            break;
        case _IOC_NR(HIDIOCGFEATURE(0)): {
            // The report number comes in the buffer's first byte; the answer
            // goes back in the same buffer, report number first, and the
            // ioctl returns its length, as hidraw does.
            const FeatureResult r =
                bus.GetFeature(n.handle, data->data[0], data->data, static_cast<uint32_t>(size));
            if (r.outcome == FeatureOutcome::kData) {
                result = long(r.bytes);
            } else {
                err = r.error == kErrorDeviceNotConnected ? ENODEV : EPIPE;  // else a stall
            }
            break;
        }
        default:
            err = EPIPE;  // the input/output requests: not answered
            if (_IOC_NR(request) > _IOC_NR(HIDIOCGOUTPUT(0))) {
                err = ENOTTY;
            }
            break;
    }
    umockdev_ioctl_client_complete(client, result, result < 0 ? err : 0);
    umockdev_ioctl_data_unref(data);
    return TRUE;
}

struct Run {
    GMainLoop* loop = nullptr;
    std::atomic<GPid> child{0};
    int exitCode = 1;
};

void OnChildExit(GPid pid, gint status, gpointer user) {
    auto* run = static_cast<Run*>(user);
    if (WIFEXITED(status)) {
        run->exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        run->exitCode = 128 + WTERMSIG(status);
    }
    g_spawn_close_pid(pid);
    run->child = 0;
    g_main_loop_quit(run->loop);
}

int Usage() {
    std::fprintf(stderr,
                 "usage: umockdev-wrapper brisk-devserver [-v] [-s] SCENARIO -- PROGRAM [ARGS...]\n"
                 "  SCENARIO: a brisk-sim scenario file, or - for the default headset\n"
                 "  -s: the scenario's clock starts at SIGUSR1, not at the first open\n");
    return 64;
}

int Main(int argc, char** argv) {
    int i = 1;
    bool startOnSignal = false;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
        if (std::strcmp(argv[i], "-v") == 0) {
            verbose = true;
        } else if (std::strcmp(argv[i], "-s") == 0) {
            startOnSignal = true;
        } else {
            break;
        }
    }
    if (i + 2 >= argc || std::strcmp(argv[i + 1], "--") != 0) {
        return Usage();
    }
    std::string scenarioFile = argv[i];
    std::vector<char*> childArgv(argv + i + 2, argv + argc);
    childArgv.push_back(nullptr);

    std::string text;
    if (scenarioFile != "-") {
        std::ifstream in(scenarioFile, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "brisk-devserver: cannot read %s\n", scenarioFile.c_str());
            return 64;
        }
        std::ostringstream all;
        all << in.rdbuf();
        text = all.str();
    }
    sim::Scenario scenario;
    std::string error;
    sim::VirtualHeadset headset;
    if (!sim::ParseScenario(text, scenarioFile, scenario, error) ||
        !headset.Build(scenario, scenarioFile, error)) {
        std::fprintf(stderr, "brisk-devserver: %s\n", error.c_str());
        return 64;
    }
    // uevents reach the program under test only through the preload.
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::strstr(preload, "umockdev-preload") == nullptr) {
        std::fprintf(stderr, "brisk-devserver: run me under umockdev-wrapper\n");
        return 64;
    }
    // A report a millisecond, each on its own, as a real bus delivers them.
    headset.Bus().SetDeliveryTick(std::chrono::microseconds(0));

    UMockdevTestbed* testbed = umockdev_testbed_new();
    Run run;
    run.loop = g_main_loop_new(nullptr, FALSE);
    {
        Server server(testbed, headset.Bus());
        server.Sync();
        // Scenario times count from the tool's start as the server sees it:
        // the first open of a device node (Wine's own start-up would
        // otherwise eat the first seconds), or at once with no devices; with
        // -s, from the program's signal.
        auto startTimeline = [&headset, &run] {
            headset.StartTimeline(std::chrono::steady_clock::now(), [&run] {
                GPid pid = run.child.load();
                if (pid > 0) {
                    kill(pid, SIGINT);
                }
            });
        };
        if (startOnSignal) {
            g_unix_signal_add(
                SIGUSR1,
                [](gpointer start) -> gboolean {
                    (*static_cast<decltype(startTimeline)*>(start))();
                    return G_SOURCE_REMOVE;  // once
                },
                &startTimeline);
        } else if (server.AnyDevice()) {
            server.OnFirstOpen(startTimeline);
        } else {
            startTimeline();
        }
        GPid pid = 0;
        GError* spawnError = nullptr;
        if (!g_spawn_async(nullptr, childArgv.data(), nullptr,
                           GSpawnFlags(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_SEARCH_PATH |
                                       G_SPAWN_CHILD_INHERITS_STDIN),
                           nullptr, nullptr, &pid, &spawnError)) {
            std::fprintf(stderr, "brisk-devserver: cannot run %s: %s\n", childArgv[0],
                         spawnError->message);
            g_clear_error(&spawnError);
            run.exitCode = 127;
        } else {
            run.child = pid;
            g_child_watch_add(pid, OnChildExit, &run);
            std::vector<guint> sources;
            sources.push_back(g_timeout_add(
                10,
                [](gpointer s) -> gboolean {
                    static_cast<Server*>(s)->Sync();
                    return G_SOURCE_CONTINUE;
                },
                &server));
            // Stop requests go to the program under test; the server ends with it.
            for (int sig : {SIGINT, SIGTERM}) {
                sources.push_back(g_unix_signal_add(
                    sig,
                    [](gpointer r) -> gboolean {
                        GPid child = static_cast<Run*>(r)->child.load();
                        if (child > 0) {
                            kill(child, SIGINT);
                        }
                        return G_SOURCE_CONTINUE;
                    },
                    &run));
            }
            g_main_loop_run(run.loop);
            for (guint id : sources) {
                g_source_remove(id);
            }
        }
        headset.StopTimeline();
    }
    g_main_loop_unref(run.loop);
    g_object_unref(testbed);
    return run.exitCode;
}

}  // namespace
}  // namespace brisk::devserver

int main(int argc, char** argv) {
    return brisk::devserver::Main(argc, argv);
}
