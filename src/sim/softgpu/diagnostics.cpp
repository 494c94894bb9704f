// Process-wide bookkeeping: misuse and object counters, and the frame capture.
#include <mutex>

#include "sim/softgpu/objects.h"

namespace brisk::softgpu {
namespace detail {
namespace {

std::atomic<long> liveObjects{0};
std::atomic<UINT64> validationErrors{0};

struct Shared {
    std::mutex mutex;
    std::string lastError;  // guarded by mutex
    // The armed capture, guarded by mutex.
    bool armed = false;
    UINT64 skip = 0;
    CaptureCallback onCapture;
    std::shared_ptr<SurfaceStorage> filter;
};

Shared& State() {
    static Shared* shared = new Shared;  // used from any thread until exit
    return *shared;
}

// The surface `list` clears first, or null when it clears nothing.
SurfaceStorage* FirstClearTarget(const CommandList& list) {
    for (const Command& c : list.commands()) {
        if (c.kind == Command::Kind::kClear) {
            return &c.resource->storage();
        }
    }
    return nullptr;
}

bool ClearsSurface(const CommandList& list, const SurfaceStorage* surface) {
    for (const Command& c : list.commands()) {
        if (c.kind == Command::Kind::kClear && &c.resource->storage() == surface) {
            return true;
        }
    }
    return false;
}

std::atomic<bool> captureArmed{false};  // lets executions skip the lock when nothing is armed

}  // namespace

void ReportValidationError(std::string message) {
    Shared& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.lastError = std::move(message);
    validationErrors.fetch_add(1);
}

void CountLiveObject(long delta) {
    liveObjects.fetch_add(delta);
}

CaptureClaim ClaimCapture(const CommandList& list, UINT64 execution) {
    CaptureClaim claim;
    if (!captureArmed.load()) {
        return claim;
    }
    Shared& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.armed) {
        return claim;
    }
    SurfaceStorage* target = s.filter ? s.filter.get() : FirstClearTarget(list);
    if (target == nullptr || !ClearsSurface(list, target)) {
        return claim;
    }
    if (s.skip > 0) {
        --s.skip;
        return claim;
    }
    claim.active = true;
    claim.target = target;
    claim.execution = execution;
    claim.onCapture = std::move(s.onCapture);
    s.armed = false;
    s.filter.reset();
    captureArmed.store(false);
    return claim;
}

}  // namespace detail

void ArmCapture(UINT64 skip, CaptureCallback onCapture, HANDLE surface) {
    std::shared_ptr<detail::SurfaceStorage> filter;
    if (surface != nullptr) {
        auto object = detail::LookupHandleAs<detail::SurfaceObject>(surface);
        if (!object) {
            detail::ReportValidationError("ArmCapture: not a shared-surface handle");
            return;
        }
        filter = object->storage;
    }
    detail::Shared& s = detail::State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.armed = static_cast<bool>(onCapture);
    s.skip = skip;
    s.onCapture = std::move(onCapture);
    s.filter = std::move(filter);
    detail::captureArmed.store(s.armed);
}

void DisarmCapture() {
    CaptureCallback doomed;  // destroyed without the lock
    detail::Shared& s = detail::State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.armed = false;
    doomed = std::move(s.onCapture);
    s.filter.reset();
    detail::captureArmed.store(false);
}

bool CaptureArmed() {
    return detail::captureArmed.load();
}

UINT64 ValidationErrorCount() {
    return detail::validationErrors.load();
}

std::string LastValidationError() {
    detail::Shared& s = detail::State();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.lastError;
}

long LiveObjectCount() {
    return detail::liveObjects.load();
}

}  // namespace brisk::softgpu
