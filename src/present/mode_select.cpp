#include "present/mode_select.h"

#include <cmath>

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {

double ModeRefreshHz(const DirectModeMode& mode) {
    if (mode.refreshDenominator == 0) {
        return 0.0;
    }
    return static_cast<double>(mode.refreshNumerator) /
           static_cast<double>(mode.refreshDenominator);
}

bool ModeMatches(const DirectModeMode& mode, const PresenterConfig& cfg) {
    return mode.width == cfg.width && mode.height == cfg.height && mode.format == cfg.format &&
           (cfg.anyRefresh || std::fabs(ModeRefreshHz(mode) - cfg.refreshHz) < 0.5);
}

ModeChoice ChooseMode(const DirectModeMode* modes, size_t count, const PresenterConfig& cfg) {
    ModeChoice choice;
    for (size_t i = 0; i < count; ++i) {
        if (ModeMatches(modes[i], cfg)) {
            choice.index = static_cast<int>(i);
            choice.refreshHz = ModeRefreshHz(modes[i]);
        }
    }
    return choice;
}

void ForceDsc(DirectModeMode& mode) {
    mode.dscEnable = 1;
    mode.dscVersion = 0x11;
    mode.dscSliceCount = 4;
    mode.dscBitsPerPixelX16 = 128;
}

int32_t TypedRtvFormat(int32_t surfaceFormat) {
    // The surfaces come typeless; a view must name the typed twin. Anything
    // else (already typed, or unknown) is refused rather than guessed.
    struct Pair {
        int32_t surface;
        int32_t view;
    };
    static constexpr Pair kTable[] = {
        {9, 10},   // R16G16B16A16_TYPELESS -> R16G16B16A16_FLOAT
        {23, 24},  // R10G10B10A2_TYPELESS -> R10G10B10A2_UNORM
        {27, 28},  // R8G8B8A8_TYPELESS -> R8G8B8A8_UNORM
        {90, 87},  // B8G8R8A8_TYPELESS -> B8G8R8A8_UNORM
        {92, 88},  // B8G8R8X8_TYPELESS -> B8G8R8X8_UNORM
    };
    for (const Pair& p : kTable) {
        if (p.surface == surfaceFormat) {
            return p.view;
        }
    }
    return 0;
}

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
