// Internal: the process-wide handle table behind events and shared surfaces,
// and the misuse and object counters.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "sim/softgpu/d3d12_api.h"

namespace brisk::softgpu::detail {

// Anything a HANDLE can name.
class KernelObject {
  public:
    virtual ~KernelObject() = default;
};

// What a shared-surface handle and the resources opened from it share.
struct SurfaceStorage {
    D3D12_RESOURCE_DESC desc{};
    std::atomic<UINT> state{D3D12_RESOURCE_STATE_COMMON};
};

class SurfaceObject : public KernelObject {
  public:
    explicit SurfaceObject(std::shared_ptr<SurfaceStorage> s) : storage(std::move(s)) {}
    std::shared_ptr<SurfaceStorage> storage;
};

// Handles are never reused, so a stale handle fails instead of naming another object.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

void ReportValidationError(std::string message);
void CountLiveObject(long delta);

}  // namespace brisk::softgpu::detail
