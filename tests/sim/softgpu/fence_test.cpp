#include <cstdint>
#include <thread>

#include "sim/softgpu/softgpu_fixture.h"

namespace brisk::softgpu::test {
namespace {

using Fences = SoftGpuTest;

TEST_F(Fences, QueueSignalCompletesAtOnceBecauseWorkRunsAtSubmission) {
    EXPECT_EQ(fence->GetCompletedValue(), 0u);
    Frame(0, [&](D3D12_CPU_DESCRIPTOR_HANDLE) {});
    EXPECT_EQ(fence->GetCompletedValue(), 1u);
    EXPECT_EQ(NewErrors(), 0u);
}

TEST_F(Fences, EventOnCompletionIsSignalledWhenTheValueIsReachedOrAtOnceIfItWas) {
    EXPECT_EQ(S_OK, fence->SetEventOnCompletion(0, fenceEvent));  // already reached
    EXPECT_EQ(WaitForSingleObject(fenceEvent, 0), WAIT_OBJECT_0);

    HANDLE later = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(S_OK, fence->SetEventOnCompletion(2, fenceEvent));
    EXPECT_EQ(S_OK, fence->SetEventOnCompletion(5, later));
    EXPECT_EQ(S_OK, queue->Signal(fence.Get(), 1));
    EXPECT_EQ(WaitForSingleObject(fenceEvent, 0), WAIT_TIMEOUT);
    EXPECT_EQ(S_OK, fence->Signal(3));  // CPU-side signal passes 2, not 5
    EXPECT_EQ(WaitForSingleObject(fenceEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(later, 0), WAIT_TIMEOUT);
    EXPECT_EQ(S_OK, queue->Signal(fence.Get(), 5));
    EXPECT_EQ(WaitForSingleObject(later, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(later));
}

TEST_F(Fences, WithoutAnEventTheCallWaitsForTheValue) {
    std::thread signaller([this] {
        Sleep(30);
        fence->Signal(7);
    });
    EXPECT_EQ(S_OK, fence->SetEventOnCompletion(7, nullptr));
    EXPECT_GE(fence->GetCompletedValue(), 7u);
    signaller.join();
}

using Removal = SoftGpuTest;

TEST_F(Removal, RemovedDeviceReportsReasonCompletesFencesAndRunsNothing) {
    EXPECT_EQ(dev->GetDeviceRemovedReason(), S_OK);
    EXPECT_EQ(S_OK, fence->SetEventOnCompletion(10, fenceEvent));
    std::thread blocked([this] { fence->SetEventOnCompletion(20, nullptr); });

    RemoveAllDevices();

    blocked.join();  // released, not hung
    EXPECT_EQ(dev->GetDeviceRemovedReason(), DXGI_ERROR_DEVICE_REMOVED);
    EXPECT_EQ(fence->GetCompletedValue(), UINT64_MAX);
    EXPECT_EQ(WaitForSingleObject(fenceEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(S_OK, fence->SetEventOnCompletion(UINT64_MAX, fenceEvent));
    EXPECT_EQ(WaitForSingleObject(fenceEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(queue->Signal(fence.Get(), 30), DXGI_ERROR_DEVICE_REMOVED);
    EXPECT_EQ(fence->GetCompletedValue(), UINT64_MAX);

    bool captured = false;
    ArmCapture(0, [&](const CapturedFrame&) { captured = true; });
    const FLOAT red[4] = {1, 0, 0, 1};
    Frame(0, [&](D3D12_CPU_DESCRIPTOR_HANDLE rtv) {
        list->ClearRenderTargetView(rtv, red, 0, nullptr);
    });
    EXPECT_FALSE(captured);

    ComPtr<ID3D12Fence> another;
    EXPECT_EQ(dev->CreateFence(0, D3D12_FENCE_FLAG_NONE, IID_PPV_ARGS(&another)),
              DXGI_ERROR_DEVICE_REMOVED);
    EXPECT_EQ(NewErrors(), 0u);
}

TEST_F(Removal, OnlyTheNamedDeviceIsRemovedAndItKeepsItsFirstReason) {
    ComPtr<ID3D12Device> other;
    ASSERT_EQ(S_OK, D3D12CreateDevice(nullptr, D3D_FEATURE_LEVEL_11_0, IID_PPV_ARGS(&other)));
    RemoveDevice(other.Get(), DXGI_ERROR_DEVICE_HUNG);
    RemoveDevice(other.Get(), DXGI_ERROR_DEVICE_RESET);
    EXPECT_EQ(other->GetDeviceRemovedReason(), DXGI_ERROR_DEVICE_HUNG);
    EXPECT_EQ(dev->GetDeviceRemovedReason(), S_OK);
    Frame(0, [&](D3D12_CPU_DESCRIPTOR_HANDLE) {});
    EXPECT_EQ(fence->GetCompletedValue(), 1u);
}

}  // namespace
}  // namespace brisk::softgpu::test
