// The COM basics of the software GPU: GUIDs, IUnknown with reference counting,
// the ComPtr smart pointer and IID_PPV_ARGS, shaped like their Windows
// namesakes so that code written against <d3d12.h> compiles unchanged.
#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "sim/softgpu/win_types.h"

namespace brisk::softgpu {

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
using IID = GUID;
#ifndef REFIID
using REFIID = const IID&;
#endif

inline bool operator==(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

// Every interface of the subset names its IID as `static constexpr IID kIid`.
template <class T>
constexpr const IID& UuidOf() {
    return T::kIid;
}

// IIDs of the subset share one prefix and differ in Data1; real code never
// compares them with the system's own.
constexpr IID MakeIid(std::uint32_t n) {
    return IID{n, 0x6272, 0x736b, {0x73, 0x6f, 0x66, 0x74, 0x67, 0x70, 0x75, 0x00}};
}

class IUnknown {
  public:
    static constexpr IID kIid = MakeIid(0x0000);
    using Base = void;  // each interface names the one it extends
    virtual HRESULT QueryInterface(const IID& riid, void** ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

  protected:
    virtual ~IUnknown() = default;
};

template <class T>
void** IID_PPV_ARGS_Helper(T** pp) {
    static_cast<void>(static_cast<IUnknown*>(*pp));  // only interfaces may be asked for
    return reinterpret_cast<void**>(pp);
}

// Owns one reference to an interface, like Microsoft::WRL::ComPtr.
template <class T>
class ComPtr {
  public:
    using InterfaceType = T;

    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ComPtr(T* p) : ptr_(p) { InternalAddRef(); }
    ComPtr(const ComPtr& other) : ptr_(other.ptr_) { InternalAddRef(); }
    template <class U>
    ComPtr(const ComPtr<U>& other) : ptr_(other.Get()) {
        InternalAddRef();
    }
    ComPtr(ComPtr&& other) noexcept : ptr_(other.ptr_) { other.ptr_ = nullptr; }
    ~ComPtr() { InternalRelease(); }

    ComPtr& operator=(const ComPtr& other) {
        ComPtr(other).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(static_cast<ComPtr&&>(other)).Swap(*this);
        return *this;
    }
    ComPtr& operator=(T* p) {
        ComPtr(p).Swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) {
        InternalRelease();
        return *this;
    }

    T* Get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    // As with WRL, taking the address drops the current reference so that the
    // pointer can receive a new one.
    T** operator&() { return ReleaseAndGetAddressOf(); }
    T** GetAddressOf() { return &ptr_; }
    T* const* GetAddressOf() const { return &ptr_; }
    T** ReleaseAndGetAddressOf() {
        InternalRelease();
        return &ptr_;
    }
    void Reset() { InternalRelease(); }
    T* Detach() {
        T* p = ptr_;
        ptr_ = nullptr;
        return p;
    }
    void Attach(T* p) {
        InternalRelease();
        ptr_ = p;
    }
    void Swap(ComPtr& other) noexcept {
        T* p = ptr_;
        ptr_ = other.ptr_;
        other.ptr_ = p;
    }
    // `out` as WRL's &ptr gives it: the address of a (now empty) ComPtr<U>.
    template <class U>
    HRESULT As(U** out) const {
        if (ptr_ == nullptr) {
            return E_POINTER;
        }
        return ptr_->QueryInterface(UuidOf<U>(), reinterpret_cast<void**>(out));
    }

  private:
    void InternalAddRef() {
        if (ptr_ != nullptr) {
            ptr_->AddRef();
        }
    }
    void InternalRelease() {
        T* p = ptr_;
        if (p != nullptr) {
            ptr_ = nullptr;
            p->Release();
        }
    }

    T* ptr_ = nullptr;
};

template <class T, class U>
bool operator==(const ComPtr<T>& a, const ComPtr<U>& b) {
    return a.Get() == b.Get();
}
template <class T>
bool operator==(const ComPtr<T>& a, std::nullptr_t) {
    return a.Get() == nullptr;
}

}  // namespace brisk::softgpu

// The IID of what `pp` points to, then `pp` as void**. <windows.h> may have
// defined its own version in terms of __uuidof, which knows nothing of the
// subset's interfaces; ours replaces it.
#ifdef IID_PPV_ARGS
#undef IID_PPV_ARGS
#endif
#define IID_PPV_ARGS(ppType)                                               \
    ::brisk::softgpu::UuidOf<std::remove_cvref_t<decltype(**(ppType))>>(), \
        ::brisk::softgpu::IID_PPV_ARGS_Helper(ppType)
