// A device with everything the presenter creates, and the leak check every
// software-GPU test ends with.
#pragma once

#include <gtest/gtest.h>

#include "platform/gpu.h"

namespace brisk::softgpu::test {

// Counts this process's objects and handles at the start and insists they
// are back there at the end, so each test proves it leaks nothing.
class LeakCheck : public ::testing::Test {
  protected:
    void SetUp() override {
        liveAtStart_ = LiveObjectCount();
        handlesAtStart_ = OpenHandleCount();
        errorsAtStart_ = ValidationErrorCount();
    }
    void TearDown() override {
        DisarmCapture();
        EXPECT_EQ(LiveObjectCount(), liveAtStart_);
        EXPECT_EQ(OpenHandleCount(), handlesAtStart_);
    }
    // Misuse reported since the test began.
    UINT64 NewErrors() const { return ValidationErrorCount() - errorsAtStart_; }

  private:
    long liveAtStart_ = 0;
    long handlesAtStart_ = 0;
    UINT64 errorsAtStart_ = 0;
};

// Device, queue, allocator, closed list, fence and event, and two shared
// surfaces of kWidth x kHeight opened as resources with an RTV each.
class SoftGpuTest : public LeakCheck {
  protected:
    static constexpr UINT kWidth = 16;
    static constexpr UINT kHeight = 8;

    void SetUp() override;
    void TearDown() override;

    // Opens an RTV-heap slot `i` as a typed view of `res`.
    void MakeView(ID3D12Resource* res, DXGI_FORMAT format, int slot);
    D3D12_CPU_DESCRIPTOR_HANDLE Rtv(int slot) const;

    // Records PRESENT->RENDER_TARGET, `draw`, RENDER_TARGET->PRESENT into the
    // list for surface `idx`, then executes it and waits on the fence.
    template <class Draw>
    void Frame(int idx, Draw draw) {
        ASSERT_EQ(S_OK, alloc->Reset());
        ASSERT_EQ(S_OK, list->Reset(alloc.Get(), nullptr));
        Transition(res[idx].Get(), D3D12_RESOURCE_STATE_PRESENT,
                   D3D12_RESOURCE_STATE_RENDER_TARGET);
        draw(Rtv(idx));
        Transition(res[idx].Get(), D3D12_RESOURCE_STATE_RENDER_TARGET,
                   D3D12_RESOURCE_STATE_PRESENT);
        ASSERT_EQ(S_OK, list->Close());
        Submit();
    }
    void Transition(ID3D12Resource* r, D3D12_RESOURCE_STATES before, D3D12_RESOURCE_STATES after);
    // Executes the list and waits for the fence as the present loop does.
    void Submit();

    ComPtr<ID3D12Device> dev;
    ComPtr<ID3D12CommandQueue> queue;
    ComPtr<ID3D12CommandAllocator> alloc;
    ComPtr<ID3D12GraphicsCommandList> list;
    ComPtr<ID3D12Fence> fence;
    UINT64 fenceValue = 0;
    HANDLE fenceEvent = nullptr;
    HANDLE shared[2] = {};
    ComPtr<ID3D12Resource> res[2];
    ComPtr<ID3D12DescriptorHeap> heap;
    UINT increment = 0;
};

}  // namespace brisk::softgpu::test
