#include <optional>

#include "sim/softgpu/softgpu_fixture.h"

namespace brisk::softgpu::test {
namespace {

using Capture = SoftGpuTest;

const FLOAT kDark[4] = {0.0f, 0.25f, 0.08f, 1.0f};
const FLOAT kBar[4] = {0.4f, 0.4f, 0.4f, 1.0f};

std::array<std::uint8_t, 4> Pixel(const CapturedFrame& f, UINT x, UINT y) {
    const std::size_t i = (static_cast<std::size_t>(y) * f.width + x) * 4;
    return {f.rgba[i], f.rgba[i + 1], f.rgba[i + 2], f.rgba[i + 3]};
}

// Paints frame `n` into surface n % 2: a background, then a bar at column n.
void PaintFrame(ID3D12GraphicsCommandList* list, D3D12_CPU_DESCRIPTOR_HANDLE rtv, LONG n) {
    const D3D12_RECT whole = {0, 0, 16, 8};
    list->ClearRenderTargetView(rtv, kDark, 1, &whole);
    const D3D12_RECT bar = {n, 0, n + 1, 8};
    list->ClearRenderTargetView(rtv, kBar, 1, &bar);
}

TEST_F(Capture, NothingIsDeliveredUnlessArmed) {
    int calls = 0;
    ArmCapture(0, [&](const CapturedFrame&) { ++calls; });
    DisarmCapture();
    EXPECT_FALSE(CaptureArmed());
    Frame(0, [&](D3D12_CPU_DESCRIPTOR_HANDLE rtv) { PaintFrame(list.Get(), rtv, 0); });
    EXPECT_EQ(calls, 0);
}

TEST_F(Capture, SkipsTheGivenNumberOfClearingListsThenCapturesOnce) {
    std::optional<CapturedFrame> got;
    int calls = 0;
    ArmCapture(2, [&](const CapturedFrame& f) {
        got = f;
        ++calls;
    });
    Frame(0, [&](D3D12_CPU_DESCRIPTOR_HANDLE) {});  // clears nothing: not counted
    for (LONG n = 0; n < 5; ++n) {
        Frame(n % 2, [&](D3D12_CPU_DESCRIPTOR_HANDLE rtv) { PaintFrame(list.Get(), rtv, n); });
    }
    ASSERT_EQ(calls, 1);
    EXPECT_FALSE(CaptureArmed());
    EXPECT_EQ(got->width, kWidth);
    EXPECT_EQ(got->height, kHeight);
    EXPECT_EQ(got->format, DXGI_FORMAT_R8G8B8A8_UNORM);
    ASSERT_EQ(got->rgba.size(), kWidth * kHeight * 4u);
    for (UINT y = 0; y < kHeight; ++y) {
        for (UINT x = 0; x < kWidth; ++x) {
            const auto want = x == 2 ? std::array<std::uint8_t, 4>{102, 102, 102, 255}
                                     : std::array<std::uint8_t, 4>{0, 64, 20, 255};
            ASSERT_EQ(Pixel(*got, x, y), want) << x << "," << y;
        }
    }
}

TEST_F(Capture, ASurfaceFilterWaitsForAListThatClearsThatSurface) {
    std::optional<CapturedFrame> got;
    ArmCapture(
        0, [&](const CapturedFrame& f) { got = f; }, shared[1]);
    Frame(0, [&](D3D12_CPU_DESCRIPTOR_HANDLE rtv) { PaintFrame(list.Get(), rtv, 0); });
    EXPECT_FALSE(got.has_value());
    Frame(1, [&](D3D12_CPU_DESCRIPTOR_HANDLE rtv) { PaintFrame(list.Get(), rtv, 7); });
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(Pixel(*got, 7, 3)[0], 102);
    EXPECT_EQ(Pixel(*got, 0, 3)[0], 0);
}

TEST_F(Capture, OnlyTheFirstClearedSurfaceIsCapturedAndUnpaintedPixelsAreZero) {
    std::optional<CapturedFrame> got;
    ArmCapture(0, [&](const CapturedFrame& f) { got = f; });
    ASSERT_EQ(S_OK, list->Reset(alloc.Get(), nullptr));
    Transition(res[0].Get(), D3D12_RESOURCE_STATE_PRESENT, D3D12_RESOURCE_STATE_RENDER_TARGET);
    Transition(res[1].Get(), D3D12_RESOURCE_STATE_PRESENT, D3D12_RESOURCE_STATE_RENDER_TARGET);
    const D3D12_RECT corner = {0, 0, 2, 2};
    list->ClearRenderTargetView(Rtv(0), kBar, 1, &corner);
    list->ClearRenderTargetView(Rtv(1), kDark, 0, nullptr);
    ASSERT_EQ(S_OK, list->Close());
    Submit();
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(Pixel(*got, 1, 1), (std::array<std::uint8_t, 4>{102, 102, 102, 255}));
    EXPECT_EQ(Pixel(*got, 2, 2), (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
}

TEST_F(Capture, FormatsWithoutAlphaCaptureOpaquePixels) {
    HANDLE h = CreateSharedSurface(4, 4, DXGI_FORMAT_B8G8R8X8_TYPELESS);
    ComPtr<ID3D12Resource> r;
    ASSERT_EQ(S_OK, dev->OpenSharedHandle(h, IID_PPV_ARGS(&r)));
    MakeView(r.Get(), DXGI_FORMAT_B8G8R8X8_UNORM, 0);
    std::optional<CapturedFrame> got;
    ArmCapture(0, [&](const CapturedFrame& f) { got = f; });
    ASSERT_EQ(S_OK, list->Reset(alloc.Get(), nullptr));
    Transition(r.Get(), D3D12_RESOURCE_STATE_PRESENT, D3D12_RESOURCE_STATE_RENDER_TARGET);
    const FLOAT halfAlpha[4] = {1.0f, 0.0f, 0.0f, 0.5f};
    list->ClearRenderTargetView(Rtv(0), halfAlpha, 0, nullptr);
    ASSERT_EQ(S_OK, list->Close());
    Submit();
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->format, DXGI_FORMAT_B8G8R8X8_UNORM);
    EXPECT_EQ(Pixel(*got, 3, 3), (std::array<std::uint8_t, 4>{255, 0, 0, 255}));
    EXPECT_TRUE(CloseHandle(h));
}

}  // namespace
}  // namespace brisk::softgpu::test
