// What brisk-sim --report-leaks prints after the run: everything still open
// on the virtual bus and the software GPU once the tool has returned and the
// headset is gone. Soak runs read this line; all five counts are 0 when
// nothing leaked.
#pragma once

#include <cstddef>
#include <string>

namespace brisk::sim {

struct OpenAtExit {
    size_t handles = 0;    // virtual bus device handles
    size_t events = 0;     // virtual bus read events
    size_t badCloses = 0;  // closes of unknown or already closed handles
    long gpuObjects = 0;   // software-GPU objects alive
    long gpuHandles = 0;   // software-GPU handles open (events, shared surfaces)
};

// "open at exit: 0 handles, 0 events, 0 bad closes, 0 gpu objects, 0 gpu handles"
std::string FormatOpenAtExit(const OpenAtExit& open);

}  // namespace brisk::sim
