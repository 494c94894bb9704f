#include "identity/watchman_config.h"

#include "identity/config_fields.h"
#include "identity/config_inflate.h"

namespace brisk::identity {
namespace {

void InflateAndRead(const uint8_t* stream, size_t size, WatchmanConfig& c) {
    std::string text, why;
    switch (InflateBounded(stream, size, kMaxConfigJsonBytes, text, why)) {
        case Inflation::kTooLarge:
            c.problems.push_back(
                {code::kConfigTooLarge,
                 "configuration inflates past " + std::to_string(kMaxConfigJsonBytes) + " bytes"});
            return;
        case Inflation::kBroken:
            c.problems.push_back({code::kConfigInflate, "configuration does not inflate: " + why});
            return;
        case Inflation::kOk:
            break;
    }
    c.jsonBytes = static_cast<uint32_t>(text.size());
    ReadConfigJson(text, c);
}

}  // namespace

std::shared_ptr<const WatchmanConfig> DecodeConfig(const ConfigTransfer& transfer) {
    if (transfer.state == ConfigTransfer::State::kNotCaptured) {
        return nullptr;
    }
    auto c = std::make_shared<WatchmanConfig>();
    c->compressedBytes = transfer.declaredBytes;
    c->chunkBytes = transfer.chunkBytes;
    c->tally = transfer.tally;
    if (transfer.state != ConfigTransfer::State::kComplete) {
        c->problems = transfer.problems;
        if (c->problems.empty()) {
            c->problems.push_back({code::kConfigUnreadable, "configuration read did not finish"});
        }
        return c;
    }
    c->read = true;
    InflateAndRead(transfer.stream.data(), transfer.stream.size(), *c);
    return c;
}

std::shared_ptr<const WatchmanConfig> DecodeConfigStream(const uint8_t* stream, size_t size) {
    auto c = std::make_shared<WatchmanConfig>();
    c->read = true;
    c->compressedBytes = c->chunkBytes = static_cast<uint32_t>(size);
    InflateAndRead(stream, size, *c);
    return c;
}

}  // namespace brisk::identity
