#include "sim/softgpu/softgpu_fixture.h"

namespace brisk::softgpu::test {

void SoftGpuTest::SetUp() {
    LeakCheck::SetUp();
    ComPtr<IDXGIAdapter> adapter = CreateSoftwareAdapter();
    ASSERT_EQ(S_OK, D3D12CreateDevice(adapter.Get(), D3D_FEATURE_LEVEL_11_0, IID_PPV_ARGS(&dev)));
    D3D12_COMMAND_QUEUE_DESC qd = {};
    qd.Type = D3D12_COMMAND_LIST_TYPE_DIRECT;
    ASSERT_EQ(S_OK, dev->CreateCommandQueue(&qd, IID_PPV_ARGS(&queue)));
    ASSERT_EQ(S_OK,
              dev->CreateCommandAllocator(D3D12_COMMAND_LIST_TYPE_DIRECT, IID_PPV_ARGS(&alloc)));
    ASSERT_EQ(S_OK, dev->CreateCommandList(0, D3D12_COMMAND_LIST_TYPE_DIRECT, alloc.Get(), nullptr,
                                           IID_PPV_ARGS(&list)));
    ASSERT_EQ(S_OK, list->Close());
    ASSERT_EQ(S_OK, dev->CreateFence(0, D3D12_FENCE_FLAG_NONE, IID_PPV_ARGS(&fence)));
    fenceEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(fenceEvent, nullptr);
    D3D12_DESCRIPTOR_HEAP_DESC hd = {};
    hd.Type = D3D12_DESCRIPTOR_HEAP_TYPE_RTV;
    hd.NumDescriptors = 2;
    ASSERT_EQ(S_OK, dev->CreateDescriptorHeap(&hd, IID_PPV_ARGS(&heap)));
    increment = dev->GetDescriptorHandleIncrementSize(D3D12_DESCRIPTOR_HEAP_TYPE_RTV);
    for (int i = 0; i < 2; ++i) {
        shared[i] = CreateSharedSurface(kWidth, kHeight, DXGI_FORMAT_R8G8B8A8_TYPELESS);
        ASSERT_NE(shared[i], nullptr);
        ASSERT_EQ(S_OK, dev->OpenSharedHandle(shared[i], IID_PPV_ARGS(&res[i])));
        MakeView(res[i].Get(), DXGI_FORMAT_R8G8B8A8_UNORM, i);
    }
}

void SoftGpuTest::TearDown() {
    for (HANDLE h : shared) {
        if (h != nullptr) {
            EXPECT_TRUE(CloseHandle(h));
        }
    }
    if (fenceEvent != nullptr) {
        EXPECT_TRUE(CloseHandle(fenceEvent));
    }
    // Release in the presenter's order: views before surfaces, device last.
    heap.Reset();
    res[1].Reset();
    res[0].Reset();
    fence.Reset();
    list.Reset();
    alloc.Reset();
    queue.Reset();
    dev.Reset();
    LeakCheck::TearDown();
}

void SoftGpuTest::MakeView(ID3D12Resource* r, DXGI_FORMAT format, int slot) {
    D3D12_RENDER_TARGET_VIEW_DESC rd = {};
    rd.Format = format;
    rd.ViewDimension = D3D12_RTV_DIMENSION_TEXTURE2D;
    dev->CreateRenderTargetView(r, &rd, Rtv(slot));
}

D3D12_CPU_DESCRIPTOR_HANDLE SoftGpuTest::Rtv(int slot) const {
    D3D12_CPU_DESCRIPTOR_HANDLE h = heap->GetCPUDescriptorHandleForHeapStart();
    h.ptr += static_cast<SIZE_T>(slot) * increment;
    return h;
}

void SoftGpuTest::Transition(ID3D12Resource* r, D3D12_RESOURCE_STATES before,
                             D3D12_RESOURCE_STATES after) {
    D3D12_RESOURCE_BARRIER b = {};
    b.Type = D3D12_RESOURCE_BARRIER_TYPE_TRANSITION;
    b.Flags = D3D12_RESOURCE_BARRIER_FLAG_NONE;
    b.Transition.pResource = r;
    b.Transition.Subresource = D3D12_RESOURCE_BARRIER_ALL_SUBRESOURCES;
    b.Transition.StateBefore = before;
    b.Transition.StateAfter = after;
    list->ResourceBarrier(1, &b);
}

void SoftGpuTest::Submit() {
    ID3D12CommandList* lists[] = {list.Get()};
    queue->ExecuteCommandLists(1, lists);
    ++fenceValue;
    queue->Signal(fence.Get(), fenceValue);
    if (fence->GetCompletedValue() < fenceValue) {
        fence->SetEventOnCompletion(fenceValue, fenceEvent);
        WaitForSingleObject(fenceEvent, 1000);
    }
}

}  // namespace brisk::softgpu::test
