// The priority of a thread that must take each report as it comes: a device
// reader whose OS queue overflows when the machine is busy and the reader is
// not scheduled in time.
#pragma once

namespace brisk {

// Raises the calling thread's scheduling priority a step above normal work,
// as far as the system permits. Best effort: where that is not permitted the
// thread keeps its priority, and nothing is said.
void RaiseCurrentThreadPriority();

}  // namespace brisk
