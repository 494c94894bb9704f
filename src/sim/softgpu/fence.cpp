// Fences: completion values, events on completion, and removal.
#include <cstdint>

#include "sim/softgpu/objects.h"

namespace brisk::softgpu::detail {

Fence::Fence(Device* device, UINT64 initialValue) : DeviceChild(device), value_(initialValue) {
    device->AddFence(this);
}

Fence::~Fence() {
    device()->DropFence(this);
}

UINT64 Fence::GetCompletedValue() {
    std::lock_guard<std::mutex> lock(mutex_);
    return value_;
}

HRESULT Fence::SetEventOnCompletion(UINT64 value, HANDLE event) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (value_ >= value) {
        lock.unlock();
        if (event != nullptr) {
            SetEvent(event);
        }
        return S_OK;
    }
    if (event == nullptr) {
        // As on Direct3D 12: no event means the call itself waits.
        reached_.wait(lock, [&] { return value_ >= value; });
        return S_OK;
    }
    waiters_.push_back(Waiter{value, event});
    return S_OK;
}

HRESULT Fence::Signal(UINT64 value) {
    Complete(value, false);
    return S_OK;
}

void Fence::OnDeviceRemoved() {
    Complete(UINT64_MAX, true);
}

void Fence::Complete(UINT64 value, bool removal) {
    std::vector<HANDLE> ready;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (removed_) {
            return;  // a removed device's fences stay at UINT64_MAX
        }
        removed_ = removal;
        value_ = value;
        for (auto it = waiters_.begin(); it != waiters_.end();) {
            if (it->value <= value_) {
                ready.push_back(it->event);
                it = waiters_.erase(it);
            } else {
                ++it;
            }
        }
    }
    reached_.notify_all();
    for (HANDLE event : ready) {
        SetEvent(event);
    }
}

}  // namespace brisk::softgpu::detail
