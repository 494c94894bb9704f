#include "imu/watchman_identity.h"

#include <algorithm>
#include <mutex>

namespace brisk {
namespace {

std::mutex launcherMtx;
std::string launcherSerial;  // guarded by launcherMtx

}  // namespace

void IdentityRead::Begin(Handle handle, std::chrono::milliseconds budget) {
    reader = identity::IdentityReader();
    device = handle;
    active = true;
    hostCannotAsk = false;
    deadline = std::chrono::steady_clock::now() + budget;
}

identity::FeatureAnswer IdentityRead::Ask(HidHost& host, const identity::FeatureRequest& request) {
    // Past the budget, or on a host that cannot ask, every request left
    // counts as unanswered without I/O: the reader's bounded tries end it.
    if (hostCannotAsk || std::chrono::steady_clock::now() >= deadline) {
        return identity::FeatureAnswer::NoAnswer();
    }
    const uint32_t length = static_cast<uint32_t>(std::min(request.bytes, sizeof buf));
    std::fill(buf, buf + length, uint8_t{0});
    buf[0] = request.reportId;
    const FeatureResult r = host.GetFeature(device, request.reportId, buf, length);
    switch (r.outcome) {
        case FeatureOutcome::kData:
            // A host claiming more than the buffer holds must not lead past it.
            return identity::FeatureAnswer::Data(buf, std::min(r.bytes, length));
        case FeatureOutcome::kNotCaptured:
            return identity::FeatureAnswer::NotCaptured();
        case FeatureOutcome::kFailed:
            hostCannotAsk = r.error == kErrorNotSupported;
            break;
    }
    return identity::FeatureAnswer::NoAnswer();
}

bool IdentityRead::Step(HidHost& host, int requests) {
    if (!active) {
        return false;
    }
    for (int i = 0; i < requests; ++i) {
        const std::optional<identity::FeatureRequest> next = reader.Next();
        if (!next) {
            break;
        }
        reader.Feed(Ask(host, *next));
    }
    if (reader.Next()) {
        return false;
    }
    active = false;
    return true;
}

identity::Identity IdentityRead::Result() const {
    identity::Identity id = reader.Result();
    if (!hostCannotAsk) {
        return id;
    }
    const char* const kWhy = "this host cannot ask for feature reports";
    for (identity::Problem& p : id.problems) {
        p.text = kWhy;
    }
    if (id.config != nullptr) {
        auto config = std::make_shared<identity::WatchmanConfig>(*id.config);
        for (identity::Problem& p : config->problems) {
            p.text = kWhy;
        }
        id.config = std::move(config);
    }
    return id;
}

UsbSerialFact UsbSerialOf(const std::string& chosen, bool fromOption) {
    if (chosen.empty()) {
        return {};
    }
    {
        std::lock_guard<std::mutex> lock(launcherMtx);
        if (chosen == launcherSerial) {
            return {std::nullopt, "chosen by brisk-sim", chosen};
        }
    }
    return {chosen, fromOption ? "option" : "device", chosen};
}

void SetSerialChosenByLauncher(std::string serial) {
    std::lock_guard<std::mutex> lock(launcherMtx);
    launcherSerial = std::move(serial);
}

}  // namespace brisk
