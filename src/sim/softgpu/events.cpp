// Events, timed waits and the handle table.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "sim/softgpu/kernel.h"
#include "sim/softgpu/softgpu.h"

namespace brisk::softgpu {
namespace detail {
namespace {

class Event : public KernelObject {
  public:
    Event(bool manualReset, bool signalled) : manualReset_(manualReset), signalled_(signalled) {}

    void Set() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            signalled_ = true;
        }
        cv_.notify_all();
    }
    void Reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = false;
    }
    // True when signalled within the time; an auto-reset event is consumed.
    bool Wait(DWORD milliseconds) {
        std::unique_lock<std::mutex> lock(mutex_);
        auto ready = [this] { return signalled_; };
        if (milliseconds == INFINITE) {
            cv_.wait(lock, ready);
        } else if (!cv_.wait_for(lock, std::chrono::milliseconds(milliseconds), ready)) {
            return false;
        }
        if (!manualReset_) {
            signalled_ = false;
        }
        return true;
    }

  private:
    const bool manualReset_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_;
};

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
    std::uintptr_t next = 0x1000;
};

HandleTable& Table() {
    static HandleTable* table = new HandleTable;  // lives until exit, used from any thread
    return *table;
}

std::shared_ptr<Event> LookupEvent(HANDLE handle) {
    return LookupHandleAs<Event>(handle);
}

}  // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
    HandleTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    const std::uintptr_t value = t.next;
    t.next += 4;
    t.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
    HandleTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == t.objects.end() ? nullptr : it->second;
}

}  // namespace detail

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR) {
    return detail::InsertHandle(
        std::make_shared<detail::Event>(manualReset != FALSE, initialState != FALSE));
}

BOOL SetEvent(HANDLE event) {
    auto e = detail::LookupEvent(event);
    if (!e) {
        return FALSE;
    }
    e->Set();
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    auto e = detail::LookupEvent(event);
    if (!e) {
        return FALSE;
    }
    e->Reset();
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    // The lookup keeps the event alive for the wait even if another thread
    // closes the handle meanwhile.
    auto e = detail::LookupEvent(handle);
    if (!e) {
        return WAIT_FAILED;
    }
    return e->Wait(milliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

BOOL CloseHandle(HANDLE handle) {
    std::shared_ptr<detail::KernelObject> doomed;  // destroyed after the lock is released
    detail::HandleTable& t = detail::Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == t.objects.end()) {
        return FALSE;
    }
    doomed = std::move(it->second);
    t.objects.erase(it);
    return TRUE;
}

long OpenHandleCount() {
    detail::HandleTable& t = detail::Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    return static_cast<long>(t.objects.size());
}

}  // namespace brisk::softgpu
