// The virtual display on its own: what the presenter relies on, and the
// misuse it refuses the way a driver would.
#include <chrono>
#include <thread>

#include "sim/softgpu/softgpu.h"
#include "sim/virtual_display.h"

#include <gtest/gtest.h>

namespace brisk::sim {
namespace {

using namespace std::chrono_literals;

DirectModeDisplay Headset(VirtualDisplay& d) {
    uint32_t count = 1;
    DirectModeDisplay record{};
    EXPECT_EQ(d.EnumerateDisplays(kVendorId, &count, &record, 1), kNvOk);
    EXPECT_EQ(count, 1u);
    return record;
}

TEST(VirtualDisplay, ListsExactlyOneNativeModeAmongOthers) {
    VirtualDisplay d;
    const DirectModeDisplay h = Headset(d);
    EXPECT_EQ(h.displayId, VirtualDisplay::kHeadsetDisplayId);
    uint32_t count = 0;
    ASSERT_EQ(d.GetDisplayModes(&h, &count, nullptr, 0), kNvOk);
    ASSERT_GT(count, 1u);
    std::vector<DirectModeMode> modes(count);
    for (DirectModeMode& m : modes) {
        m.version = kModeRecordVersion;
    }
    ASSERT_EQ(d.GetDisplayModes(&h, &count, modes.data(), 0), kNvOk);
    int native = 0;
    for (const DirectModeMode& m : modes) {
        native += m.width == 5088 && m.height == 2544 && m.refreshDenominator != 0 &&
                  m.refreshNumerator == 75 * m.refreshDenominator && m.format == 22;
    }
    EXPECT_EQ(native, 1);
}

TEST(VirtualDisplay, WritesNoMoreRecordsThanItIsGivenAndChecksTheirVersion) {
    VirtualDisplay d({.displayCount = 2});
    DirectModeDisplay two[3] = {};
    uint32_t count = 1;
    ASSERT_EQ(d.EnumerateDisplays(kVendorId, &count, two, 1), kNvOk);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(two[1].displayId, 0u);
    count = 3;
    ASSERT_EQ(d.EnumerateDisplays(kVendorId, &count, two, 1), kNvOk);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(two[1].displayId, VirtualDisplay::kOtherDisplayId);

    DirectModeMode modes[2] = {};
    modes[0].version = kModeRecordVersion;
    count = 2;
    EXPECT_EQ(d.GetDisplayModes(&two[0], &count, modes, 0), kNvIncompatibleStructVersion);
    EXPECT_EQ(modes[0].width, 0u);
    // A record that was not handed out as enumerated is not a display.
    DirectModeDisplay forged = two[0];
    forged.opaque[1] ^= 1;
    EXPECT_EQ(d.GetDisplayModes(&forged, &count, nullptr, 0), kNvInvalidArgument);
}

TEST(VirtualDisplay, SetsOnlyListedModesAndOnlyWhenAcquired) {
    VirtualDisplay d;
    const DirectModeDisplay h = Headset(d);
    const DirectModeMode native = MakeDirectModeMode(5088, 2544, 75, 1, 22);
    EXPECT_EQ(d.SetMode(&h, &native), kNvError);  // not acquired
    ComPtr<ID3D12Device> dev;
    ASSERT_GE(D3D12CreateDevice(nullptr, D3D_FEATURE_LEVEL_11_0, IID_PPV_ARGS(&dev)), 0);
    ASSERT_EQ(d.Acquire(kVendorId, dev.Get(), &h), kNvOk);
    const DirectModeMode unlisted = MakeDirectModeMode(5088, 2544, 76, 1, 22);
    EXPECT_EQ(d.SetMode(&h, &unlisted), kNvInvalidArgument);
    EXPECT_EQ(d.SetMode(&h, &native), kNvOk);
    EXPECT_TRUE(d.State().modeSet);
    EXPECT_EQ(d.Release(kVendorId, &h), kNvOk);
    EXPECT_EQ(d.Release(kVendorId, &h), kNvInvalidArgument);
    EXPECT_EQ(d.State().releases, 1u);
}

TEST(VirtualDisplay, TheWaitableFollowsTheScanOutMode) {
    VirtualDisplay d;
    const DirectModeDisplay h = Headset(d);
    HANDLE waitable = nullptr;
    ASSERT_EQ(d.GetWaitable(&h, &waitable), kNvOk);
    ASSERT_NE(waitable, nullptr);

    // Paced: about 75 scan-outs a second, each taken by one wait.
    const auto start = std::chrono::steady_clock::now();
    int signals = 0;
    while (std::chrono::steady_clock::now() - start < 400ms) {
        signals += WaitForSingleObject(waitable, 1000) == WAIT_OBJECT_0;
    }
    EXPECT_GE(signals, 15);
    EXPECT_LE(signals, 34);

    d.SetVsync(Vsync::Stopped);
    EXPECT_EQ(WaitForSingleObject(waitable, 100), WAIT_TIMEOUT);

    // Free: signalled now, and again by every present.
    d.SetVsync(Vsync::Free);
    EXPECT_EQ(WaitForSingleObject(waitable, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(waitable, 50), WAIT_TIMEOUT);  // nothing presented yet
}

TEST(VirtualDisplay, PresentsNeedAnAcquiredDisplayAndOneOfItsSurfaces) {
    VirtualDisplay d;
    const DirectModeDisplay h = Headset(d);
    ComPtr<ID3D12Device> dev;
    ASSERT_GE(D3D12CreateDevice(nullptr, D3D_FEATURE_LEVEL_11_0, IID_PPV_ARGS(&dev)), 0);
    D3D12_COMMAND_QUEUE_DESC qd = {};
    ComPtr<ID3D12CommandQueue> queue;
    ASSERT_GE(dev->CreateCommandQueue(&qd, IID_PPV_ARGS(&queue)), 0);
    DirectModeSurface surface = 0;
    HANDLE shared = nullptr;
    const DirectModeMode native = MakeDirectModeMode(5088, 2544, 75, 1, 22);
    EXPECT_EQ(d.CreateSurface(&h, &native, &surface, &shared), kNvError);  // not acquired
    ASSERT_EQ(d.Acquire(kVendorId, dev.Get(), &h), kNvOk);
    ASSERT_EQ(d.CreateSurface(&h, &native, &surface, &shared), kNvOk);
    ASSERT_EQ(d.State().surfaces.size(), 1u);
    EXPECT_EQ(d.State().surfaces[0].id, surface);
    EXPECT_EQ(d.State().surfaces[0].shared, shared);

    EXPECT_EQ(d.Present(&h, surface + 1, 1, queue.Get(), nullptr), kNvInvalidArgument);
    d.FailNextPresents(1);
    EXPECT_EQ(d.Present(&h, surface, 1, queue.Get(), nullptr), kNvError);
    EXPECT_EQ(d.Present(&h, surface, 1, queue.Get(), nullptr), kNvOk);
    EXPECT_EQ(d.State().presents, 1u);
    EXPECT_EQ(d.State().lastPresented, surface);
}

TEST(VirtualDisplay, ARemovalBeforeTheAcquireHitsTheDeviceAcquiredWith) {
    VirtualDisplay d;
    const DirectModeDisplay h = Headset(d);
    d.RemoveDevice(DXGI_ERROR_DEVICE_HUNG);
    ComPtr<ID3D12Device> dev;
    ASSERT_GE(D3D12CreateDevice(nullptr, D3D_FEATURE_LEVEL_11_0, IID_PPV_ARGS(&dev)), 0);
    EXPECT_EQ(dev->GetDeviceRemovedReason(), 0);
    ASSERT_EQ(d.Acquire(kVendorId, dev.Get(), &h), kNvOk);
    EXPECT_EQ(dev->GetDeviceRemovedReason(), DXGI_ERROR_DEVICE_HUNG);
}

}  // namespace
}  // namespace brisk::sim
