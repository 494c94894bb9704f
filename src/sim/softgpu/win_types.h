// The Win32 types, status codes, events and timed waits the software GPU and
// its callers use, in namespace brisk::softgpu.
//
// On Windows, <windows.h> may sit in the same translation unit. Its status
// codes and flags are macros there, so each one below is only declared when
// no macro of that name exists yet; the macro's value is the same.
#pragma once

#include <cstdint>

namespace brisk::softgpu {

using BYTE = std::uint8_t;
using UINT8 = std::uint8_t;
using UINT16 = std::uint16_t;
using INT = int;
using UINT = unsigned int;
using UINT32 = std::uint32_t;
using UINT64 = std::uint64_t;
using INT64 = std::int64_t;
using LONG = long;  // long as on Windows, so "%lx" formats an HRESULT everywhere
using ULONG = unsigned long;
using DWORD = std::uint32_t;
using BOOL = int;
using FLOAT = float;
using SIZE_T = std::uintptr_t;
using HRESULT = long;
using HANDLE = void*;
using LPCSTR = const char*;
using LPCWSTR = const wchar_t*;
using WCHAR = wchar_t;

// Opaque stand-in for the security attributes no caller ever passes.
struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

// An HRESULT keeps its 32-bit value: failure codes are negative.
constexpr HRESULT MakeHresult(std::uint32_t code) {
    return static_cast<HRESULT>(static_cast<std::int32_t>(code));
}

#ifndef FALSE
constexpr BOOL FALSE = 0;
#endif
#ifndef TRUE
constexpr BOOL TRUE = 1;
#endif
#ifndef INFINITE
constexpr DWORD INFINITE = 0xFFFFFFFFu;
#endif
#ifndef WAIT_OBJECT_0
constexpr DWORD WAIT_OBJECT_0 = 0;
#endif
#ifndef WAIT_TIMEOUT
constexpr DWORD WAIT_TIMEOUT = 258;
#endif
#ifndef WAIT_FAILED
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
#endif
#ifndef S_OK
constexpr HRESULT S_OK = 0;
#endif
#ifndef S_FALSE
constexpr HRESULT S_FALSE = 1;
#endif
#ifndef E_NOTIMPL
constexpr HRESULT E_NOTIMPL = MakeHresult(0x80004001u);
#endif
#ifndef E_NOINTERFACE
constexpr HRESULT E_NOINTERFACE = MakeHresult(0x80004002u);
#endif
#ifndef E_POINTER
constexpr HRESULT E_POINTER = MakeHresult(0x80004003u);
#endif
#ifndef E_FAIL
constexpr HRESULT E_FAIL = MakeHresult(0x80004005u);
#endif
#ifndef E_OUTOFMEMORY
constexpr HRESULT E_OUTOFMEMORY = MakeHresult(0x8007000Eu);
#endif
#ifndef E_INVALIDARG
constexpr HRESULT E_INVALIDARG = MakeHresult(0x80070057u);
#endif
#ifndef DXGI_ERROR_DEVICE_HUNG
constexpr HRESULT DXGI_ERROR_DEVICE_HUNG = MakeHresult(0x887A0006u);
#endif
#ifndef DXGI_ERROR_DEVICE_REMOVED
constexpr HRESULT DXGI_ERROR_DEVICE_REMOVED = MakeHresult(0x887A0005u);
#endif
#ifndef DXGI_ERROR_DEVICE_RESET
constexpr HRESULT DXGI_ERROR_DEVICE_RESET = MakeHresult(0x887A0007u);
#endif
#ifndef DXGI_ERROR_UNSUPPORTED
constexpr HRESULT DXGI_ERROR_UNSUPPORTED = MakeHresult(0x887A0004u);
#endif
#ifndef SUCCEEDED
constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
#endif
#ifndef FAILED
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}
#endif

// Events and waits. Handles are process-wide and thread-safe: any thread may
// signal, wait on or close a handle. Waiting on a handle that is not an event
// (or was closed) returns WAIT_FAILED.
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                    LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
void Sleep(DWORD milliseconds);
BOOL CloseHandle(HANDLE handle);

}  // namespace brisk::softgpu
