#include "capture/byte_stream.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include "base/utf8.h"
#endif

namespace brisk::capture {
namespace {

// Large enough that a read costs nothing per packet, small enough to stay
// in the cache.
constexpr size_t kChunkBytes = 64 * 1024;

class FileStream final : public ByteStream {
  public:
    explicit FileStream(std::FILE* file) : file_(file) {}
    ~FileStream() override { std::fclose(file_); }
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    StreamStatus Read(uint8_t* out, size_t capacity, size_t& got, std::string& error) override {
        got = std::fread(out, 1, capacity, file_);
        if (got > 0) {
            return StreamStatus::kOk;
        }
        if (std::ferror(file_) != 0) {
            error = std::string("read error: ") + std::strerror(errno);
            return StreamStatus::kBad;
        }
        return StreamStatus::kEnd;
    }

  private:
    std::FILE* file_;
};

class MemoryBytes final : public ByteStream {
  public:
    MemoryBytes(const uint8_t* data, size_t size) : data_(data), left_(size) {}

    StreamStatus Read(uint8_t* out, size_t capacity, size_t& got, std::string&) override {
        got = capacity < left_ ? capacity : left_;
        if (got == 0) {
            return StreamStatus::kEnd;
        }
        std::memcpy(out, data_, got);
        data_ += got;
        left_ -= got;
        return StreamStatus::kOk;
    }

  private:
    const uint8_t* data_;
    size_t left_;
};

}  // namespace

std::unique_ptr<ByteStream> OpenFileStream(const std::string& path, std::string& error) {
#ifdef _WIN32
    std::FILE* f = _wfopen(WideFromUtf8OrLatin1(path).c_str(), L"rb");
#else
    std::FILE* f = std::fopen(path.c_str(), "rb");
#endif
    if (f == nullptr) {
        error = std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<FileStream>(f);
}

std::unique_ptr<ByteStream> MemoryStream(const uint8_t* data, size_t size) {
    return std::make_unique<MemoryBytes>(data, size);
}

ByteReader::ByteReader(std::unique_ptr<ByteStream> stream) : stream_(std::move(stream)) {}

const uint8_t* ByteReader::Peek(size_t n, StreamStatus& status, std::string& error) {
    if (end_ - begin_ < n && !Fill(n, status, error)) {
        return nullptr;
    }
    status = StreamStatus::kOk;
    return buffer_.data() + begin_;
}

const uint8_t* ByteReader::Take(size_t n, StreamStatus& status, std::string& error) {
    const uint8_t* p = Peek(n, status, error);
    if (p != nullptr) {
        begin_ += n;
    }
    return p;
}

bool ByteReader::Fill(size_t n, StreamStatus& status, std::string& error) {
    // Move what is left to the front and read behind it: the buffer only
    // grows for a record larger than any before.
    if (begin_ > 0 && end_ > begin_) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    }
    end_ -= begin_;
    begin_ = 0;
    if (buffer_.size() < n || buffer_.size() < kChunkBytes) {
        buffer_.resize(n > kChunkBytes ? n : kChunkBytes);
    }
    while (end_ < n && final_ == StreamStatus::kOk) {
        size_t got = 0;
        const StreamStatus s =
            stream_->Read(buffer_.data() + end_, buffer_.size() - end_, got, finalError_);
        if (s == StreamStatus::kOk) {
            end_ += got;
        } else {
            final_ = s;
        }
    }
    if (end_ >= n) {
        return true;
    }
    status = final_ == StreamStatus::kEnd && end_ > 0 ? StreamStatus::kTruncated : final_;
    error = finalError_;
    return false;
}

}  // namespace brisk::capture
