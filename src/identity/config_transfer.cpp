#include "identity/config_transfer.h"

#include <algorithm>
#include <string>

namespace brisk::identity {

std::optional<FeatureRequest> ConfigReader::Next() const {
    if (result.state != ConfigTransfer::State::kReading) {
        return std::nullopt;
    }
    return FeatureRequest{started ? kConfigChunkReport : kConfigStartReport, kFeatureReportBytes};
}

void ConfigReader::Feed(const FeatureAnswer& answer) {
    if (result.state != ConfigTransfer::State::kReading) {
        return;
    }
    if (answer.kind == FeatureAnswer::Kind::kNotCaptured) {
        result.state = ConfigTransfer::State::kNotCaptured;
        return;
    }
    ++result.tally.requests;
    ++tries;
    if (answer.kind == FeatureAnswer::Kind::kNoAnswer) {
        Unanswered();
        return;
    }
    if (started) {
        OnChunk(answer.data, answer.size);
    } else {
        OnStart(answer.data, answer.size);
    }
}

void ConfigReader::OnStart(const uint8_t* data, size_t size) {
    if (size > 0 && data[0] != kConfigStartReport) {
        Fail("the answer to 0x10 is report " + HexByte(data[0]));
        return;
    }
    const uint32_t declared = size < 3 ? 0 : (static_cast<uint32_t>(data[1]) << 8) | data[2];
    if (declared == 0) {
        Unanswered();  // no data yet: a device may answer a first request so
        return;
    }
    Answered();
    started = true;
    result.declaredBytes = declared;
    result.stream.reserve(declared + kChunkTrailerBytes);
}

void ConfigReader::OnChunk(const uint8_t* data, size_t size) {
    if (size < 2) {
        Unanswered();
        return;
    }
    if (data[0] != kConfigChunkReport) {
        Fail("chunk " + std::to_string(result.chunks + 1) + " came as report " + HexByte(data[0]));
        return;
    }
    const size_t length = data[1];
    if (length > size - 2) {
        Fail("chunk " + std::to_string(result.chunks + 1) + " claims " + std::to_string(length) +
             " bytes; its answer holds " + std::to_string(size - 2));
        return;
    }
    Answered();
    if (length == 0) {
        OnEnd();
        return;
    }
    ++result.chunks;
    result.chunkBytes += static_cast<uint32_t>(length);
    if (result.chunkBytes > result.declaredBytes + kChunkTrailerBytes) {
        Fail("the chunks carry more than the " + std::to_string(result.declaredBytes) +
             " bytes declared (" + std::to_string(result.chunkBytes) + " by chunk " +
             std::to_string(result.chunks) + ")");
        return;
    }
    result.stream.insert(result.stream.end(), data + 2, data + 2 + length);
}

void ConfigReader::OnEnd() {
    if (result.chunkBytes < result.declaredBytes) {
        Fail("the chunks end after " + std::to_string(result.chunkBytes) + " of the " +
             std::to_string(result.declaredBytes) + " bytes declared");
        return;
    }
    result.stream.resize(result.declaredBytes);  // the trailer is not part of the stream
    result.state = ConfigTransfer::State::kComplete;
}

void ConfigReader::Unanswered() {
    ++result.tally.unanswered;
    if (tries >= maxTries) {
        Fail(std::string("no answer to ") + (started ? "0x11 (chunk " : "0x10 (start") +
             (started ? std::to_string(result.chunks + 1) : std::string()) + ") in " +
             std::to_string(tries) + " tries");
    }
}

void ConfigReader::Answered() {
    result.tally.mostTries = std::max(result.tally.mostTries, static_cast<uint32_t>(tries));
    tries = 0;
}

void ConfigReader::Fail(const std::string& text) {
    result.state = ConfigTransfer::State::kFailed;
    result.stream.clear();
    result.problems.push_back({code::kConfigUnreadable, "configuration read failed: " + text});
}

}  // namespace brisk::identity
