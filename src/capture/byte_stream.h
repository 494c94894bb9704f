// The bytes of a capture, from a file, from memory, or inflated from gzip
// over either, and a reader that hands them out a record at a time from one
// reusable buffer: memory stays flat however long the capture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace brisk::capture {

enum class StreamStatus {
    kOk,         // some bytes were read
    kEnd,        // no more bytes: the data ended cleanly
    kTruncated,  // no more bytes: a compressed stream was cut short
    kBad,        // a read or inflate error: `error` says why
};

class ByteStream {
  public:
    virtual ~ByteStream() = default;
    // Reads 1 to `capacity` bytes into `out` (kOk, `got` > 0), or says why
    // there are none.
    virtual StreamStatus Read(uint8_t* out, size_t capacity, size_t& got, std::string& error) = 0;
};

// Null with `error` (the system's reason) when the file cannot be opened.
// `path` is UTF-8.
std::unique_ptr<ByteStream> OpenFileStream(const std::string& path, std::string& error);
std::unique_ptr<ByteStream> MemoryStream(const uint8_t* data, size_t size);
// Inflates a gzip stream read from `compressed`, up to the end of the first
// gzip member: what follows it is ignored, as gzip itself ignores trailing
// garbage.
std::unique_ptr<ByteStream> GzipStream(std::unique_ptr<ByteStream> compressed);

// Whole records from a stream. Each pointer handed out stays valid until the
// next Peek or Take.
class ByteReader {
  public:
    explicit ByteReader(std::unique_ptr<ByteStream> stream);

    // The next `n` bytes without consuming them; null when fewer are left,
    // with `status` saying whether the stream ended (kEnd when no byte at all
    // is left, kTruncated when some are) or failed (kBad, with `error`).
    const uint8_t* Peek(size_t n, StreamStatus& status, std::string& error);
    // The same, consumed.
    const uint8_t* Take(size_t n, StreamStatus& status, std::string& error);

  private:
    bool Fill(size_t n, StreamStatus& status, std::string& error);

    std::unique_ptr<ByteStream> stream_;
    std::vector<uint8_t> buffer_;
    size_t begin_ = 0;
    size_t end_ = 0;
    StreamStatus final_ = StreamStatus::kOk;  // how the stream ended, once it has
    std::string finalError_;
};

}  // namespace brisk::capture
