// Command allocators and lists: recording rules and what gets recorded.
#include <string>

#include "sim/softgpu/objects.h"

namespace brisk::softgpu::detail {

HRESULT CommandAllocator::Reset() {
    if (recorder != nullptr) {
        ReportValidationError("CommandAllocator::Reset while a command list records into it");
        return E_FAIL;
    }
    return S_OK;
}

CommandList::CommandList(Device* device, D3D12_COMMAND_LIST_TYPE type, CommandAllocator* allocator)
    : DeviceChild(device), type_(type) {
    Begin(allocator);  // a new list is open for recording
}

CommandList::~CommandList() {
    if (recording_ && allocator_->recorder == this) {
        allocator_->recorder = nullptr;
    }
}

void CommandList::Begin(CommandAllocator* allocator) {
    allocator_ = allocator;
    allocator->recorder = this;
    recording_ = true;
    commands_.clear();
    rects_.clear();
}

HRESULT CommandList::Close() {
    if (!recording_) {
        ReportValidationError("CommandList::Close on a list that is already closed");
        return E_FAIL;
    }
    recording_ = false;
    allocator_->recorder = nullptr;
    return S_OK;
}

HRESULT CommandList::Reset(ID3D12CommandAllocator* allocator, ID3D12PipelineState*) {
    if (recording_) {
        ReportValidationError("CommandList::Reset on a list that is still recording");
        return E_FAIL;
    }
    auto* alloc = dynamic_cast<CommandAllocator*>(allocator);
    if (alloc == nullptr || alloc->type() != type_) {
        ReportValidationError("CommandList::Reset with no allocator of the list's type");
        return E_INVALIDARG;
    }
    if (alloc->recorder != nullptr) {
        ReportValidationError("CommandList::Reset with an allocator another list records into");
        return E_INVALIDARG;
    }
    Begin(alloc);
    return S_OK;
}

void CommandList::ResourceBarrier(UINT count, const D3D12_RESOURCE_BARRIER* barriers) {
    if (!recording_) {
        ReportValidationError("ResourceBarrier on a closed command list");
        return;
    }
    if (count > 0 && barriers == nullptr) {
        ReportValidationError("ResourceBarrier without barriers");
        return;
    }
    for (UINT i = 0; i < count; ++i) {
        const D3D12_RESOURCE_BARRIER& b = barriers[i];
        if (b.Type != D3D12_RESOURCE_BARRIER_TYPE_TRANSITION) {
            continue;  // aliasing and UAV barriers order nothing on a CPU that runs in order
        }
        const D3D12_RESOURCE_TRANSITION_BARRIER& t = b.Transition;
        auto* res = dynamic_cast<Resource*>(t.pResource);
        if (res == nullptr) {
            ReportValidationError("ResourceBarrier: transition without a resource of this GPU");
            continue;
        }
        if (t.StateBefore == t.StateAfter) {
            ReportValidationError("ResourceBarrier: StateBefore and StateAfter are the same");
            continue;
        }
        if (t.Subresource != D3D12_RESOURCE_BARRIER_ALL_SUBRESOURCES && t.Subresource != 0) {
            ReportValidationError("ResourceBarrier: subresource " + std::to_string(t.Subresource) +
                                  " does not exist");
            continue;
        }
        Command c;
        c.kind = Command::Kind::kBarrier;
        c.resource = res;
        c.stateBefore = t.StateBefore;
        c.stateAfter = t.StateAfter;
        commands_.push_back(std::move(c));
    }
}

void CommandList::ClearRenderTargetView(D3D12_CPU_DESCRIPTOR_HANDLE view, const FLOAT color[4],
                                        UINT rectCount, const D3D12_RECT* rects) {
    if (!recording_) {
        ReportValidationError("ClearRenderTargetView on a closed command list");
        return;
    }
    if (color == nullptr || (rectCount > 0 && rects == nullptr)) {
        ReportValidationError("ClearRenderTargetView without a colour or its rectangles");
        return;
    }
    for (UINT i = 0; i < rectCount; ++i) {
        const D3D12_RECT& r = rects[i];
        if (r.left < 0 || r.top < 0 || r.right < r.left || r.bottom < r.top) {
            // Undefined in Direct3D 12 (vkd3d crashes or wraps on these); the
            // rasteriser skips what is inverted and clips what is negative.
            ReportValidationError(
                "ClearRenderTargetView: rectangle with a negative or inverted edge");
        }
    }
    // The descriptor is read now, as a GPU copies it into the list when recording.
    RtvDescriptor rtv;
    if (!device()->ReadRtv(view, &rtv)) {
        ReportValidationError(
            "ClearRenderTargetView: the handle is not a descriptor of this device");
        return;
    }
    if (!rtv.resource) {
        ReportValidationError("ClearRenderTargetView through an empty render-target view");
        return;
    }
    Command c;
    c.kind = Command::Kind::kClear;
    c.resource = std::move(rtv.resource);
    c.format = rtv.format;
    c.color = {color[0], color[1], color[2], color[3]};
    c.firstRect = rects_.size();
    c.rectCount = rectCount;
    rects_.insert(rects_.end(), rects, rects + rectCount);
    commands_.push_back(std::move(c));
}

}  // namespace brisk::softgpu::detail
