// Reading the factory configuration's compressed bytes, as a state machine
// the caller drives with feature reads: ask what Next() names, hand the
// answer to Feed(), until Next() names nothing. No I/O, no clock.
//
// The protocol: the answer to 0x10 gives the zlib stream's length in bytes
// 1-2, big-endian; then each answer to 0x11 is a chunk (report ID, a length
// byte, that many data bytes) and a chunk of length 0 ends it. The chunks
// may carry up to two bytes (FF FF) after the stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "identity/feature_reports.h"
#include "identity/problem.h"

namespace brisk::identity {

// Bytes the chunks may carry past the declared stream (every real unit
// sends FF FF there).
constexpr size_t kChunkTrailerBytes = 2;

// How the requests went, for the bring-up block and the benchmarks of a
// slow link: every request counts, the repeated ones too.
struct RequestTally {
    uint32_t requests = 0;
    uint32_t unanswered = 0;  // stalls, failures and answers with no data
    uint32_t mostTries = 0;   // the most tries one answer took
};

struct ConfigTransfer {
    enum class State { kReading, kComplete, kFailed, kNotCaptured };
    State state = State::kReading;
    uint32_t declaredBytes = 0;   // the stream's length as 0x10 gives it
    uint32_t chunkBytes = 0;      // data bytes the chunks carried, trailer included
    uint32_t chunks = 0;          // chunks with data
    std::vector<uint8_t> stream;  // the declared bytes once complete
    RequestTally tally;
    Problems problems;  // one config_unreadable when it failed
};

class ConfigReader {
  public:
    explicit ConfigReader(int maxTries = kMaxTries) : maxTries(maxTries) {}

    // The request to send next; nothing once the read has ended.
    std::optional<FeatureRequest> Next() const;

    // The answer to the request Next() named.
    void Feed(const FeatureAnswer& answer);

    const ConfigTransfer& Result() const { return result; }

  private:
    void OnStart(const uint8_t* data, size_t size);
    void OnChunk(const uint8_t* data, size_t size);
    void OnEnd();
    void Unanswered();
    void Answered();
    void Fail(const std::string& text);

    int maxTries;
    int tries = 0;         // of the request in flight
    bool started = false;  // 0x10 answered
    ConfigTransfer result;
};

}  // namespace brisk::identity
