// Which devices belong together on the bus: the headset's Watchman and MCU
// hang on the headset's internal hub, so two devices pair when the hub one
// hangs on, or the hub above it, is also one of the other's two.
#pragma once

#include <vector>

#include "platform/hid.h"

namespace brisk {

// The hub a device hangs on and the hub above it, nearest first, each as the
// port key of that hub. At most two; fewer near the root: a device on a root
// port hangs on the root hub (no ports), and the root hub hangs on nothing.
std::vector<PortKey> HubsAbove(const PortKey& device);

// True when the parent or grandparent hubs of two devices coincide. Never for
// an unknown place.
bool SharesHub(const PortKey& a, const PortKey& b);

}  // namespace brisk
