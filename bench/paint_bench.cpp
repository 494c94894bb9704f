// The frame painter's recording of one frame on the software device at the
// headset's 5088x2544: reset the allocator and list, DrawFrame (four clears
// when the IMU is not fresh, five with the needles when it is), close. This
// runs on the present loop's thread every frame, between the loop's barriers.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "app/frame_geometry.h"
#include "app/frame_painter.h"
#include "bench_quiet.h"
#include "bench_targets.h"
#include "imu/tundra_imu.h"
#include "platform/gpu.h"
#include "sim/usb_bus.h"
#include "sim/virtual_mcu.h"
#include "sim/watchman.h"

namespace brisk {
namespace {

constexpr UINT kWidth = 5088;
constexpr UINT kHeight = 2544;

// What the presenter creates for painting, on the software GPU: a device, an
// allocator, a closed list and one shared scan-out surface with its view.
struct PaintTarget {
    ComPtr<ID3D12Device> dev;
    ComPtr<ID3D12CommandAllocator> alloc;
    ComPtr<ID3D12GraphicsCommandList> list;
    HANDLE shared = nullptr;
    ComPtr<ID3D12Resource> res;
    ComPtr<ID3D12DescriptorHeap> heap;
    D3D12_CPU_DESCRIPTOR_HANDLE rtv{};

    bool Create() {
        ComPtr<IDXGIAdapter> adapter = softgpu::CreateSoftwareAdapter();
        if (D3D12CreateDevice(adapter.Get(), D3D_FEATURE_LEVEL_11_0, IID_PPV_ARGS(&dev)) != S_OK ||
            dev->CreateCommandAllocator(D3D12_COMMAND_LIST_TYPE_DIRECT, IID_PPV_ARGS(&alloc)) !=
                S_OK ||
            dev->CreateCommandList(0, D3D12_COMMAND_LIST_TYPE_DIRECT, alloc.Get(), nullptr,
                                   IID_PPV_ARGS(&list)) != S_OK ||
            list->Close() != S_OK) {
            return false;
        }
        D3D12_DESCRIPTOR_HEAP_DESC hd = {};
        hd.Type = D3D12_DESCRIPTOR_HEAP_TYPE_RTV;
        hd.NumDescriptors = 1;
        shared = softgpu::CreateSharedSurface(kWidth, kHeight, DXGI_FORMAT_R8G8B8A8_TYPELESS);
        if (shared == nullptr || dev->OpenSharedHandle(shared, IID_PPV_ARGS(&res)) != S_OK ||
            dev->CreateDescriptorHeap(&hd, IID_PPV_ARGS(&heap)) != S_OK) {
            return false;
        }
        D3D12_RENDER_TARGET_VIEW_DESC rd = {};
        rd.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
        rd.ViewDimension = D3D12_RTV_DIMENSION_TEXTURE2D;
        rtv = heap->GetCPUDescriptorHandleForHeapStart();
        dev->CreateRenderTargetView(res.Get(), &rd, rtv);
        return true;
    }

    ~PaintTarget() {
        if (shared != nullptr) {
            CloseHandle(shared);
        }
    }
};

// A Watchman streaming at its default rate on a bus of its own, paired with
// the headset's MCU so the IMU stream picks it without a serial.
struct StreamingImu {
    sim::UsbBus bus;
    std::unique_ptr<TundraImu> imu;

    bool Start() {
        bus.Attach(sim::WatchmanDevice(L"LHR-5A1B2C3D", {L"0000:00:14.0", {3, 2}},
                                       std::make_shared<sim::WatchmanModel>()));
        bus.Attach(sim::McuUsbDevice({L"0000:00:14.0", {3, 1}},
                                     {std::make_shared<sim::SilentInterface>()}));
        imu = std::make_unique<TundraImu>(bus);
        return imu->Start("");
    }
    ~StreamingImu() { imu.reset(); }
};

bool IsFresh(const TundraImu& imu) {
    ImuSample s;
    double age = 1e9;
    const bool have = imu.Latest(s, &age);
    return ImuIsFresh(have, imu.IsRunning(), age);
}

bool WaitUntilFresh(const TundraImu& imu) {
    for (int i = 0; i < 500 && !IsFresh(imu); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return IsFresh(imu);
}

void BM_PaintFrame(benchmark::State& state, bool imuStreaming) {
    bench::SetTarget(state, 2000.0);
    bench::QuietOutput quiet;
    PaintTarget target;
    StreamingImu streaming;
    sim::UsbBus emptyBus;
    TundraImu idleImu(emptyBus);  // never started: no sample, four clears
    TundraImu* imu = &idleImu;
    std::string why;
    if (!target.Create()) {
        why = "the software device could not be set up";
    } else if (imuStreaming && !(streaming.Start() && WaitUntilFresh(*streaming.imu))) {
        why = "the virtual Watchman did not stream";
    }
    if (imuStreaming && streaming.imu) {
        imu = streaming.imu.get();
    }
    const std::string printed = quiet.Restore();
    if (!why.empty()) {
        state.SkipWithError((why + ": " + printed).c_str());
        return;
    }

    FrameContext fc = {};
    fc.list = target.list.Get();
    fc.rtv = &target.rtv;
    fc.width = static_cast<int32_t>(kWidth);
    fc.height = static_cast<int32_t>(kHeight);
    fc.rtvFormat = DXGI_FORMAT_R8G8B8A8_UNORM;
    const UINT64 misuseBefore = softgpu::ValidationErrorCount();
    for (auto _ : state) {
        target.alloc->Reset();
        target.list->Reset(target.alloc.Get(), nullptr);
        DrawFrame(fc, *imu);
        target.list->Close();
        fc.seconds += 1.0 / 75.0;  // the bars move as they do on the panels
        ++fc.frameIndex;
    }
    if (softgpu::ValidationErrorCount() != misuseBefore) {
        state.SkipWithError(
            ("the software device reported misuse: " + softgpu::LastValidationError()).c_str());
    } else if (IsFresh(*imu) != imuStreaming) {
        state.SkipWithError("the IMU's freshness changed during the run");
    }
    state.counters["clears"] = imuStreaming ? 5 : 4;
}
BENCHMARK_CAPTURE(BM_PaintFrame, imu_idle, false);
BENCHMARK_CAPTURE(BM_PaintFrame, imu_fresh, true);

}  // namespace
}  // namespace brisk

int main(int argc, char** argv) {
    return brisk::bench::RunWithTargets(argc, argv);
}
