#include "sim/softgpu/softgpu_fixture.h"

namespace brisk::softgpu::test {
namespace {

using Objects = LeakCheck;

TEST_F(Objects, ReleaseToZeroFreesAndInterfacesAnswerForTheirBases) {
    const long before = LiveObjectCount();
    ID3D12Device* raw = nullptr;
    ASSERT_EQ(S_OK, D3D12CreateDevice(nullptr, D3D_FEATURE_LEVEL_11_0, ID3D12Device::kIid,
                                      reinterpret_cast<void**>(&raw)));
    EXPECT_EQ(LiveObjectCount(), before + 1);
    EXPECT_EQ(raw->AddRef(), 2u);
    IUnknown* unknown = nullptr;
    EXPECT_EQ(S_OK, raw->QueryInterface(IID_PPV_ARGS(&unknown)));
    ID3D12Object* object = nullptr;
    EXPECT_EQ(S_OK, raw->QueryInterface(IID_PPV_ARGS(&object)));
    long dummy = 0;
    ID3D12Fence* notAFence = reinterpret_cast<ID3D12Fence*>(&dummy);
    EXPECT_EQ(raw->QueryInterface(IID_PPV_ARGS(&notAFence)), E_NOINTERFACE);
    EXPECT_EQ(notAFence, nullptr);
    EXPECT_EQ(object->Release(), 3u);
    EXPECT_EQ(unknown->Release(), 2u);
    EXPECT_EQ(raw->Release(), 1u);
    EXPECT_EQ(raw->Release(), 0u);
    EXPECT_EQ(LiveObjectCount(), before);
}

TEST_F(Objects, ChildrenKeepTheirDeviceAlive) {
    ComPtr<ID3D12Device> dev;
    ASSERT_EQ(S_OK, D3D12CreateDevice(nullptr, D3D_FEATURE_LEVEL_11_0, IID_PPV_ARGS(&dev)));
    ComPtr<ID3D12Fence> fence;
    ASSERT_EQ(S_OK, dev->CreateFence(3, D3D12_FENCE_FLAG_NONE, IID_PPV_ARGS(&fence)));
    EXPECT_EQ(fence->GetCompletedValue(), 3u);
    dev.Reset();
    ComPtr<ID3D12Device> again;
    ASSERT_EQ(S_OK, fence->GetDevice(IID_PPV_ARGS(&again)));
    EXPECT_EQ(again->GetDeviceRemovedReason(), S_OK);
}

TEST_F(Objects, ComPtrCopiesMovesAndAddressOfKeepCountsRight) {
    ComPtr<ID3D12Device> a;
    ASSERT_EQ(S_OK, D3D12CreateDevice(nullptr, D3D_FEATURE_LEVEL_11_0, IID_PPV_ARGS(&a)));
    ComPtr<ID3D12Device> b = a;
    ComPtr<ID3D12Object> base;
    EXPECT_EQ(S_OK, b.As(&base));
    ComPtr<ID3D12Device> c = std::move(b);
    EXPECT_FALSE(b);
    EXPECT_EQ(a.Get()->AddRef(), 4u);  // a, c, base and this one
    a.Get()->Release();
    // Asking for a new object through &a drops the old reference first.
    ASSERT_EQ(S_OK, D3D12CreateDevice(nullptr, D3D_FEATURE_LEVEL_11_0, IID_PPV_ARGS(&a)));
    EXPECT_NE(a.Get(), c.Get());
}

TEST_F(Objects, DeviceCreationChecksAdapterAndFeatureLevel) {
    ComPtr<IDXGIAdapter> adapter = CreateSoftwareAdapter();
    DXGI_ADAPTER_DESC desc;
    EXPECT_EQ(S_OK, adapter->GetDesc(&desc));
    EXPECT_EQ(D3D12CreateDevice(adapter.Get(), D3D_FEATURE_LEVEL_11_0, ID3D12Device::kIid, nullptr),
              S_FALSE);
    ComPtr<ID3D12Device> dev;
    EXPECT_EQ(D3D12CreateDevice(adapter.Get(), static_cast<D3D_FEATURE_LEVEL>(0x9100),
                                IID_PPV_ARGS(&dev)),
              E_INVALIDARG);
    ComPtr<ID3D12Device> other;
    ASSERT_EQ(S_OK, D3D12CreateDevice(nullptr, D3D_FEATURE_LEVEL_12_1, IID_PPV_ARGS(&other)));
    EXPECT_EQ(D3D12CreateDevice(other.Get(), D3D_FEATURE_LEVEL_11_0, IID_PPV_ARGS(&dev)),
              E_INVALIDARG);  // not an adapter
}

TEST_F(Objects, SharedSurfaceOpensAsATextureInThePresentState) {
    EXPECT_EQ(CreateSharedSurface(0, 10, DXGI_FORMAT_R8G8B8A8_TYPELESS), nullptr);
    EXPECT_EQ(CreateSharedSurface(16385, 10, DXGI_FORMAT_R8G8B8A8_TYPELESS), nullptr);
    EXPECT_EQ(CreateSharedSurface(10, 10, DXGI_FORMAT_UNKNOWN), nullptr);

    HANDLE h = CreateSharedSurface(5088, 2544, DXGI_FORMAT_R8G8B8A8_TYPELESS);
    ASSERT_NE(h, nullptr);
    ComPtr<ID3D12Device> dev;
    ASSERT_EQ(S_OK, D3D12CreateDevice(nullptr, D3D_FEATURE_LEVEL_11_0, IID_PPV_ARGS(&dev)));
    ComPtr<ID3D12Resource> res;
    ASSERT_EQ(S_OK, dev->OpenSharedHandle(h, IID_PPV_ARGS(&res)));
    const D3D12_RESOURCE_DESC d = res->GetDesc();
    EXPECT_EQ(d.Dimension, D3D12_RESOURCE_DIMENSION_TEXTURE2D);
    EXPECT_EQ(d.Width, 5088u);
    EXPECT_EQ(d.Height, 2544u);
    EXPECT_EQ(d.Format, DXGI_FORMAT_R8G8B8A8_TYPELESS);
    EXPECT_EQ(d.MipLevels, 1);
    EXPECT_EQ(d.SampleDesc.Count, 1u);

    // The surface outlives its handle while a resource holds it.
    const long handles = OpenHandleCount();
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(OpenHandleCount(), handles - 1);
    EXPECT_EQ(res->GetDesc().Width, 5088u);
    ComPtr<ID3D12Resource> reopened;
    EXPECT_EQ(dev->OpenSharedHandle(h, IID_PPV_ARGS(&reopened)), E_INVALIDARG);
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(dev->OpenSharedHandle(event, IID_PPV_ARGS(&reopened)), E_INVALIDARG);
    CloseHandle(event);
}

}  // namespace
}  // namespace brisk::softgpu::test
