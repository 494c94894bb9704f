// The device: object creation, descriptors, shared surfaces and removal.
#include <algorithm>
#include <cstring>

#include "sim/softgpu/objects.h"

namespace brisk::softgpu {
namespace detail {
namespace {

constexpr UINT kMaxTextureSize = 16384;

struct DeviceRegistry {
    std::mutex mutex;
    std::vector<Device*> devices;
};

DeviceRegistry& Registry() {
    static DeviceRegistry* registry = new DeviceRegistry;  // used from any thread until exit
    return *registry;
}

class SoftAdapter : public ComObject<IDXGIAdapter> {
  public:
    HRESULT GetDesc(DXGI_ADAPTER_DESC* desc) override {
        if (desc == nullptr) {
            return E_INVALIDARG;
        }
        std::memset(desc, 0, sizeof(*desc));
        const wchar_t name[] = L"brisk software GPU";
        std::copy(std::begin(name), std::end(name), desc->Description);
        return S_OK;
    }
};

bool IsFeatureLevelSupported(D3D_FEATURE_LEVEL level) {
    return level == D3D_FEATURE_LEVEL_11_0 || level == D3D_FEATURE_LEVEL_11_1 ||
           level == D3D_FEATURE_LEVEL_12_0 || level == D3D_FEATURE_LEVEL_12_1;
}

}  // namespace

Device::Device() {
    DeviceRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.devices.push_back(this);
}

Device::~Device() {
    DeviceRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.devices.erase(std::find(r.devices.begin(), r.devices.end(), this));
}

void Device::Remove(HRESULT reason) {
    if (reason == S_OK) {
        reason = DXGI_ERROR_DEVICE_REMOVED;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    HRESULT expected = S_OK;
    removedReason_.compare_exchange_strong(expected, reason);  // the first reason stays
    for (Fence* fence : fences_) {
        fence->OnDeviceRemoved();
    }
}

void Device::AddFence(Fence* fence) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fences_.push_back(fence);
    }
    if (IsRemoved()) {  // removed while it was being created
        fence->OnDeviceRemoved();
    }
}

void Device::DropFence(Fence* fence) {
    std::lock_guard<std::mutex> lock(mutex_);
    fences_.erase(std::find(fences_.begin(), fences_.end(), fence));
}

void Device::AddHeap(DescriptorHeap* heap) {
    std::lock_guard<std::mutex> lock(mutex_);
    heaps_.push_back(heap);
}

void Device::DropHeap(DescriptorHeap* heap) {
    std::lock_guard<std::mutex> lock(mutex_);
    heaps_.erase(std::find(heaps_.begin(), heaps_.end(), heap));
}

RtvDescriptor* Device::FindSlot(D3D12_CPU_DESCRIPTOR_HANDLE handle) {
    for (DescriptorHeap* heap : heaps_) {
        if (RtvDescriptor* slot = heap->Slot(handle)) {
            return slot;
        }
    }
    return nullptr;
}

bool Device::ReadRtv(D3D12_CPU_DESCRIPTOR_HANDLE handle, RtvDescriptor* out) {
    std::lock_guard<std::mutex> lock(mutex_);
    RtvDescriptor* slot = FindSlot(handle);
    if (slot == nullptr) {
        return false;
    }
    *out = *slot;
    return true;
}

HRESULT Device::CreateCommandQueue(const D3D12_COMMAND_QUEUE_DESC* desc, const IID& riid,
                                   void** out) {
    if (desc == nullptr || out == nullptr) {
        return E_INVALIDARG;
    }
    if (IsRemoved()) {
        return DXGI_ERROR_DEVICE_REMOVED;
    }
    if (desc->Type != D3D12_COMMAND_LIST_TYPE_DIRECT) {
        return E_NOTIMPL;  // only direct queues execute here
    }
    return Deliver(new CommandQueue(this, *desc), riid, out);
}

HRESULT Device::CreateCommandAllocator(D3D12_COMMAND_LIST_TYPE type, const IID& riid, void** out) {
    if (out == nullptr) {
        return E_INVALIDARG;
    }
    if (IsRemoved()) {
        return DXGI_ERROR_DEVICE_REMOVED;
    }
    if (type != D3D12_COMMAND_LIST_TYPE_DIRECT) {
        return E_NOTIMPL;
    }
    return Deliver(new CommandAllocator(this, type), riid, out);
}

HRESULT Device::CreateCommandList(UINT nodeMask, D3D12_COMMAND_LIST_TYPE type,
                                  ID3D12CommandAllocator* allocator, ID3D12PipelineState*,
                                  const IID& riid, void** out) {
    auto* alloc = dynamic_cast<CommandAllocator*>(allocator);
    if (out == nullptr || alloc == nullptr || nodeMask > 1 || alloc->type() != type) {
        return E_INVALIDARG;
    }
    if (IsRemoved()) {
        return DXGI_ERROR_DEVICE_REMOVED;
    }
    if (alloc->recorder != nullptr) {
        ReportValidationError("CreateCommandList: the allocator is in use by a recording list");
        return E_INVALIDARG;
    }
    return Deliver(new CommandList(this, type, alloc), riid, out);
}

HRESULT Device::CreateDescriptorHeap(const D3D12_DESCRIPTOR_HEAP_DESC* desc, const IID& riid,
                                     void** out) {
    if (desc == nullptr || out == nullptr || desc->NumDescriptors == 0) {
        return E_INVALIDARG;
    }
    if (IsRemoved()) {
        return DXGI_ERROR_DEVICE_REMOVED;
    }
    if (desc->Type != D3D12_DESCRIPTOR_HEAP_TYPE_RTV) {
        return E_NOTIMPL;  // render-target views are all the clears need
    }
    if ((desc->Flags & D3D12_DESCRIPTOR_HEAP_FLAG_SHADER_VISIBLE) != 0) {
        return E_INVALIDARG;  // RTV heaps cannot be shader-visible
    }
    return Deliver(new DescriptorHeap(this, *desc), riid, out);
}

UINT Device::GetDescriptorHandleIncrementSize(D3D12_DESCRIPTOR_HEAP_TYPE) {
    return sizeof(RtvDescriptor);
}

void Device::CreateRenderTargetView(ID3D12Resource* resource,
                                    const D3D12_RENDER_TARGET_VIEW_DESC* desc,
                                    D3D12_CPU_DESCRIPTOR_HANDLE dest) {
    RtvDescriptor view;
    auto* res = dynamic_cast<Resource*>(resource);
    if (res != nullptr) {
        const DXGI_FORMAT resFormat = res->GetDesc().Format;
        view.format = desc != nullptr ? desc->Format : resFormat;
        if (desc != nullptr && (desc->ViewDimension != D3D12_RTV_DIMENSION_TEXTURE2D ||
                                desc->Texture2D.MipSlice != 0 || desc->Texture2D.PlaneSlice != 0)) {
            ReportValidationError(
                "CreateRenderTargetView: only a 2D view of mip 0, plane 0 exists");
            res = nullptr;
        } else if (!ViewFits(resFormat, view.format)) {
            ReportValidationError("CreateRenderTargetView: format " + std::to_string(view.format) +
                                  " cannot view a resource of format " + std::to_string(resFormat));
            res = nullptr;
        }
    } else if (resource != nullptr) {
        ReportValidationError("CreateRenderTargetView: not a resource of this GPU");
    }
    view.resource = res;
    if (res == nullptr) {
        view.format = DXGI_FORMAT_UNKNOWN;  // a null view: clears through it are refused
    }
    std::lock_guard<std::mutex> lock(mutex_);
    RtvDescriptor* slot = FindSlot(dest);
    if (slot == nullptr) {
        ReportValidationError(
            "CreateRenderTargetView: the handle is not a descriptor of this device");
        return;
    }
    *slot = std::move(view);
}

HRESULT Device::OpenSharedHandle(HANDLE handle, const IID& riid, void** out) {
    if (out == nullptr) {
        return E_INVALIDARG;
    }
    *out = nullptr;
    auto surface = LookupHandleAs<SurfaceObject>(handle);
    if (!surface) {
        return E_INVALIDARG;
    }
    if (IsRemoved()) {
        return DXGI_ERROR_DEVICE_REMOVED;
    }
    return Deliver(new Resource(this, surface->storage), riid, out);
}

HRESULT Device::CreateFence(UINT64 initialValue, D3D12_FENCE_FLAGS, const IID& riid, void** out) {
    if (out == nullptr) {
        return E_INVALIDARG;
    }
    if (IsRemoved()) {
        return DXGI_ERROR_DEVICE_REMOVED;
    }
    return Deliver(new Fence(this, initialValue), riid, out);
}

// ---- descriptor heap ----

DescriptorHeap::DescriptorHeap(Device* device, const D3D12_DESCRIPTOR_HEAP_DESC& desc)
    : DeviceChild(device), desc_(desc), slots_(desc.NumDescriptors) {
    device->AddHeap(this);
}

DescriptorHeap::~DescriptorHeap() {
    device()->DropHeap(this);
}

D3D12_CPU_DESCRIPTOR_HANDLE DescriptorHeap::GetCPUDescriptorHandleForHeapStart() {
    return D3D12_CPU_DESCRIPTOR_HANDLE{reinterpret_cast<SIZE_T>(slots_.data())};
}

RtvDescriptor* DescriptorHeap::Slot(D3D12_CPU_DESCRIPTOR_HANDLE handle) {
    const SIZE_T base = reinterpret_cast<SIZE_T>(slots_.data());
    if (handle.ptr < base) {
        return nullptr;
    }
    const SIZE_T offset = handle.ptr - base;
    if (offset % sizeof(RtvDescriptor) != 0 || offset / sizeof(RtvDescriptor) >= slots_.size()) {
        return nullptr;
    }
    return &slots_[offset / sizeof(RtvDescriptor)];
}

// ---- formats ----

namespace {

// The typeless format a typed one belongs to; itself when it is typeless.
DXGI_FORMAT Family(DXGI_FORMAT f) {
    switch (f) {
        case DXGI_FORMAT_R32G32B32A32_FLOAT:
            return DXGI_FORMAT_R32G32B32A32_TYPELESS;
        case DXGI_FORMAT_R16G16B16A16_FLOAT:
        case DXGI_FORMAT_R16G16B16A16_UNORM:
            return DXGI_FORMAT_R16G16B16A16_TYPELESS;
        case DXGI_FORMAT_R10G10B10A2_UNORM:
        case DXGI_FORMAT_R10G10B10A2_UINT:
            return DXGI_FORMAT_R10G10B10A2_TYPELESS;
        case DXGI_FORMAT_R8G8B8A8_UNORM:
        case DXGI_FORMAT_R8G8B8A8_UNORM_SRGB:
        case DXGI_FORMAT_R8G8B8A8_UINT:
            return DXGI_FORMAT_R8G8B8A8_TYPELESS;
        case DXGI_FORMAT_B8G8R8A8_UNORM:
        case DXGI_FORMAT_B8G8R8A8_UNORM_SRGB:
            return DXGI_FORMAT_B8G8R8A8_TYPELESS;
        case DXGI_FORMAT_B8G8R8X8_UNORM:
        case DXGI_FORMAT_B8G8R8X8_UNORM_SRGB:
            return DXGI_FORMAT_B8G8R8X8_TYPELESS;
        default:
            return f;
    }
}

}  // namespace

bool IsRenderTargetFormat(DXGI_FORMAT f) {
    switch (f) {
        case DXGI_FORMAT_R32G32B32A32_FLOAT:
        case DXGI_FORMAT_R16G16B16A16_FLOAT:
        case DXGI_FORMAT_R16G16B16A16_UNORM:
        case DXGI_FORMAT_R10G10B10A2_UNORM:
        case DXGI_FORMAT_R8G8B8A8_UNORM:
        case DXGI_FORMAT_R8G8B8A8_UNORM_SRGB:
        case DXGI_FORMAT_B8G8R8A8_UNORM:
        case DXGI_FORMAT_B8G8R8A8_UNORM_SRGB:
        case DXGI_FORMAT_B8G8R8X8_UNORM:
        case DXGI_FORMAT_B8G8R8X8_UNORM_SRGB:
            return true;
        default:
            return false;
    }
}

bool ViewFits(DXGI_FORMAT resource, DXGI_FORMAT view) {
    return IsRenderTargetFormat(view) && Family(view) == Family(resource);
}

bool HasAlpha(DXGI_FORMAT view) {
    return view != DXGI_FORMAT_B8G8R8X8_UNORM && view != DXGI_FORMAT_B8G8R8X8_UNORM_SRGB;
}

}  // namespace detail

// ---- public entry points ----

HRESULT D3D12CreateDevice(IUnknown* adapter, D3D_FEATURE_LEVEL minimumFeatureLevel, const IID& riid,
                          void** ppDevice) {
    if (adapter != nullptr && dynamic_cast<detail::SoftAdapter*>(adapter) == nullptr) {
        return E_INVALIDARG;  // an adapter of some other GPU
    }
    if (!detail::IsFeatureLevelSupported(minimumFeatureLevel)) {
        return minimumFeatureLevel < D3D_FEATURE_LEVEL_11_0 ? E_INVALIDARG : DXGI_ERROR_UNSUPPORTED;
    }
    if (ppDevice == nullptr) {
        return S_FALSE;  // it would work
    }
    return detail::Deliver(new detail::Device, riid, ppDevice);
}

ComPtr<IDXGIAdapter> CreateSoftwareAdapter() {
    ComPtr<IDXGIAdapter> adapter;
    adapter.Attach(new detail::SoftAdapter);
    return adapter;
}

HANDLE CreateSharedSurface(UINT width, UINT height, DXGI_FORMAT format) {
    if (width == 0 || height == 0 || width > detail::kMaxTextureSize ||
        height > detail::kMaxTextureSize || format == DXGI_FORMAT_UNKNOWN) {
        return nullptr;
    }
    auto storage = std::make_shared<detail::SurfaceStorage>();
    D3D12_RESOURCE_DESC& d = storage->desc;
    d.Dimension = D3D12_RESOURCE_DIMENSION_TEXTURE2D;
    d.Width = width;
    d.Height = height;
    d.DepthOrArraySize = 1;
    d.MipLevels = 1;
    d.Format = format;
    d.SampleDesc.Count = 1;
    d.Layout = D3D12_TEXTURE_LAYOUT_UNKNOWN;
    d.Flags = D3D12_RESOURCE_FLAG_ALLOW_RENDER_TARGET;
    return detail::InsertHandle(std::make_shared<detail::SurfaceObject>(std::move(storage)));
}

void RemoveAllDevices(HRESULT reason) {
    detail::DeviceRegistry& r = detail::Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (detail::Device* device : r.devices) {
        device->Remove(reason);
    }
}

void RemoveDevice(ID3D12Device* device, HRESULT reason) {
    if (auto* d = dynamic_cast<detail::Device*>(device)) {
        d->Remove(reason);
    }
}

}  // namespace brisk::softgpu
