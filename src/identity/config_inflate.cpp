#include "identity/config_inflate.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace brisk::identity {
namespace {

constexpr size_t kGrowBytes = 16 * 1024;

// zlib's stream state, ended exactly once.
class Inflater {
  public:
    Inflater() { ok = inflateInit(&z) == Z_OK; }
    ~Inflater() {
        if (ok) {
            inflateEnd(&z);
        }
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    z_stream z{};
    bool ok = false;
};

}  // namespace

Inflation InflateBounded(const uint8_t* data, size_t size, size_t limit, std::string& out,
                         std::string& why) {
    out.clear();
    Inflater inflater;
    if (!inflater.ok) {
        why = "zlib could not start";
        return Inflation::kBroken;
    }
    z_stream& z = inflater.z;
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(std::min<size_t>(size, UINT_MAX));
    size_t produced = 0;
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (produced == out.size()) {
            if (produced > limit) {
                return Inflation::kTooLarge;
            }
            out.resize(std::min(out.size() + kGrowBytes, limit + 1));
        }
        z.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
        z.avail_out = static_cast<uInt>(out.size() - produced);
        rc = inflate(&z, Z_NO_FLUSH);
        produced = out.size() - z.avail_out;
    }
    out.resize(produced);
    if (produced > limit) {
        return Inflation::kTooLarge;
    }
    if (rc == Z_STREAM_END && z.avail_in == 0) {
        return Inflation::kOk;
    }
    if (rc == Z_STREAM_END) {
        why = "the stream ends " + std::to_string(z.avail_in) + " bytes before its declared length";
    } else if (rc == Z_BUF_ERROR) {
        why = "the stream is cut short (" + std::to_string(produced) + " bytes inflated)";
    } else {
        why = std::string("zlib: ") + (z.msg != nullptr ? z.msg : "error " + std::to_string(rc));
    }
    out.clear();
    return Inflation::kBroken;
}

}  // namespace brisk::identity
