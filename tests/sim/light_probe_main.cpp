// brisk-light-probe: the Watchman's light through this system's own HID host
// (hidraw on Linux), for a test to run under brisk-devserver. Waits for the
// Watchman's second interface, reads its light for a while in the power-up
// format, switches it to the second generation's (feature 04 01), reads on,
// and prints one line: "before=ID:N,... after=ID:N,... sizes=S,... format=F"
// (reports per ID, in hex, before and after the switch; the lengths the
// reads returned; the format a read of 0x04 gives back). Exit 1 when no
// light interface shows up or cannot be opened.
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "platform/hid.h"

namespace {

using namespace brisk;

std::wstring LightPath(HidHost& host) {
    std::vector<HidDeviceInfo> devices;
    host.ListHidDevices(devices);
    for (const HidDeviceInfo& d : devices) {
        if (d.vendorId == 0x28DE && d.productId == 0x2300 && d.interfaceNumber == 1) {
            return d.path;
        }
    }
    return L"";
}

std::string Counts(const std::map<int, int>& counts) {
    std::string out;
    for (const auto& [id, n] : counts) {
        char item[16];
        std::snprintf(item, sizeof item, "%s%02x:%d", out.empty() ? "" : ",", id, n);
        out += item;
    }
    return out.empty() ? "none" : out;
}

// Reads `reports` reports or for 3 s, whichever comes first.
void ReadSome(HidHost& host, Handle device, Handle event, int reports, std::map<int, int>& ids,
              std::set<uint32_t>& sizes) {
    uint8_t buf[65];
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    for (int n = 0; n < reports && std::chrono::steady_clock::now() < giveUp;) {
        const ReadResult r = host.ReadTimed(device, event, buf, sizeof buf, 500);
        if (r.outcome == ReadOutcome::Completed && r.bytes > 0) {
            ++ids[buf[0]];
            sizes.insert(r.bytes);
            ++n;
        }
    }
}

}  // namespace

int main() {
    HidHost& host = PlatformHidHost();
    std::wstring path;
    for (int tries = 0; tries < 100 && path.empty(); ++tries) {
        path = LightPath(host);
        if (path.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    if (path.empty()) {
        std::fprintf(stderr, "brisk-light-probe: no light interface listed\n");
        return 1;
    }
    const Handle device = host.Open(path);
    if (device == kInvalidHandle) {
        std::fprintf(stderr, "brisk-light-probe: cannot open the light interface\n");
        return 1;
    }
    const Handle event = host.CreateReadEvent();
    std::map<int, int> before, after;
    std::set<uint32_t> sizes;
    ReadSome(host, device, event, 50, before, sizes);
    const uint8_t second[5] = {0x04, 0x01};
    const bool switched = host.SetFeature(device, second, sizeof second);
    // What was queued before the switch still comes first: let it pass.
    std::map<int, int> inBetween;
    ReadSome(host, device, event, 40, inBetween, sizes);
    ReadSome(host, device, event, 200, after, sizes);
    uint8_t format[8] = {0x04};
    const FeatureResult got = host.GetFeature(device, 0x04, format, 5);
    std::string sizeList;
    for (uint32_t s : sizes) {
        // Piece by piece: MinGW's gcc 12 at -O3 takes a literal + string for
        // an overlapping copy.
        if (!sizeList.empty()) {
            sizeList += ',';
        }
        sizeList += std::to_string(s);
    }
    std::printf("before=%s after=%s sizes=%s switched=%d format=%d\n", Counts(before).c_str(),
                Counts(after).c_str(), sizeList.c_str(), switched ? 1 : 0,
                got.outcome == FeatureOutcome::kData && got.bytes >= 2 ? format[1] : -1);
    host.Close(event);
    host.Close(device);
    return 0;
}
