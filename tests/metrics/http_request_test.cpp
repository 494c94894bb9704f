// What the endpoint makes of the bytes a client sends, as they arrive: a
// table of requests a scraper, a person's curl, a port scanner and a broken
// client send, each with the head's state and the answer's status.
#include <gtest/gtest.h>

#include <string>

#include "metrics/http_request.h"

namespace brisk::metrics {
namespace {

struct Row {
    const char* what;
    std::string bytes;
    HeadState state;
    int status;  // for states other than kIncomplete
};

TEST(HttpRequest, EachArrivalIsReadAndAnsweredAsAServerShould) {
    const std::string bigHead = "GET /metrics HTTP/1.1\r\nX: " + std::string(9000, 'a');
    const Row rows[] = {
        {"Prometheus", "GET /metrics HTTP/1.1\r\nHost: s:9100\r\nAccept: text/plain\r\n\r\n",
         HeadState::kComplete, 200},
        {"curl, bare line ends", "GET /metrics HTTP/1.0\n\n", HeadState::kComplete, 200},
        {"a query string", "GET /metrics?x=1 HTTP/1.1\r\n\r\n", HeadState::kComplete, 200},
        {"another path", "GET / HTTP/1.1\r\n\r\n", HeadState::kComplete, 404},
        {"a near miss", "GET /metricsx HTTP/1.1\r\n\r\n", HeadState::kComplete, 404},
        {"a post", "POST /metrics HTTP/1.1\r\nContent-Length: 1\r\n\r\nx", HeadState::kComplete,
         405},
        {"a head", "HEAD /metrics HTTP/1.1\r\n\r\n", HeadState::kComplete, 405},
        {"a large body", "POST /metrics HTTP/1.1\r\ncontent-length: 1048576\r\n\r\n",
         HeadState::kComplete, 413},
        {"a chunked body", "POST /metrics HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n",
         HeadState::kComplete, 413},
        {"the first bytes of a scrape", "GET /met", HeadState::kIncomplete, 0},
        {"a request line, headers unfinished", "GET /metrics HTTP/1.1\r\nHost: x",
         HeadState::kIncomplete, 0},
        {"nothing yet", "", HeadState::kIncomplete, 0},
        {"a TLS hello", std::string("\x16\x03\x01\x02\x00\x01", 6), HeadState::kBad, 400},
        {"garbage with no line end", "\x01\x02zz", HeadState::kBad, 400},
        {"a method of the longest kind, its space not yet here", "ABCDEFGHIJKLMNOP",
         HeadState::kIncomplete, 0},
        {"a method too long", "ABCDEFGHIJKLMNOPQ", HeadState::kBad, 400},
        {"lower-case method", "get /metrics HTTP/1.1\r\n\r\n", HeadState::kBad, 400},
        {"HTTP/2 preface", "PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n", HeadState::kBad, 400},
        {"no version", "GET /metrics\r\n\r\n", HeadState::kBad, 400},
        {"a header with no colon", "GET /metrics HTTP/1.1\r\nnonsense\r\n\r\n", HeadState::kBad,
         400},
        {"a length that is no number", "GET /metrics HTTP/1.1\r\nContent-Length: -1\r\n\r\n",
         HeadState::kBad, 400},
        {"a length past 64 bits",
         "GET /metrics HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n",
         HeadState::kBad, 400},
        {"a head past the bound", bigHead, HeadState::kTooLarge, 431},
        {"a line past the bound", "GET /" + std::string(9000, 'a'), HeadState::kTooLarge, 431},
    };
    for (const Row& row : rows) {
        const RequestHead head = ReadRequestHead(row.bytes);
        EXPECT_EQ(head.state, row.state) << row.what;
        if (row.state != HeadState::kIncomplete) {
            EXPECT_EQ(AnswerStatus(head), row.status) << row.what;
        }
    }
}

TEST(HttpRequest, AnAnswerSaysItsLengthAndThatTheConnectionCloses) {
    EXPECT_EQ(ResponseText(200, "text/plain", "ab\n"),
              "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 3\r\n"
              "Connection: close\r\n\r\nab\n");
    EXPECT_EQ(ResponseText(405, "text/plain", ""),
              "HTTP/1.1 405 Method Not Allowed\r\nContent-Type: text/plain\r\n"
              "Content-Length: 0\r\nAllow: GET\r\nConnection: close\r\n\r\n");
}

}  // namespace
}  // namespace brisk::metrics
