#include "identity/identity_reader.h"

#include <algorithm>

namespace brisk::identity {

Problems AllProblems(const Identity& identity, const std::optional<std::string>& usbSerial,
                     const StationExpectations& expect) {
    Problems all = identity.problems;
    if (identity.config != nullptr) {
        all.insert(all.end(), identity.config->problems.begin(), identity.config->problems.end());
    }
    const UnitFacts unit{identity.config.get(), identity.firmware ? &*identity.firmware : nullptr,
                         usbSerial};
    const Problems station = CheckStation(unit, expect);
    all.insert(all.end(), station.begin(), station.end());
    return all;
}

std::optional<FeatureRequest> IdentityReader::Next() const {
    switch (step) {
        case Step::kVersion:
            return FeatureRequest{kVersionReport, kFeatureReportBytes};
        case Step::kRange:
            return FeatureRequest{kRangeModesReport, kFeatureReportBytes};
        case Step::kConfig:
            return config.Next();
        case Step::kDone:
            break;
    }
    return std::nullopt;
}

void IdentityReader::Feed(const FeatureAnswer& answer) {
    if (step == Step::kVersion || step == Step::kRange) {
        FeedSmall(answer);
    } else if (step == Step::kConfig) {
        config.Feed(answer);
        if (!config.Next()) {
            identity.config = DecodeConfig(config.Result());
            step = Step::kDone;
        }
    }
}

void IdentityReader::FeedSmall(const FeatureAnswer& answer) {
    if (answer.kind == FeatureAnswer::Kind::kNotCaptured) {
        Advance();
        return;
    }
    ++identity.tally.requests;
    ++tries;
    std::string why;
    const Decoded decoded = Decode(answer, why);
    const uint8_t id = step == Step::kVersion ? kVersionReport : kRangeModesReport;
    const char* problemCode =
        step == Step::kVersion ? code::kVersionUnreadable : code::kImuRangeUnreadable;
    if (decoded == Decoded::kEmpty) {
        ++identity.tally.unanswered;
        if (tries >= maxTries) {
            identity.problems.push_back({problemCode, "no answer to " + HexByte(id) + " in " +
                                                          std::to_string(tries) + " tries"});
            Advance();
        }
        return;
    }
    identity.tally.mostTries = std::max(identity.tally.mostTries, static_cast<uint32_t>(tries));
    if (decoded == Decoded::kBad) {
        identity.problems.push_back({problemCode, why});
    }
    Advance();
}

// kEmpty for no answer as well as for an answer with nothing in it yet.
Decoded IdentityReader::Decode(const FeatureAnswer& answer, std::string& why) {
    if (answer.kind != FeatureAnswer::Kind::kData) {
        return Decoded::kEmpty;
    }
    if (step == Step::kVersion) {
        FirmwareVersion v;
        const Decoded d = DecodeVersion(answer.data, answer.size, v, why);
        identity.firmware = d == Decoded::kOk ? std::optional(v) : std::nullopt;
        return d;
    }
    ImuRange r;
    const Decoded d = DecodeRange(answer.data, answer.size, r, why);
    identity.range = d == Decoded::kOk ? std::optional(r) : std::nullopt;
    return d;
}

void IdentityReader::Advance() {
    tries = 0;
    step = step == Step::kVersion ? Step::kRange : Step::kConfig;
}

Identity IdentityReader::Result() const {
    Identity out = identity;
    const RequestTally& c = config.Result().tally;
    out.tally.requests += c.requests;
    out.tally.unanswered += c.unanswered;
    out.tally.mostTries = std::max(out.tally.mostTries, c.mostTries);
    return out;
}

}  // namespace brisk::identity
