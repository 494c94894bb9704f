#include "sim/leak_report.h"

#include <cstdio>

namespace brisk::sim {

std::string FormatOpenAtExit(const OpenAtExit& open) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "open at exit: %zu handles, %zu events, %zu bad closes, %ld gpu objects, %ld gpu "
                  "handles",
                  open.handles, open.events, open.badCloses, open.gpuObjects, open.gpuHandles);
    return text;
}

}  // namespace brisk::sim
