// The little of HTTP/1.x the endpoint speaks: reading a request's head as its
// bytes arrive, choosing the answer, and the answer's bytes. Pure, so that
// every odd request a scanner or a broken client sends can be checked here.
// Whatever arrives is untrusted: the head is bounded and read without
// copying.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace brisk::metrics {

// A request head larger than this is not read further (431).
inline constexpr size_t kMaxRequestHead = 8192;
// A scrape has no body; one announced larger than this is refused (413).
inline constexpr uint64_t kMaxRequestBody = 4096;

enum class HeadState {
    kIncomplete,  // no end of the head yet, and nothing wrong so far
    kComplete,
    kBad,       // not an HTTP/1.x request: answered 400 at once
    kTooLarge,  // no end within kMaxRequestHead bytes
};

struct RequestHead {
    HeadState state = HeadState::kIncomplete;
    std::string_view method, target;  // views into the bytes handed in
    uint64_t contentLength = 0;
    bool hasChunkedBody = false;
};

// Reads the bytes received so far on a connection.
RequestHead ReadRequestHead(std::string_view received);

// The status a complete (or bad, or too large) head is answered with:
// 200 for GET /metrics, else 400, 404, 405, 413 or 431.
int AnswerStatus(const RequestHead& head);

// A whole response that closes the connection after it.
std::string ResponseText(int status, std::string_view contentType, std::string_view body);

}  // namespace brisk::metrics
