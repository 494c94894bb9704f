// zlib inflation with a hard bound on the output: a stream that would
// inflate past it stops there, and no more than the bound (plus one byte)
// is ever allocated, whatever the stream claims.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace brisk::identity {

enum class Inflation {
    kOk,
    kTooLarge,  // more than `limit` bytes
    kBroken,    // not zlib, corrupt, cut short or followed by other bytes: `why` says
};

Inflation InflateBounded(const uint8_t* data, size_t size, size_t limit, std::string& out,
                         std::string& why);

}  // namespace brisk::identity
