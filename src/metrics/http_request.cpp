#include "metrics/http_request.h"

#include <charconv>

namespace brisk::metrics {
namespace {

constexpr size_t kMaxMethod = 16;

bool IsUpper(char c) {
    return c >= 'A' && c <= 'Z';
}

// Whether `line` (no line end) could still begin a request line: a method of
// capitals, then anything. Lets garbage be answered at its first bytes
// rather than once it has filled the head.
bool CouldBeRequestLine(std::string_view line) {
    size_t i = 0;
    while (i < line.size() && i < kMaxMethod && IsUpper(line[i])) {
        ++i;
    }
    if (i == line.size()) {
        return true;  // all capitals so far, no more than a method may have
    }
    return i > 0 && line[i] == ' ';
}

std::string_view WithoutCr(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

std::string_view Trimmed(std::string_view v) {
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) {
        v.remove_prefix(1);
    }
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) {
        v.remove_suffix(1);
    }
    return v;
}

// "GET /metrics HTTP/1.1": fills method and target; false when it is not.
bool ReadRequestLine(std::string_view line, RequestHead& head) {
    const size_t sp1 = line.find(' ');
    if (sp1 == std::string_view::npos || sp1 == 0 || sp1 > kMaxMethod) {
        return false;
    }
    const size_t sp2 = line.find(' ', sp1 + 1);
    if (sp2 == std::string_view::npos || sp2 == sp1 + 1) {
        return false;
    }
    head.method = line.substr(0, sp1);
    head.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    const std::string_view version = line.substr(sp2 + 1);
    for (char c : head.method) {
        if (!IsUpper(c)) {
            return false;
        }
    }
    return version.size() == 8 && version.substr(0, 7) == "HTTP/1." && version[7] >= '0' &&
           version[7] <= '9' && head.target.find(' ') == std::string_view::npos;
}

// One header line; false when it is malformed.
bool ReadHeaderLine(std::string_view line, RequestHead& head) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) {
        return false;
    }
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = Trimmed(line.substr(colon + 1));
    if (EqualsIgnoringCase(name, "Content-Length")) {
        const auto r =
            std::from_chars(value.data(), value.data() + value.size(), head.contentLength);
        return !value.empty() && r.ec == std::errc() && r.ptr == value.data() + value.size();
    }
    if (EqualsIgnoringCase(name, "Transfer-Encoding")) {
        head.hasChunkedBody = true;
    }
    return true;
}

}  // namespace

RequestHead ReadRequestHead(std::string_view received) {
    RequestHead head;
    const std::string_view bounded = received.substr(0, kMaxRequestHead);
    const size_t firstEnd = bounded.find('\n');
    if (firstEnd == std::string_view::npos) {
        head.state = !CouldBeRequestLine(bounded)         ? HeadState::kBad
                     : received.size() >= kMaxRequestHead ? HeadState::kTooLarge
                                                          : HeadState::kIncomplete;
        return head;
    }
    if (!ReadRequestLine(WithoutCr(bounded.substr(0, firstEnd)), head)) {
        head.state = HeadState::kBad;
        return head;
    }
    size_t at = firstEnd + 1;
    while (true) {
        const size_t end = bounded.find('\n', at);
        if (end == std::string_view::npos) {
            head.state =
                received.size() >= kMaxRequestHead ? HeadState::kTooLarge : HeadState::kIncomplete;
            return head;
        }
        const std::string_view line = WithoutCr(bounded.substr(at, end - at));
        at = end + 1;
        if (line.empty()) {
            head.state = HeadState::kComplete;
            return head;
        }
        if (!ReadHeaderLine(line, head)) {
            head.state = HeadState::kBad;
            return head;
        }
    }
}

int AnswerStatus(const RequestHead& head) {
    switch (head.state) {
        case HeadState::kBad:
        case HeadState::kIncomplete:
            return 400;
        case HeadState::kTooLarge:
            return 431;
        case HeadState::kComplete:
            break;
    }
    if (head.hasChunkedBody || head.contentLength > kMaxRequestBody) {
        return 413;
    }
    if (head.method != "GET") {
        return 405;
    }
    const std::string_view path = head.target.substr(0, head.target.find('?'));
    return path == "/metrics" ? 200 : 404;
}

std::string ResponseText(int status, std::string_view contentType, std::string_view body) {
    const char* reason = "Bad Request";
    switch (status) {
        case 200:
            reason = "OK";
            break;
        case 404:
            reason = "Not Found";
            break;
        case 405:
            reason = "Method Not Allowed";
            break;
        case 413:
            reason = "Payload Too Large";
            break;
        case 431:
            reason = "Request Header Fields Too Large";
            break;
        default:
            break;
    }
    std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
    out.append("Content-Type: ").append(contentType).append("\r\n");
    out.append("Content-Length: ").append(std::to_string(body.size())).append("\r\n");
    if (status == 405) {
        out.append("Allow: GET\r\n");
    }
    out.append("Connection: close\r\n\r\n").append(body);
    return out;
}

}  // namespace brisk::metrics
