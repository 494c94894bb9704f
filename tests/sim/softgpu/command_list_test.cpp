#include "sim/softgpu/softgpu_fixture.h"

namespace brisk::softgpu::test {
namespace {

using CommandLists = SoftGpuTest;

const FLOAT kGrey[4] = {0.4f, 0.4f, 0.4f, 1.0f};

TEST_F(CommandLists, ThePresentersFrameRunsCleanOnBothSurfaces) {
    for (int frame = 0; frame < 4; ++frame) {
        Frame(frame % 2, [&](D3D12_CPU_DESCRIPTOR_HANDLE rtv) {
            const D3D12_RECT r = {0, 0, 4, 4};
            list->ClearRenderTargetView(rtv, kGrey, 1, &r);
        });
    }
    EXPECT_EQ(NewErrors(), 0u) << LastValidationError();
    EXPECT_EQ(fence->GetCompletedValue(), 4u);
}

TEST_F(CommandLists, ResetOnlyWhenClosedAndCloseOnlyWhenRecording) {
    EXPECT_EQ(list->Close(), E_FAIL);  // the fixture closed it already
    EXPECT_EQ(NewErrors(), 1u);
    EXPECT_EQ(S_OK, list->Reset(alloc.Get(), nullptr));
    EXPECT_EQ(list->Reset(alloc.Get(), nullptr), E_FAIL);
    EXPECT_EQ(NewErrors(), 2u);
    EXPECT_EQ(alloc->Reset(), E_FAIL);  // a list records into it
    EXPECT_EQ(NewErrors(), 3u);
    EXPECT_EQ(S_OK, list->Close());
    EXPECT_EQ(S_OK, alloc->Reset());
    EXPECT_EQ(list->Reset(nullptr, nullptr), E_INVALIDARG);
}

TEST_F(CommandLists, AnAllocatorServesOneRecordingListAtATime) {
    ComPtr<ID3D12GraphicsCommandList> second;
    ASSERT_EQ(S_OK, dev->CreateCommandList(0, D3D12_COMMAND_LIST_TYPE_DIRECT, alloc.Get(), nullptr,
                                           IID_PPV_ARGS(&second)));
    EXPECT_EQ(list->Reset(alloc.Get(), nullptr), E_INVALIDARG);
    EXPECT_EQ(S_OK, second->Close());
    EXPECT_EQ(S_OK, list->Reset(alloc.Get(), nullptr));
    EXPECT_EQ(S_OK, list->Close());
    EXPECT_EQ(NewErrors(), 1u);
}

TEST_F(CommandLists, CommandsOnAClosedListAreRefused) {
    Transition(res[0].Get(), D3D12_RESOURCE_STATE_PRESENT, D3D12_RESOURCE_STATE_RENDER_TARGET);
    list->ClearRenderTargetView(Rtv(0), kGrey, 0, nullptr);
    EXPECT_EQ(NewErrors(), 2u);
}

TEST_F(CommandLists, AnOpenListIsNotExecuted) {
    ASSERT_EQ(S_OK, list->Reset(alloc.Get(), nullptr));
    Transition(res[0].Get(), D3D12_RESOURCE_STATE_PRESENT, D3D12_RESOURCE_STATE_RENDER_TARGET);
    Submit();
    EXPECT_EQ(NewErrors(), 1u);
    EXPECT_NE(LastValidationError().find("not closed"), std::string::npos);
    // Had it run, this barrier would now find the surface in RENDER_TARGET.
    ASSERT_EQ(S_OK, list->Close());
    ASSERT_EQ(S_OK, list->Reset(alloc.Get(), nullptr));
    Transition(res[0].Get(), D3D12_RESOURCE_STATE_PRESENT, D3D12_RESOURCE_STATE_RENDER_TARGET);
    ASSERT_EQ(S_OK, list->Close());
    Submit();
    EXPECT_EQ(NewErrors(), 1u) << LastValidationError();
}

TEST_F(CommandLists, ABarrierFromTheWrongStateIsCaughtAtExecution) {
    ASSERT_EQ(S_OK, list->Reset(alloc.Get(), nullptr));
    Transition(res[1].Get(), D3D12_RESOURCE_STATE_RENDER_TARGET, D3D12_RESOURCE_STATE_PRESENT);
    EXPECT_EQ(NewErrors(), 0u);  // recording cannot know the state yet
    ASSERT_EQ(S_OK, list->Close());
    Submit();
    EXPECT_EQ(NewErrors(), 1u);
    EXPECT_NE(LastValidationError().find("StateBefore 0x4"), std::string::npos)
        << LastValidationError();
}

TEST_F(CommandLists, ClearingOutsideTheRenderTargetStateIsCaught) {
    ASSERT_EQ(S_OK, list->Reset(alloc.Get(), nullptr));
    list->ClearRenderTargetView(Rtv(0), kGrey, 0, nullptr);
    ASSERT_EQ(S_OK, list->Close());
    Submit();
    EXPECT_EQ(NewErrors(), 1u);
    EXPECT_NE(LastValidationError().find("RENDER_TARGET"), std::string::npos);
}

TEST_F(CommandLists, MalformedBarriersAndViewsAreRefusedWhenRecorded) {
    ASSERT_EQ(S_OK, list->Reset(alloc.Get(), nullptr));
    Transition(res[0].Get(), D3D12_RESOURCE_STATE_PRESENT, D3D12_RESOURCE_STATE_PRESENT);
    Transition(nullptr, D3D12_RESOURCE_STATE_PRESENT, D3D12_RESOURCE_STATE_RENDER_TARGET);
    D3D12_CPU_DESCRIPTOR_HANDLE bogus = Rtv(0);
    bogus.ptr += 1;  // not on a descriptor boundary
    list->ClearRenderTargetView(bogus, kGrey, 0, nullptr);
    list->ClearRenderTargetView(Rtv(2), kGrey, 0, nullptr);  // past the heap's end
    list->ClearRenderTargetView(Rtv(0), kGrey, 1, nullptr);
    EXPECT_EQ(NewErrors(), 5u);
    ASSERT_EQ(S_OK, list->Close());
    Submit();  // nothing of that was recorded, so nothing more to report
    EXPECT_EQ(NewErrors(), 5u);
}

TEST_F(CommandLists, NegativeOrInvertedRectanglesAreReportedButEmptyOnesAreFine) {
    Frame(0, [&](D3D12_CPU_DESCRIPTOR_HANDLE rtv) {
        const D3D12_RECT fine[] = {{0, 0, 16, 8}, {3, 3, 3, 5}, {10, 2, 99, 99}};
        list->ClearRenderTargetView(rtv, kGrey, 3, fine);
        EXPECT_EQ(NewErrors(), 0u);
        const D3D12_RECT negative = {-1, 0, 4, 4};
        const D3D12_RECT inverted = {5, 0, 4, 4};
        list->ClearRenderTargetView(rtv, kGrey, 1, &negative);
        list->ClearRenderTargetView(rtv, kGrey, 1, &inverted);
    });
    EXPECT_EQ(NewErrors(), 2u);
}

// Each surface format of the DirectMode table with its typed view.
struct FormatPair {
    DXGI_FORMAT surface;
    DXGI_FORMAT view;
};

class ViewFormats : public SoftGpuTest, public ::testing::WithParamInterface<FormatPair> {};

TEST_P(ViewFormats, TypedViewOfATypelessSurfaceClears) {
    HANDLE h = CreateSharedSurface(8, 8, GetParam().surface);
    ComPtr<ID3D12Resource> r;
    ASSERT_EQ(S_OK, dev->OpenSharedHandle(h, IID_PPV_ARGS(&r)));
    MakeView(r.Get(), GetParam().view, 0);
    ASSERT_EQ(S_OK, list->Reset(alloc.Get(), nullptr));
    Transition(r.Get(), D3D12_RESOURCE_STATE_PRESENT, D3D12_RESOURCE_STATE_RENDER_TARGET);
    list->ClearRenderTargetView(Rtv(0), kGrey, 0, nullptr);
    ASSERT_EQ(S_OK, list->Close());
    Submit();
    EXPECT_EQ(NewErrors(), 0u) << LastValidationError();
    MakeView(r.Get(), GetParam().surface, 1);  // typeless is no view format
    const DXGI_FORMAT foreign = GetParam().view == DXGI_FORMAT_R16G16B16A16_FLOAT
                                    ? DXGI_FORMAT_R8G8B8A8_UNORM
                                    : DXGI_FORMAT_R16G16B16A16_FLOAT;
    MakeView(r.Get(), foreign, 1);  // a view of another format family
    EXPECT_EQ(NewErrors(), 2u);
    EXPECT_TRUE(CloseHandle(h));
}

INSTANTIATE_TEST_SUITE_P(
    DirectModeTable, ViewFormats,
    ::testing::Values(FormatPair{DXGI_FORMAT_R16G16B16A16_TYPELESS, DXGI_FORMAT_R16G16B16A16_FLOAT},
                      FormatPair{DXGI_FORMAT_R10G10B10A2_TYPELESS, DXGI_FORMAT_R10G10B10A2_UNORM},
                      FormatPair{DXGI_FORMAT_R8G8B8A8_TYPELESS, DXGI_FORMAT_R8G8B8A8_UNORM},
                      FormatPair{DXGI_FORMAT_R8G8B8A8_TYPELESS, DXGI_FORMAT_R8G8B8A8_UNORM_SRGB},
                      FormatPair{DXGI_FORMAT_B8G8R8A8_TYPELESS, DXGI_FORMAT_B8G8R8A8_UNORM},
                      FormatPair{DXGI_FORMAT_B8G8R8X8_TYPELESS, DXGI_FORMAT_B8G8R8X8_UNORM}));

}  // namespace
}  // namespace brisk::softgpu::test
