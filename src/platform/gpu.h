// Direct3D 12 for the presenter and the frame painter. A normal Windows build
// uses the system's Direct3D 12; everywhere else, and in brisk-sim, the
// software subset in sim/softgpu/ stands in with the same names, so the
// code using it reads (and compiles) as plain Direct3D 12 code in namespace
// brisk either way.
#pragma once

#include "platform/gpu_flavour.h"

#if defined(_WIN32) && !defined(BRISK_SOFTGPU)

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIDL_EXPLICIT_AGGREGATE_RETURNS
// MinGW: methods returning structs (GetDesc, GetCPUDescriptorHandleForHeapStart)
// must use the Microsoft calling convention for aggregates.
#define WIDL_EXPLICIT_AGGREGATE_RETURNS
#endif
#include <windows.h>
#include <d3d12.h>
#include <dxgi1_4.h>
#include <wrl/client.h>

namespace brisk {
using Microsoft::WRL::ComPtr;
}

#else

#if defined(_WIN32)
// brisk-sim on Windows: let <windows.h> define its macros first, so that the
// subset can tell which names are already taken and supply IID_PPV_ARGS last.
// (Including <objbase.h> or <ole2.h> after this header would bring the
// system's IID_PPV_ARGS back; WIN32_LEAN_AND_MEAN code must not.)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include "sim/softgpu/softgpu.h"

namespace brisk {
using namespace softgpu;
}

#endif
