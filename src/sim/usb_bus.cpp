// The virtual USB bus's handle and read engine, over the devices in
// usb_tree.cpp. One mutex guards everything; readers sleep on one condition
// variable with the mutex released, and device models are only ever called
// with it held, so a model needs no locking against the bus.
#include "sim/usb_bus.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "sim/usb_tree.h"

namespace brisk::sim {
namespace {

constexpr uint32_t kErrorInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
// The Windows HID class driver keeps 32 input reports per open handle until
// asked for more (HidD_SetNumInputBuffers); it grants 2 to 512.
constexpr uint32_t kDefaultQueueDepth = 32;
constexpr uint32_t kMinQueueDepth = 2;
constexpr uint32_t kMaxQueueDepth = 512;
// A model whose next report is overdue must not make a reader spin.
constexpr auto kMinNap = std::chrono::microseconds(200);

uintptr_t Token(Handle h) {
    return reinterpret_cast<uintptr_t>(h);
}

// One open handle's queue of input reports; the oldest goes when it is full.
class ReportRing {
  public:
    void Push(const InputReport& r) {
        if (count == slots.size()) {
            PopFront();
        }
        slots[(head + count) % slots.size()] = r;
        ++count;
    }
    const InputReport* Front() const { return count ? &slots[head] : nullptr; }
    void PopFront() {
        head = (head + 1) % slots.size();
        --count;
    }
    void Clear() { head = count = 0; }
    size_t Depth() const { return slots.size(); }
    // Keeps the newest reports that fit, oldest first.
    void Resize(size_t depth) {
        while (count > depth) {
            PopFront();
        }
        std::vector<InputReport> resized(depth);
        for (size_t i = 0; i < count; ++i) {
            resized[i] = slots[(head + i) % slots.size()];
        }
        slots.swap(resized);
        head = 0;
    }

  private:
    std::vector<InputReport> slots = std::vector<InputReport>(kDefaultQueueDepth);
    size_t head = 0;
    size_t count = 0;
};

struct OpenDevice {
    UsbDeviceId device = -1;
    size_t iface = 0;
    bool dead = false;     // its device was unplugged after the open
    uint64_t cancels = 0;  // CancelAll calls so far; a pending read notices a change
    ReportRing ring;
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
    UsbTree tree;
    std::unordered_map<uintptr_t, OpenDevice> handles;
    std::unordered_set<uintptr_t> events;
    uintptr_t nextToken = 0x100;
    size_t badCloses = 0;
    std::map<std::wstring, size_t> openAttempts;  // path -> attempts
    std::vector<InputReport> produced;            // reused: no allocation per report
    Clock::time_point epoch = Clock::now();       // origin of the delivery grid
    Clock::duration tick = std::chrono::milliseconds(10);

    Handle NewToken() {
        uintptr_t t = nextToken;
        nextToken += 4;  // like kernel handles: multiples of 4, never reused
        return reinterpret_cast<Handle>(t);
    }

    OpenDevice* FindOpen(Handle h) {
        auto it = handles.find(Token(h));
        return it == handles.end() ? nullptr : &it->second;
    }

    bool AnyReader(UsbDeviceId device, size_t iface) const {
        for (const auto& [token, od] : handles) {
            if (od.device == device && od.iface == iface && !od.dead) {
                return true;
            }
        }
        return false;
    }

    // Lets the interface's model produce what is due and hands a copy of each
    // report to every live handle of that interface.
    void Pump(UsbDeviceId device, size_t iface, Clock::time_point now) {
        HidInterfaceModel* model = tree.Model(device, iface);
        if (!tree.Present(device) || model == nullptr) {
            return;
        }
        if (model->KeepsReportsForReaders() && !AnyReader(device, iface)) {
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
        const HidInterfaceModel* model = tree.Model(od.device, od.iface);
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
            const Clock::time_point onGrid = epoch + steps * tick;
            // By then the stream may have filled the queue: wake when half of it is due.
            // A reader may keep the OS's default queue, so the default depth sets the pace.
            const Clock::duration spacing = model->ReportSpacing();
            const auto halfQueue = static_cast<Clock::rep>(kDefaultQueueDepth / 2 - 1);
            const bool steady = spacing > Clock::duration::zero();
            due = steady ? std::min(onGrid, due + spacing * halfQueue) : onGrid;
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
    return st->tree.Add(std::move(desc));
}

void UsbBus::Unplug(UsbDeviceId device) {
    {
        std::lock_guard<std::mutex> lock(st->mtx);
        if (!st->tree.SetPresent(device, false)) {
            return;
        }
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
    st->tree.SetPresent(device, true);
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
    std::lock_guard<std::mutex> lock(st->mtx);
    size_t n = 0;
    for (const auto& [path, count] : st->openAttempts) {
        if (path.find(pathFragment) != std::wstring::npos) {
            n += count;
        }
    }
    return n;
}

std::vector<uint32_t> UsbBus::InputQueueDepths() const {
    std::lock_guard<std::mutex> lock(st->mtx);
    std::map<uintptr_t, uint32_t> byToken;  // tokens grow: this is the order of opening
    for (const auto& [token, od] : st->handles) {
        byToken[token] = static_cast<uint32_t>(od.ring.Depth());
    }
    std::vector<uint32_t> depths;
    for (const auto& [token, depth] : byToken) {
        depths.push_back(depth);
    }
    return depths;
}

bool UsbBus::ListHidDevices(std::vector<HidDeviceInfo>& out) {
    std::lock_guard<std::mutex> lock(st->mtx);
    st->tree.ListHidDevices(out);
    return true;
}

Handle UsbBus::Open(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(st->mtx);
    ++st->openAttempts[path];
    UsbDeviceId device = -1;
    size_t iface = 0;
    if (!st->tree.FindHidPath(path, device, iface)) {
        return kInvalidHandle;
    }
    // A handle sees only reports that arrive after it was opened: what is
    // already due goes to the others first.
    st->Pump(device, iface, Clock::now());
    Handle h = st->NewToken();
    OpenDevice& od = st->handles[Token(h)];
    od.device = device;
    od.iface = iface;
    return h;
}

bool UsbBus::Attributes(Handle device, HidAttributes& out) {
    std::lock_guard<std::mutex> lock(st->mtx);
    const OpenDevice* od = st->Live(device);
    if (od == nullptr) {
        return false;
    }
    const UsbDeviceDesc& desc = st->tree.Desc(od->device);
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
    out = st->tree.Serial(od->device);
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
        HidInterfaceModel* model = st->tree.Model(od->device, od->iface);
        if (model == nullptr) {
            return false;
        }
        ok = model->OnFeature(report, length, Clock::now());
    }
    // The model may have something to say now (an acknowledgement, say).
    st->cv.notify_all();
    return ok;
}

FeatureResult UsbBus::GetFeature(Handle device, uint8_t reportId, uint8_t* buf, uint32_t length) {
    std::lock_guard<std::mutex> lock(st->mtx);
    const OpenDevice* od = st->FindOpen(device);
    if (od == nullptr) {
        return {FeatureOutcome::kFailed, 0, kErrorInvalidHandle};
    }
    if (od->dead) {
        return {FeatureOutcome::kFailed, 0, kErrorDeviceNotConnected};
    }
    if (buf == nullptr || length == 0) {
        return {FeatureOutcome::kFailed, 0, kErrorInvalidParameter};
    }
    HidInterfaceModel* model = st->tree.Model(od->device, od->iface);
    if (model == nullptr) {
        return {FeatureOutcome::kFailed, 0, kErrorGenFailure};
    }
    FeatureResult r = model->OnGetFeature(reportId, buf, length, Clock::now());
    r.bytes = std::min(r.bytes, length);  // a model never claims more than the buffer
    return r;
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
            ReadResult done = Result(ReadOutcome::Completed, n, 0);
            if (r->recordedAt != Clock::time_point{}) {
                done.arrivalNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     r->recordedAt.time_since_epoch())
                                     .count();
            }
            od->ring.PopFront();
            return done;
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

bool UsbBus::SetInputQueueDepth(Handle device, uint32_t wanted, uint32_t& granted) {
    std::lock_guard<std::mutex> lock(st->mtx);
    OpenDevice* od = st->Live(device);
    if (od == nullptr) {
        granted = 0;
        return false;
    }
    const bool grant = wanted >= kMinQueueDepth && wanted <= kMaxQueueDepth;
    if (grant) {
        od->ring.Resize(wanted);
    }
    granted = static_cast<uint32_t>(od->ring.Depth());
    return grant;
}

}  // namespace brisk::sim