// Display mode lists as the DirectMode driver fills them in, through mode
// matching, the forced DSC settings and the render-target format table.
//
// Input: a flags byte; with bit 0 set, the wanted mode follows (width, height,
// format as 32-bit little-endian words, then the refresh rate as the 8 bytes
// of a double), otherwise the presenter's defaults are wanted. The rest is the
// list: 48-byte mode records as the driver writes them.
#include <cmath>
#include <cstring>

#include "fuzz_support.h"
#include "present/mode_select.h"

namespace {

using brisk::DirectModeMode;
using brisk::PresenterConfig;

PresenterConfig ReadConfig(brisk::fuzz::Reader& in) {
    PresenterConfig cfg;
    if ((in.Byte() & 1) == 0) {
        return cfg;
    }
    cfg.width = in.U32();
    cfg.height = in.U32();
    cfg.format = static_cast<int32_t>(in.U32());
    const std::vector<uint8_t> rate = in.Take(sizeof(double));
    if (rate.size() == sizeof(double)) {
        std::memcpy(&cfg.refreshHz, rate.data(), sizeof(double));
    }
    return cfg;
}

void CheckMode(const DirectModeMode& m, const PresenterConfig& cfg) {
    const double hz = brisk::ModeRefreshHz(m);
    FUZZ_CHECK(std::isfinite(hz) && hz >= 0.0);
    if (m.refreshDenominator == 0) {
        FUZZ_CHECK(hz == 0.0);
    }
    if (brisk::ModeMatches(m, cfg)) {
        FUZZ_CHECK(m.width == cfg.width && m.height == cfg.height && m.format == cfg.format);
        FUZZ_CHECK(std::fabs(hz - cfg.refreshHz) < 0.5);
    }

    // Forcing DSC changes the DSC words and nothing else.
    DirectModeMode forced = m;
    brisk::ForceDsc(forced);
    FUZZ_CHECK(std::memcmp(&forced, &m, offsetof(DirectModeMode, dscEnable)) == 0);
    FUZZ_CHECK(forced.dscEnable == 1 && forced.dscVersion == 0x11 && forced.dscSliceCount == 4 &&
               forced.dscBitsPerPixelX16 == 128);

    // Typeless surfaces map to a typed view; a typed one is never mapped again.
    const int32_t view = brisk::TypedRtvFormat(m.format);
    if (view != 0) {
        FUZZ_CHECK(view != m.format);
        FUZZ_CHECK(brisk::TypedRtvFormat(view) == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    brisk::fuzz::Reader in(data, size);
    const PresenterConfig cfg = ReadConfig(in);

    // The list in a block of exactly its own size.
    const size_t count = in.Left() / sizeof(DirectModeMode);
    const std::vector<uint8_t> raw = in.Take(count * sizeof(DirectModeMode));
    std::unique_ptr<DirectModeMode[]> modes(new DirectModeMode[count == 0 ? 1 : count]);
    if (count > 0) {
        std::memcpy(modes.get(), raw.data(), raw.size());
    }

    int lastMatch = -1;
    for (size_t i = 0; i < count; ++i) {
        CheckMode(modes[i], cfg);
        if (brisk::ModeMatches(modes[i], cfg)) {
            lastMatch = static_cast<int>(i);
        }
    }
    const brisk::ModeChoice choice =
        brisk::ChooseMode(count == 0 ? nullptr : modes.get(), count, cfg);
    // An index within the list or none; when several match, the last one.
    FUZZ_CHECK(choice.index == lastMatch);
    if (choice.index >= 0) {
        FUZZ_CHECK(static_cast<size_t>(choice.index) < count);
        FUZZ_CHECK(choice.refreshHz == brisk::ModeRefreshHz(modes[choice.index]));
    }
    FUZZ_CHECK(brisk::ChooseMode(nullptr, 0, cfg).index == -1);
    return 0;
}
