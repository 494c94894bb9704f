// What every backend's set-up creates alike once it has its device: the
// objects the present loop records, submits and waits with.
#include "base/output.h"
#include "present/present_loop.h"
#include "present/presenter_print.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {
namespace {

// CreateEventA reports failure with a null handle; as an HRESULT it is checked
// like the Direct3D calls around it.
HRESULT CreateFenceEvent(HANDLE* event) {
    *event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return *event != nullptr ? S_OK : E_FAIL;
}

}  // namespace

bool HrOk(HRESULT hr, const char* call, int line) {
    if (hr >= 0) {
        return true;
    }
    Print(stderr, "Presenter: %s = 0x%lx (line %d)\n", call, HresultHex(hr), line);
    return false;
}

bool CreateLoopObjects(PresentGpu& im) {
    D3D12_COMMAND_QUEUE_DESC qd = {};
    qd.Type = D3D12_COMMAND_LIST_TYPE_DIRECT;
    qd.Priority = D3D12_COMMAND_QUEUE_PRIORITY_NORMAL;
    qd.Flags = D3D12_COMMAND_QUEUE_FLAG_NONE;
    qd.NodeMask = 0;
    HR_CHECK(im.dev->CreateCommandQueue(&qd, IID_PPV_ARGS(&im.queue)));
    // clang-format off
    HR_CHECK(im.dev->CreateCommandAllocator(D3D12_COMMAND_LIST_TYPE_DIRECT,
                                            IID_PPV_ARGS(&im.alloc)));
    HR_CHECK(im.dev->CreateCommandList(0, D3D12_COMMAND_LIST_TYPE_DIRECT, im.alloc.Get(), nullptr,
                                       IID_PPV_ARGS(&im.list)));
    // clang-format on
    // Left closed: the loop resets it at the top of every frame.
    HR_CHECK(im.list->Close());
    HR_CHECK(im.dev->CreateFence(0, D3D12_FENCE_FLAG_NONE, IID_PPV_ARGS(&im.fence)));
    HR_CHECK(CreateFenceEvent(&im.fenceEvent));
    return true;
}

bool CreateRtvHeap(PresentGpu& im) {
    D3D12_DESCRIPTOR_HEAP_DESC hd = {};
    hd.Type = D3D12_DESCRIPTOR_HEAP_TYPE_RTV;
    hd.NumDescriptors = 2;
    hd.Flags = D3D12_DESCRIPTOR_HEAP_FLAG_NONE;
    hd.NodeMask = 0;
    HR_CHECK(im.dev->CreateDescriptorHeap(&hd, IID_PPV_ARGS(&im.rtvHeap)));
    const UINT inc = im.dev->GetDescriptorHandleIncrementSize(D3D12_DESCRIPTOR_HEAP_TYPE_RTV);
    const D3D12_CPU_DESCRIPTOR_HANDLE start = im.rtvHeap->GetCPUDescriptorHandleForHeapStart();
    for (int i = 0; i < 2; ++i) {
        im.rtv[i].ptr = start.ptr + static_cast<size_t>(i) * inc;
    }
    return true;
}

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
