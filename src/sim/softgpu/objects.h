// Internal: the software GPU's object classes.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <type_traits>
#include <vector>

#include "sim/softgpu/kernel.h"
#include "sim/softgpu/softgpu.h"

namespace brisk::softgpu::detail {

// Reference counting and QueryInterface along an interface's chain of bases.
// Objects start with one reference, owned by their creator.
template <class I>
class ComObject : public I {
  public:
    ComObject() { CountLiveObject(+1); }
    ~ComObject() override { CountLiveObject(-1); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT QueryInterface(const IID& riid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        if (!Find<I>(riid, out)) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return refs_.fetch_add(1) + 1; }
    ULONG Release() override {
        const ULONG left = refs_.fetch_sub(1) - 1;
        if (left == 0) {
            delete this;
        }
        return left;
    }

  private:
    template <class J>
    bool Find(const IID& riid, void** out) {
        if (riid == J::kIid) {
            *out = static_cast<J*>(this);
            return true;
        }
        if constexpr (std::is_void_v<typename J::Base>) {
            return false;
        } else {
            return Find<typename J::Base>(riid, out);
        }
    }

    std::atomic<ULONG> refs_{1};
};

// Hands a new object (holding its creator's reference) to the caller as `riid`.
template <class T>
HRESULT Deliver(T* object, const IID& riid, void** out) {
    const HRESULT hr = object->QueryInterface(riid, out);
    object->Release();
    return hr;
}

class Fence;
class DescriptorHeap;
class Resource;

// What an RTV descriptor holds. The resource is referenced so that a stale
// view cannot reach freed memory.
struct RtvDescriptor {
    ComPtr<Resource> resource;
    DXGI_FORMAT format = DXGI_FORMAT_UNKNOWN;
};

class Device : public ComObject<ID3D12Device> {
  public:
    Device();
    ~Device() override;

    HRESULT SetName(LPCWSTR) override { return S_OK; }
    UINT GetNodeCount() override { return 1; }
    HRESULT CreateCommandQueue(const D3D12_COMMAND_QUEUE_DESC* desc, const IID& riid,
                               void** out) override;
    HRESULT CreateCommandAllocator(D3D12_COMMAND_LIST_TYPE type, const IID& riid,
                                   void** out) override;
    HRESULT CreateCommandList(UINT nodeMask, D3D12_COMMAND_LIST_TYPE type,
                              ID3D12CommandAllocator* allocator, ID3D12PipelineState* initialState,
                              const IID& riid, void** out) override;
    HRESULT CreateDescriptorHeap(const D3D12_DESCRIPTOR_HEAP_DESC* desc, const IID& riid,
                                 void** out) override;
    UINT GetDescriptorHandleIncrementSize(D3D12_DESCRIPTOR_HEAP_TYPE type) override;
    void CreateRenderTargetView(ID3D12Resource* resource, const D3D12_RENDER_TARGET_VIEW_DESC* desc,
                                D3D12_CPU_DESCRIPTOR_HANDLE dest) override;
    HRESULT OpenSharedHandle(HANDLE handle, const IID& riid, void** out) override;
    HRESULT CreateFence(UINT64 initialValue, D3D12_FENCE_FLAGS flags, const IID& riid,
                        void** out) override;
    HRESULT GetDeviceRemovedReason() override { return removedReason_.load(); }

    bool IsRemoved() const { return removedReason_.load() != S_OK; }
    void Remove(HRESULT reason);

    void AddFence(Fence* fence);
    void DropFence(Fence* fence);
    void AddHeap(DescriptorHeap* heap);
    void DropHeap(DescriptorHeap* heap);
    // False when `handle` is not a descriptor of a live heap of this device.
    bool ReadRtv(D3D12_CPU_DESCRIPTOR_HANDLE handle, RtvDescriptor* out);

  private:
    RtvDescriptor* FindSlot(D3D12_CPU_DESCRIPTOR_HANDLE handle);  // with mutex_ held

    std::atomic<HRESULT> removedReason_{S_OK};
    std::mutex mutex_;  // guards fences_, heaps_ and the descriptors in the heaps
    std::vector<Fence*> fences_;
    std::vector<DescriptorHeap*> heaps_;
};

template <class I>
class DeviceChild : public ComObject<I> {
  public:
    explicit DeviceChild(Device* device) : device_(device) {}
    HRESULT SetName(LPCWSTR) override { return S_OK; }
    HRESULT GetDevice(const IID& riid, void** out) override {
        return device_->QueryInterface(riid, out);
    }
    Device* device() const { return device_.Get(); }

  private:
    ComPtr<Device> device_;
};

class Resource : public DeviceChild<ID3D12Resource> {
  public:
    Resource(Device* device, std::shared_ptr<SurfaceStorage> storage)
        : DeviceChild(device), storage_(std::move(storage)) {}
    D3D12_RESOURCE_DESC GetDesc() override { return storage_->desc; }
    SurfaceStorage& storage() { return *storage_; }

  private:
    std::shared_ptr<SurfaceStorage> storage_;
};

class DescriptorHeap : public DeviceChild<ID3D12DescriptorHeap> {
  public:
    DescriptorHeap(Device* device, const D3D12_DESCRIPTOR_HEAP_DESC& desc);
    ~DescriptorHeap() override;
    D3D12_DESCRIPTOR_HEAP_DESC GetDesc() override { return desc_; }
    D3D12_CPU_DESCRIPTOR_HANDLE GetCPUDescriptorHandleForHeapStart() override;
    // The slot `handle` names, or null.
    RtvDescriptor* Slot(D3D12_CPU_DESCRIPTOR_HANDLE handle);

  private:
    const D3D12_DESCRIPTOR_HEAP_DESC desc_;
    std::vector<RtvDescriptor> slots_;  // never resized: handles point into it
};

class Fence : public DeviceChild<ID3D12Fence> {
  public:
    Fence(Device* device, UINT64 initialValue);
    ~Fence() override;
    UINT64 GetCompletedValue() override;
    HRESULT SetEventOnCompletion(UINT64 value, HANDLE event) override;
    HRESULT Signal(UINT64 value) override;
    // The device is gone: completes with UINT64_MAX for good.
    void OnDeviceRemoved();

  private:
    struct Waiter {
        UINT64 value;
        HANDLE event;
    };
    void Complete(UINT64 value, bool removal);

    std::mutex mutex_;
    std::condition_variable reached_;
    UINT64 value_;
    bool removed_ = false;
    std::vector<Waiter> waiters_;
};

class CommandList;

class CommandAllocator : public DeviceChild<ID3D12CommandAllocator> {
  public:
    CommandAllocator(Device* device, D3D12_COMMAND_LIST_TYPE type)
        : DeviceChild(device), type_(type) {}
    HRESULT Reset() override;
    D3D12_COMMAND_LIST_TYPE type() const { return type_; }
    // The list recording into this allocator, if any. Like a real allocator,
    // this one is not free-threaded: its user serialises access.
    CommandList* recorder = nullptr;

  private:
    const D3D12_COMMAND_LIST_TYPE type_;
};

struct Command {
    enum class Kind { kBarrier, kClear };
    Kind kind = Kind::kBarrier;
    ComPtr<Resource> resource;
    UINT stateBefore = 0;  // barrier
    UINT stateAfter = 0;
    DXGI_FORMAT format = DXGI_FORMAT_UNKNOWN;  // clear: view format, colour, rectangles
    std::array<float, 4> color{};
    std::size_t firstRect = 0;
    std::size_t rectCount = 0;
};

class CommandList : public DeviceChild<ID3D12GraphicsCommandList> {
  public:
    CommandList(Device* device, D3D12_COMMAND_LIST_TYPE type, CommandAllocator* allocator);
    ~CommandList() override;
    D3D12_COMMAND_LIST_TYPE GetType() override { return type_; }
    HRESULT Close() override;
    HRESULT Reset(ID3D12CommandAllocator* allocator, ID3D12PipelineState* initialState) override;
    void ResourceBarrier(UINT count, const D3D12_RESOURCE_BARRIER* barriers) override;
    void ClearRenderTargetView(D3D12_CPU_DESCRIPTOR_HANDLE view, const FLOAT color[4],
                               UINT rectCount, const D3D12_RECT* rects) override;

    bool recording() const { return recording_; }
    const std::vector<Command>& commands() const { return commands_; }
    const std::vector<D3D12_RECT>& rects() const { return rects_; }

  private:
    void Begin(CommandAllocator* allocator);

    const D3D12_COMMAND_LIST_TYPE type_;
    ComPtr<CommandAllocator> allocator_;
    bool recording_ = false;
    // Reused frame after frame: Reset keeps the capacity, so steady recording allocates nothing.
    std::vector<Command> commands_;
    std::vector<D3D12_RECT> rects_;
};

class CommandQueue : public DeviceChild<ID3D12CommandQueue> {
  public:
    CommandQueue(Device* device, const D3D12_COMMAND_QUEUE_DESC& desc)
        : DeviceChild(device), desc_(desc) {}
    void ExecuteCommandLists(UINT count, ID3D12CommandList* const* lists) override;
    HRESULT Signal(ID3D12Fence* fence, UINT64 value) override;
    D3D12_COMMAND_QUEUE_DESC GetDesc() override { return desc_; }

  private:
    void Execute(const CommandList& list);

    const D3D12_COMMAND_QUEUE_DESC desc_;
    std::mutex mutex_;  // one submission executes at a time
};

// ---- helpers shared by the objects ----

// The typed formats a render-target view may use, and whether `view` may
// view a resource of format `resource`.
bool IsRenderTargetFormat(DXGI_FORMAT format);
bool ViewFits(DXGI_FORMAT resource, DXGI_FORMAT view);
bool HasAlpha(DXGI_FORMAT view);

// Capture: called by the queue for every executed list that clears.
struct CaptureClaim {
    bool active = false;
    SurfaceStorage* target = nullptr;
    UINT64 execution = 0;
    CaptureCallback onCapture;
};
CaptureClaim ClaimCapture(const CommandList& list, UINT64 execution);

}  // namespace brisk::softgpu::detail
