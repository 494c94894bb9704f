// The presenter's device state, shared by its set-up, its loop and its
// destructor. Private to src/present.
#pragma once

#include <mutex>

#include "platform/directmode.h"
#include "platform/gpu.h"
#include "present/nvapi_d3d12_presenter.h"

namespace brisk {

struct NvapiD3d12Presenter::Impl {
    Impl() = default;
    ~Impl();
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    DirectModeDisplay display{};
    DirectModeMode mode{};
    double refreshHz = 75.0;
    ComPtr<ID3D12Device> dev;
    ComPtr<ID3D12CommandQueue> queue;
    ComPtr<ID3D12CommandAllocator> alloc;
    ComPtr<ID3D12GraphicsCommandList> list;
    ComPtr<ID3D12Fence> fence;
    HANDLE fenceEvent = nullptr;
    uint64_t fenceValue = 0;
    DirectModeSurface surf[2] = {0, 0};
    ComPtr<ID3D12Resource> res[2];
    ComPtr<ID3D12DescriptorHeap> rtvHeap;
    D3D12_CPU_DESCRIPTOR_HANDLE rtv[2] = {};
    DXGI_FORMAT rtvFormat = DXGI_FORMAT_UNKNOWN;
    uint32_t width = 0;
    uint32_t height = 0;
    HANDLE waitable = nullptr;
    bool hasWaitable = false;
    bool acquired = false;
    std::mutex statsMutex;
    PresentStats stats;
};

}  // namespace brisk
