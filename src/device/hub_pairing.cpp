#include "device/hub_pairing.h"

namespace brisk {

std::vector<PortKey> HubsAbove(const PortKey& device) {
    std::vector<PortKey> hubs;
    if (!device.Known()) {
        return hubs;
    }
    PortKey hub = device;
    for (int step = 0; step < 2 && !hub.ports.empty(); ++step) {
        hub.ports.pop_back();
        hubs.push_back(hub);
    }
    return hubs;
}

bool SharesHub(const PortKey& a, const PortKey& b) {
    for (const PortKey& ha : HubsAbove(a)) {
        for (const PortKey& hb : HubsAbove(b)) {
            if (ha == hb) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace brisk
