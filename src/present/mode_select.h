// Choosing the display mode and the render-target format: the presenter
// refuses to guess, so both are exact table look-ups kept apart from the
// device code.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/directmode.h"
#include "present/presenter_config.h"
#include "platform/gpu_flavour.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {

// Refresh rate of a listed mode; a zero denominator reads as 0 Hz.
double ModeRefreshHz(const DirectModeMode& mode);

// Width, height and format code equal, refresh within 0.5 Hz (strictly)
// unless the config takes any refresh rate.
bool ModeMatches(const DirectModeMode& mode, const PresenterConfig& cfg);

struct ModeChoice {
    int index = -1;          // -1: nothing matches
    double refreshHz = 0.0;  // the chosen mode's own rate
};

// Scans all `count` modes; when several match, the last one wins.
ModeChoice ChooseMode(const DirectModeMode* modes, size_t count, const PresenterConfig& cfg);

// Display stream compression 1.1, 4 slices, 8 bits per pixel. Only the DSC
// words change; the timing stays as listed.
void ForceDsc(DirectModeMode& mode);

// Typed render-target-view format for a typeless surface format (DXGI codes);
// 0 (DXGI_FORMAT_UNKNOWN) when the surface format has no known mapping.
int32_t TypedRtvFormat(int32_t surfaceFormat);

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
