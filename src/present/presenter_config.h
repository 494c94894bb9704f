// What the presenter is asked for. The driver uses the defaults unchanged:
// the headset's one native mode, DSC forced on, panels left on at exit.
#pragma once

#include <cstdint>

namespace brisk {

struct PresenterConfig {
    uint32_t width = 5088;  // both eyes side by side
    uint32_t height = 2544;
    double refreshHz = 75.0;
    int32_t format = 22;   // mode format code, compared with each listed mode
    bool forceDsc = true;  // DSC 1.1, 4 slices, 8 bpp on the chosen mode
    bool powerOffOnExit = false;
    bool anyRefresh = false;  // true: any refresh rate of width x height matches
};

}  // namespace brisk
