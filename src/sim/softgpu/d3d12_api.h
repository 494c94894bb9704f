// The part of Direct3D 12 and DXGI the presenter and the frame painter use:
// the same type, constant, interface and method names as <d3d12.h>, in
// namespace brisk::softgpu, executed on the CPU by the software GPU.
#pragma once

#include "sim/softgpu/com.h"

namespace brisk::softgpu {

// Flag enums combine with | and & as in the system headers.
#define BRISK_SOFTGPU_FLAG_OPERATORS(E)                  \
    constexpr E operator|(E a, E b) {                    \
        return static_cast<E>(static_cast<UINT>(a) | b); \
    }                                                    \
    constexpr E operator&(E a, E b) {                    \
        return static_cast<E>(static_cast<UINT>(a) & b); \
    }                                                    \
    constexpr E operator~(E a) {                         \
        return static_cast<E>(~static_cast<UINT>(a));    \
    }                                                    \
    constexpr E& operator|=(E& a, E b) {                 \
        return a = a | b;                                \
    }                                                    \
    constexpr E& operator&=(E& a, E b) {                 \
        return a = a & b;                                \
    }

enum DXGI_FORMAT : UINT {
    DXGI_FORMAT_UNKNOWN = 0,
    DXGI_FORMAT_R32G32B32A32_TYPELESS = 1,
    DXGI_FORMAT_R32G32B32A32_FLOAT = 2,
    DXGI_FORMAT_R16G16B16A16_TYPELESS = 9,
    DXGI_FORMAT_R16G16B16A16_FLOAT = 10,
    DXGI_FORMAT_R16G16B16A16_UNORM = 11,
    DXGI_FORMAT_R10G10B10A2_TYPELESS = 23,
    DXGI_FORMAT_R10G10B10A2_UNORM = 24,
    DXGI_FORMAT_R10G10B10A2_UINT = 25,
    DXGI_FORMAT_R8G8B8A8_TYPELESS = 27,
    DXGI_FORMAT_R8G8B8A8_UNORM = 28,
    DXGI_FORMAT_R8G8B8A8_UNORM_SRGB = 29,
    DXGI_FORMAT_R8G8B8A8_UINT = 30,
    DXGI_FORMAT_B8G8R8A8_UNORM = 87,
    DXGI_FORMAT_B8G8R8X8_UNORM = 88,
    DXGI_FORMAT_B8G8R8A8_TYPELESS = 90,
    DXGI_FORMAT_B8G8R8A8_UNORM_SRGB = 91,
    DXGI_FORMAT_B8G8R8X8_TYPELESS = 92,
    DXGI_FORMAT_B8G8R8X8_UNORM_SRGB = 93,
    DXGI_FORMAT_FORCE_UINT = 0xffffffffu,
};

enum D3D_FEATURE_LEVEL : UINT {
    D3D_FEATURE_LEVEL_11_0 = 0xb000,
    D3D_FEATURE_LEVEL_11_1 = 0xb100,
    D3D_FEATURE_LEVEL_12_0 = 0xc000,
    D3D_FEATURE_LEVEL_12_1 = 0xc100,
};

enum D3D12_COMMAND_LIST_TYPE : UINT {
    D3D12_COMMAND_LIST_TYPE_DIRECT = 0,
    D3D12_COMMAND_LIST_TYPE_BUNDLE = 1,
    D3D12_COMMAND_LIST_TYPE_COMPUTE = 2,
    D3D12_COMMAND_LIST_TYPE_COPY = 3,
};

enum D3D12_COMMAND_QUEUE_FLAGS : UINT {
    D3D12_COMMAND_QUEUE_FLAG_NONE = 0,
    D3D12_COMMAND_QUEUE_FLAG_DISABLE_GPU_TIMEOUT = 0x1,
};
BRISK_SOFTGPU_FLAG_OPERATORS(D3D12_COMMAND_QUEUE_FLAGS)

enum D3D12_COMMAND_QUEUE_PRIORITY : INT {
    D3D12_COMMAND_QUEUE_PRIORITY_NORMAL = 0,
    D3D12_COMMAND_QUEUE_PRIORITY_HIGH = 100,
};

struct D3D12_COMMAND_QUEUE_DESC {
    D3D12_COMMAND_LIST_TYPE Type;
    INT Priority;
    D3D12_COMMAND_QUEUE_FLAGS Flags;
    UINT NodeMask;
};

enum D3D12_FENCE_FLAGS : UINT {
    D3D12_FENCE_FLAG_NONE = 0,
    D3D12_FENCE_FLAG_SHARED = 0x1,
};
BRISK_SOFTGPU_FLAG_OPERATORS(D3D12_FENCE_FLAGS)

enum D3D12_DESCRIPTOR_HEAP_TYPE : UINT {
    D3D12_DESCRIPTOR_HEAP_TYPE_CBV_SRV_UAV = 0,
    D3D12_DESCRIPTOR_HEAP_TYPE_SAMPLER = 1,
    D3D12_DESCRIPTOR_HEAP_TYPE_RTV = 2,
    D3D12_DESCRIPTOR_HEAP_TYPE_DSV = 3,
    D3D12_DESCRIPTOR_HEAP_TYPE_NUM_TYPES = 4,
};

enum D3D12_DESCRIPTOR_HEAP_FLAGS : UINT {
    D3D12_DESCRIPTOR_HEAP_FLAG_NONE = 0,
    D3D12_DESCRIPTOR_HEAP_FLAG_SHADER_VISIBLE = 0x1,
};
BRISK_SOFTGPU_FLAG_OPERATORS(D3D12_DESCRIPTOR_HEAP_FLAGS)

struct D3D12_DESCRIPTOR_HEAP_DESC {
    D3D12_DESCRIPTOR_HEAP_TYPE Type;
    UINT NumDescriptors;
    D3D12_DESCRIPTOR_HEAP_FLAGS Flags;
    UINT NodeMask;
};

struct D3D12_CPU_DESCRIPTOR_HANDLE {
    SIZE_T ptr;
};

enum D3D12_RTV_DIMENSION : UINT {
    D3D12_RTV_DIMENSION_UNKNOWN = 0,
    D3D12_RTV_DIMENSION_BUFFER = 1,
    D3D12_RTV_DIMENSION_TEXTURE1D = 2,
    D3D12_RTV_DIMENSION_TEXTURE1DARRAY = 3,
    D3D12_RTV_DIMENSION_TEXTURE2D = 4,
    D3D12_RTV_DIMENSION_TEXTURE2DARRAY = 5,
    D3D12_RTV_DIMENSION_TEXTURE2DMS = 6,
    D3D12_RTV_DIMENSION_TEXTURE2DMSARRAY = 7,
    D3D12_RTV_DIMENSION_TEXTURE3D = 8,
};

struct D3D12_TEX2D_RTV {
    UINT MipSlice;
    UINT PlaneSlice;
};

struct D3D12_TEX2D_ARRAY_RTV {
    UINT MipSlice;
    UINT FirstArraySlice;
    UINT ArraySize;
    UINT PlaneSlice;
};

struct D3D12_RENDER_TARGET_VIEW_DESC {
    DXGI_FORMAT Format;
    D3D12_RTV_DIMENSION ViewDimension;
    union {
        D3D12_TEX2D_RTV Texture2D;
        D3D12_TEX2D_ARRAY_RTV Texture2DArray;
    };
};

enum D3D12_RESOURCE_DIMENSION : UINT {
    D3D12_RESOURCE_DIMENSION_UNKNOWN = 0,
    D3D12_RESOURCE_DIMENSION_BUFFER = 1,
    D3D12_RESOURCE_DIMENSION_TEXTURE1D = 2,
    D3D12_RESOURCE_DIMENSION_TEXTURE2D = 3,
    D3D12_RESOURCE_DIMENSION_TEXTURE3D = 4,
};

struct DXGI_SAMPLE_DESC {
    UINT Count;
    UINT Quality;
};

enum D3D12_TEXTURE_LAYOUT : UINT {
    D3D12_TEXTURE_LAYOUT_UNKNOWN = 0,
    D3D12_TEXTURE_LAYOUT_ROW_MAJOR = 1,
};

enum D3D12_RESOURCE_FLAGS : UINT {
    D3D12_RESOURCE_FLAG_NONE = 0,
    D3D12_RESOURCE_FLAG_ALLOW_RENDER_TARGET = 0x1,
    D3D12_RESOURCE_FLAG_ALLOW_SIMULTANEOUS_ACCESS = 0x20,
};
BRISK_SOFTGPU_FLAG_OPERATORS(D3D12_RESOURCE_FLAGS)

struct D3D12_RESOURCE_DESC {
    D3D12_RESOURCE_DIMENSION Dimension;
    UINT64 Alignment;
    UINT64 Width;
    UINT Height;
    UINT16 DepthOrArraySize;
    UINT16 MipLevels;
    DXGI_FORMAT Format;
    DXGI_SAMPLE_DESC SampleDesc;
    D3D12_TEXTURE_LAYOUT Layout;
    D3D12_RESOURCE_FLAGS Flags;
};

enum D3D12_RESOURCE_STATES : UINT {
    D3D12_RESOURCE_STATE_COMMON = 0,
    D3D12_RESOURCE_STATE_RENDER_TARGET = 0x4,
    D3D12_RESOURCE_STATE_UNORDERED_ACCESS = 0x8,
    D3D12_RESOURCE_STATE_PIXEL_SHADER_RESOURCE = 0x80,
    D3D12_RESOURCE_STATE_COPY_DEST = 0x400,
    D3D12_RESOURCE_STATE_COPY_SOURCE = 0x800,
    D3D12_RESOURCE_STATE_GENERIC_READ = 0xac3,
    D3D12_RESOURCE_STATE_PRESENT = 0,
};
BRISK_SOFTGPU_FLAG_OPERATORS(D3D12_RESOURCE_STATES)

enum D3D12_RESOURCE_BARRIER_TYPE : UINT {
    D3D12_RESOURCE_BARRIER_TYPE_TRANSITION = 0,
    D3D12_RESOURCE_BARRIER_TYPE_ALIASING = 1,
    D3D12_RESOURCE_BARRIER_TYPE_UAV = 2,
};

enum D3D12_RESOURCE_BARRIER_FLAGS : UINT {
    D3D12_RESOURCE_BARRIER_FLAG_NONE = 0,
    D3D12_RESOURCE_BARRIER_FLAG_BEGIN_ONLY = 0x1,
    D3D12_RESOURCE_BARRIER_FLAG_END_ONLY = 0x2,
};
BRISK_SOFTGPU_FLAG_OPERATORS(D3D12_RESOURCE_BARRIER_FLAGS)

#undef BRISK_SOFTGPU_FLAG_OPERATORS

constexpr UINT D3D12_RESOURCE_BARRIER_ALL_SUBRESOURCES = 0xffffffffu;

class ID3D12Resource;

struct D3D12_RESOURCE_TRANSITION_BARRIER {
    ID3D12Resource* pResource;
    UINT Subresource;
    D3D12_RESOURCE_STATES StateBefore;
    D3D12_RESOURCE_STATES StateAfter;
};

struct D3D12_RESOURCE_ALIASING_BARRIER {
    ID3D12Resource* pResourceBefore;
    ID3D12Resource* pResourceAfter;
};

struct D3D12_RESOURCE_UAV_BARRIER {
    ID3D12Resource* pResource;
};

struct D3D12_RESOURCE_BARRIER {
    D3D12_RESOURCE_BARRIER_TYPE Type;
    D3D12_RESOURCE_BARRIER_FLAGS Flags;
    union {
        D3D12_RESOURCE_TRANSITION_BARRIER Transition;
        D3D12_RESOURCE_ALIASING_BARRIER Aliasing;
        D3D12_RESOURCE_UAV_BARRIER UAV;
    };
};

// right and bottom are exclusive.
struct D3D12_RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct LUID {
    DWORD LowPart;
    LONG HighPart;
};

struct DXGI_ADAPTER_DESC {
    WCHAR Description[128];
    UINT VendorId;
    UINT DeviceId;
    UINT SubSysId;
    UINT Revision;
    SIZE_T DedicatedVideoMemory;
    SIZE_T DedicatedSystemMemory;
    SIZE_T SharedSystemMemory;
    LUID AdapterLuid;
};

// ---- interfaces ----

class IDXGIObject : public IUnknown {
  public:
    static constexpr IID kIid = MakeIid(0x0101);
    using Base = IUnknown;
};

class IDXGIAdapter : public IDXGIObject {
  public:
    static constexpr IID kIid = MakeIid(0x0102);
    using Base = IDXGIObject;
    virtual HRESULT GetDesc(DXGI_ADAPTER_DESC* pDesc) = 0;
};

class ID3D12Object : public IUnknown {
  public:
    static constexpr IID kIid = MakeIid(0x0201);
    using Base = IUnknown;
    virtual HRESULT SetName(LPCWSTR Name) = 0;
};

class ID3D12DeviceChild : public ID3D12Object {
  public:
    static constexpr IID kIid = MakeIid(0x0202);
    using Base = ID3D12Object;
    virtual HRESULT GetDevice(const IID& riid, void** ppvDevice) = 0;
};

class ID3D12Pageable : public ID3D12DeviceChild {
  public:
    static constexpr IID kIid = MakeIid(0x0203);
    using Base = ID3D12DeviceChild;
};

class ID3D12Resource : public ID3D12Pageable {
  public:
    static constexpr IID kIid = MakeIid(0x0204);
    using Base = ID3D12Pageable;
    virtual D3D12_RESOURCE_DESC GetDesc() = 0;
};

class ID3D12CommandAllocator : public ID3D12Pageable {
  public:
    static constexpr IID kIid = MakeIid(0x0205);
    using Base = ID3D12Pageable;
    virtual HRESULT Reset() = 0;
};

class ID3D12Fence : public ID3D12Pageable {
  public:
    static constexpr IID kIid = MakeIid(0x0206);
    using Base = ID3D12Pageable;
    virtual UINT64 GetCompletedValue() = 0;
    virtual HRESULT SetEventOnCompletion(UINT64 Value, HANDLE hEvent) = 0;
    virtual HRESULT Signal(UINT64 Value) = 0;
};

class ID3D12DescriptorHeap : public ID3D12Pageable {
  public:
    static constexpr IID kIid = MakeIid(0x0207);
    using Base = ID3D12Pageable;
    virtual D3D12_DESCRIPTOR_HEAP_DESC GetDesc() = 0;
    virtual D3D12_CPU_DESCRIPTOR_HANDLE GetCPUDescriptorHandleForHeapStart() = 0;
};

// Never created by the subset; named so that signatures match.
class ID3D12PipelineState : public ID3D12Pageable {
  public:
    static constexpr IID kIid = MakeIid(0x0208);
    using Base = ID3D12Pageable;
};

class ID3D12CommandList : public ID3D12DeviceChild {
  public:
    static constexpr IID kIid = MakeIid(0x0209);
    using Base = ID3D12DeviceChild;
    virtual D3D12_COMMAND_LIST_TYPE GetType() = 0;
};

class ID3D12GraphicsCommandList : public ID3D12CommandList {
  public:
    static constexpr IID kIid = MakeIid(0x020a);
    using Base = ID3D12CommandList;
    virtual HRESULT Close() = 0;
    virtual HRESULT Reset(ID3D12CommandAllocator* pAllocator,
                          ID3D12PipelineState* pInitialState) = 0;
    virtual void ResourceBarrier(UINT NumBarriers, const D3D12_RESOURCE_BARRIER* pBarriers) = 0;
    virtual void ClearRenderTargetView(D3D12_CPU_DESCRIPTOR_HANDLE RenderTargetView,
                                       const FLOAT ColorRGBA[4], UINT NumRects,
                                       const D3D12_RECT* pRects) = 0;
};

class ID3D12CommandQueue : public ID3D12Pageable {
  public:
    static constexpr IID kIid = MakeIid(0x020b);
    using Base = ID3D12Pageable;
    virtual void ExecuteCommandLists(UINT NumCommandLists,
                                     ID3D12CommandList* const* ppCommandLists) = 0;
    virtual HRESULT Signal(ID3D12Fence* pFence, UINT64 Value) = 0;
    virtual D3D12_COMMAND_QUEUE_DESC GetDesc() = 0;
};

class ID3D12Device : public ID3D12Object {
  public:
    static constexpr IID kIid = MakeIid(0x020c);
    using Base = ID3D12Object;
    virtual UINT GetNodeCount() = 0;
    virtual HRESULT CreateCommandQueue(const D3D12_COMMAND_QUEUE_DESC* pDesc, const IID& riid,
                                       void** ppCommandQueue) = 0;
    virtual HRESULT CreateCommandAllocator(D3D12_COMMAND_LIST_TYPE type, const IID& riid,
                                           void** ppCommandAllocator) = 0;
    virtual HRESULT CreateCommandList(UINT nodeMask, D3D12_COMMAND_LIST_TYPE type,
                                      ID3D12CommandAllocator* pCommandAllocator,
                                      ID3D12PipelineState* pInitialState, const IID& riid,
                                      void** ppCommandList) = 0;
    virtual HRESULT CreateDescriptorHeap(const D3D12_DESCRIPTOR_HEAP_DESC* pDescriptorHeapDesc,
                                         const IID& riid, void** ppvHeap) = 0;
    virtual UINT GetDescriptorHandleIncrementSize(
        D3D12_DESCRIPTOR_HEAP_TYPE DescriptorHeapType) = 0;
    virtual void CreateRenderTargetView(ID3D12Resource* pResource,
                                        const D3D12_RENDER_TARGET_VIEW_DESC* pDesc,
                                        D3D12_CPU_DESCRIPTOR_HANDLE DestDescriptor) = 0;
    virtual HRESULT OpenSharedHandle(HANDLE NTHandle, const IID& riid, void** ppvObj) = 0;
    virtual HRESULT CreateFence(UINT64 InitialValue, D3D12_FENCE_FLAGS Flags, const IID& riid,
                                void** ppFence) = 0;
    virtual HRESULT GetDeviceRemovedReason() = 0;
};

// pAdapter: null for the software adapter, or an adapter from
// CreateSoftwareAdapter(). ppDevice null only asks whether it would work.
HRESULT D3D12CreateDevice(IUnknown* pAdapter, D3D_FEATURE_LEVEL MinimumFeatureLevel,
                          const IID& riid, void** ppDevice);

}  // namespace brisk::softgpu
