// gzip over any byte stream, through zlib.
#include <zlib.h>

#include <vector>

#include "capture/byte_stream.h"

namespace brisk::capture {
namespace {

constexpr size_t kInputBytes = 64 * 1024;

class Gzip final : public ByteStream {
  public:
    explicit Gzip(std::unique_ptr<ByteStream> in) : in_(std::move(in)), input_(kInputBytes) {
        // 16 + MAX_WBITS: a gzip wrapper, not zlib's own.
        ready_ = inflateInit2(&z_, 16 + MAX_WBITS) == Z_OK;
    }
    ~Gzip() override {
        if (ready_) {
            inflateEnd(&z_);
        }
    }
    Gzip(const Gzip&) = delete;
    Gzip& operator=(const Gzip&) = delete;

    StreamStatus Read(uint8_t* out, size_t capacity, size_t& got, std::string& error) override {
        got = 0;
        if (!ready_) {
            error = "gzip: cannot set up zlib";
            return StreamStatus::kBad;
        }
        if (ended_ != StreamStatus::kOk) {
            error = error_;
            return ended_;
        }
        z_.next_out = out;
        z_.avail_out = static_cast<uInt>(capacity);
        while (z_.avail_out == capacity && ended_ == StreamStatus::kOk) {
            Step();
        }
        got = capacity - z_.avail_out;
        if (got > 0) {
            return StreamStatus::kOk;  // how it ended, if it did, comes with the next read
        }
        error = error_;
        return ended_;
    }

  private:
    // Inflates what input there is, reading more when it runs out; sets
    // `ended_` once the stream is over one way or another.
    void Step() {
        if (z_.avail_in == 0 && !inputOver_) {
            size_t n = 0;
            const StreamStatus s = in_->Read(input_.data(), input_.size(), n, error_);
            if (s == StreamStatus::kBad) {
                ended_ = s;
                return;
            }
            inputOver_ = s != StreamStatus::kOk;
            z_.next_in = input_.data();
            z_.avail_in = static_cast<uInt>(n);
        }
        const int r = inflate(&z_, Z_NO_FLUSH);
        if (r == Z_STREAM_END) {
            ended_ = StreamStatus::kEnd;  // anything after the gzip member is not ours
        } else if (r == Z_BUF_ERROR && inputOver_ && z_.avail_in == 0) {
            ended_ = StreamStatus::kTruncated;
            error_ = "the gzip stream is cut short";
        } else if (r != Z_OK && r != Z_BUF_ERROR) {
            ended_ = StreamStatus::kBad;
            error_ = std::string("corrupt gzip data (") +
                     (z_.msg != nullptr ? z_.msg : "zlib error " + std::to_string(r)) + ")";
        }
    }

    std::unique_ptr<ByteStream> in_;
    std::vector<uint8_t> input_;
    z_stream z_{};
    bool ready_ = false;
    bool inputOver_ = false;
    StreamStatus ended_ = StreamStatus::kOk;
    std::string error_;
};

}  // namespace

std::unique_ptr<ByteStream> GzipStream(std::unique_ptr<ByteStream> compressed) {
    return std::make_unique<Gzip>(std::move(compressed));
}

}  // namespace brisk::capture
