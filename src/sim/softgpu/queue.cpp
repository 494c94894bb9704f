// The direct queue: executes command lists on the CPU at submission.
#include <cstdio>
#include <string>

#include "sim/softgpu/objects.h"

namespace brisk::softgpu::detail {
namespace {

std::atomic<UINT64> executions{0};

std::string StateText(UINT state) {
    char buf[16];
    std::snprintf(buf, sizeof(buf), "0x%x", state);
    return buf;
}

ClearOp ToClearOp(const Command& c, const std::vector<D3D12_RECT>& rects) {
    ClearOp op;
    op.color = c.color;
    if (!HasAlpha(c.format)) {
        op.color[3] = 1.0f;
    }
    for (std::size_t i = 0; i < c.rectCount; ++i) {
        const D3D12_RECT& r = rects[c.firstRect + i];
        op.rects.push_back(ClearRect{r.left, r.top, r.right, r.bottom});
    }
    return op;
}

}  // namespace

void CommandQueue::ExecuteCommandLists(UINT count, ID3D12CommandList* const* lists) {
    if (count > 0 && lists == nullptr) {
        ReportValidationError("ExecuteCommandLists without lists");
        return;
    }
    for (UINT i = 0; i < count; ++i) {
        auto* list = dynamic_cast<CommandList*>(lists[i]);
        if (list == nullptr) {
            ReportValidationError("ExecuteCommandLists: not a command list of this GPU");
            continue;
        }
        if (list->recording()) {
            ReportValidationError("ExecuteCommandLists with a list that is not closed");
            continue;
        }
        if (device()->IsRemoved()) {
            return;  // a removed device runs nothing
        }
        Execute(*list);
    }
}

void CommandQueue::Execute(const CommandList& list) {
    const UINT64 execution = executions.fetch_add(1);
    CaptureClaim capture = ClaimCapture(list, execution);
    std::vector<ClearOp> captured;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const Command& c : list.commands()) {
            SurfaceStorage& s = c.resource->storage();
            if (c.kind == Command::Kind::kBarrier) {
                const UINT state = s.state.exchange(c.stateAfter);
                if (state != c.stateBefore) {
                    ReportValidationError("ResourceBarrier: StateBefore " +
                                          StateText(c.stateBefore) +
                                          " but the resource is in state " + StateText(state));
                }
                continue;
            }
            if ((s.state.load() & D3D12_RESOURCE_STATE_RENDER_TARGET) == 0) {
                ReportValidationError(
                    "ClearRenderTargetView of a resource not in the RENDER_TARGET state (state " +
                    StateText(s.state.load()) + ")");
            }
            if (capture.active && &s == capture.target) {
                captured.push_back(ToClearOp(c, list.rects()));
            }
        }
    }
    if (!capture.active) {
        return;
    }
    CapturedFrame frame;
    const D3D12_RESOURCE_DESC desc = capture.target->desc;
    frame.width = static_cast<UINT>(desc.Width);
    frame.height = desc.Height;
    frame.execution = execution;
    for (const Command& c : list.commands()) {
        if (c.kind == Command::Kind::kClear && &c.resource->storage() == capture.target) {
            frame.format = c.format;
            break;
        }
    }
    frame.rgba = RasterizeClears(frame.width, frame.height, captured);
    capture.onCapture(frame);
}

HRESULT CommandQueue::Signal(ID3D12Fence* fence, UINT64 value) {
    auto* f = dynamic_cast<Fence*>(fence);
    if (f == nullptr) {
        return E_INVALIDARG;
    }
    if (device()->IsRemoved()) {
        return DXGI_ERROR_DEVICE_REMOVED;
    }
    // Everything submitted before has already run, so the value is reached now.
    return f->Signal(value);
}

}  // namespace brisk::softgpu::detail
