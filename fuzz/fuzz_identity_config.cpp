// The Watchman's identity read as a device (or anything claiming to be one)
// answers it: feature answers through the identity reader, then the
// configuration's inflation, JSON parsing and checks. Whatever the answers,
// the read ends within its bounded tries, every problem has a known code and
// words, and the figures stay inside the bounds they promise.
//
// Input: a mode byte, then (mode % 3)
//   0: answers, each a kind byte (% 3: data, no answer, not captured), and
//      for data a length byte and that many bytes; after the input ends every
//      request goes unanswered;
//   1: a compressed configuration stream;
//   2: a configuration's JSON text, compressed here, so that mutations reach
//      the parser and the checks.
#include <zlib.h>

#include <set>
#include <string>

#include "fuzz_support.h"
#include "identity/identity_reader.h"

namespace {

using namespace brisk::identity;
using brisk::fuzz::ExactBuffer;
using brisk::fuzz::Reader;

const std::set<std::string> kCodes = {
    code::kConfigUnreadable,  code::kConfigInflate,    code::kConfigTooLarge,
    code::kConfigJson,        code::kConfigMissingKey, code::kConfigBadValue,
    code::kConfigNormals,     code::kConfigChannelMap, code::kConfigSerialMismatch,
    code::kFirmwareTooOld,    code::kSerialPattern,    code::kVersionUnreadable,
    code::kImuRangeUnreadable};

void CheckProblems(const Problems& problems) {
    for (const Problem& p : problems) {
        FUZZ_CHECK(kCodes.count(p.code) == 1);
        FUZZ_CHECK(!p.text.empty());
    }
}

void CheckConfig(const WatchmanConfig& c) {
    CheckProblems(c.problems);
    FUZZ_CHECK(c.read || !c.problems.empty());
    FUZZ_CHECK(c.jsonBytes <= kMaxConfigJsonBytes);
    if (c.problems.empty()) {  // a sound record is a whole one
        FUZZ_CHECK(c.read && c.jsonBytes > 0 && !c.serial.empty() && c.Photodiodes() > 0);
        FUZZ_CHECK(c.normals.size() == c.Photodiodes() && c.channelMap.size() == c.Photodiodes());
        FUZZ_CHECK(c.imu.shape != CalibrationShape::kNone);
    }
}

void Answers(Reader& in) {
    IdentityReader reader;
    uint32_t fed = 0;
    while (auto request = reader.Next()) {
        FUZZ_CHECK(request->bytes == kFeatureReportBytes);
        FUZZ_CHECK(++fed < 1000000);
        const uint8_t kind = in.Empty() ? 1 : in.Byte() % 3;
        if (kind == 2) {
            reader.Feed(FeatureAnswer::NotCaptured());
            continue;
        }
        if (kind == 1) {
            reader.Feed(FeatureAnswer::NoAnswer());
            continue;
        }
        const std::vector<uint8_t> bytes = in.Take(in.Byte());
        const ExactBuffer answer(bytes.data(), bytes.size());
        reader.Feed(FeatureAnswer::Data(answer.data(), answer.size()));
    }
    const Identity id = reader.Result();
    CheckProblems(id.problems);
    FUZZ_CHECK(id.tally.unanswered <= id.tally.requests);
    if (id.config != nullptr) {
        CheckConfig(*id.config);
        FUZZ_CHECK(!id.config->read ||
                   (id.config->chunkBytes >= id.config->compressedBytes &&
                    id.config->chunkBytes <= id.config->compressedBytes + kChunkTrailerBytes));
        CheckProblems(AllProblems(id, id.config->serial + "x", {12, "LHR-*?"}));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const uint8_t mode = in.Byte() % 3;
    if (mode == 0) {
        Answers(in);
        return 0;
    }
    std::vector<uint8_t> rest = in.Take(in.Left());
    if (mode == 2) {
        uLongf packed = compressBound(rest.size());
        std::vector<uint8_t> stream(packed);
        FUZZ_CHECK(compress2(stream.data(), &packed, rest.data(), rest.size(), 1) == Z_OK);
        stream.resize(packed);
        rest = stream;
    }
    const ExactBuffer stream(rest.data(), rest.size());
    const auto config = DecodeConfigStream(stream.data(), stream.size());
    FUZZ_CHECK(config != nullptr);
    CheckConfig(*config);
    return 0;
}
