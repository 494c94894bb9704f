// What a client sends the --metrics endpoint, as it arrives: the request
// head read from the whole input and from every prefix the input splits
// into, as a connection's reads would deliver it.
//
// Input: the bytes of the connection, whole.
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "metrics/http_request.h"

namespace {

using brisk::metrics::HeadState;

bool Inside(std::string_view part, std::string_view whole) {
    return part.empty() || (part.data() >= whole.data() &&
                            part.data() + part.size() <= whole.data() + whole.size());
}

HeadState Check(std::string_view received) {
    const brisk::metrics::RequestHead head = brisk::metrics::ReadRequestHead(received);
    FUZZ_CHECK(Inside(head.method, received) && Inside(head.target, received));
    if (head.state == HeadState::kComplete) {
        FUZZ_CHECK(!head.method.empty() && !head.target.empty());
        FUZZ_CHECK(received.size() > head.method.size() + head.target.size());
    }
    if (head.state == HeadState::kIncomplete) {
        FUZZ_CHECK(received.size() < brisk::metrics::kMaxRequestHead);
        return head.state;
    }
    const int status = brisk::metrics::AnswerStatus(head);
    FUZZ_CHECK(status == 200 || status == 400 || status == 404 || status == 405 || status == 413 ||
               status == 431);
    FUZZ_CHECK((status == 200) ==
               (head.state == HeadState::kComplete && head.method == "GET" &&
                head.contentLength <= brisk::metrics::kMaxRequestBody && !head.hasChunkedBody &&
                head.target.substr(0, head.target.find('?')) == "/metrics"));
    const std::string answer = brisk::metrics::ResponseText(status, "text/plain", "x");
    FUZZ_CHECK(answer.starts_with("HTTP/1.1 " + std::to_string(status) + " "));
    return head.state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view whole(reinterpret_cast<const char*>(data), size);
    const HeadState final = Check(whole);
    // A server answers at the first prefix that is not incomplete; reading on
    // could not have made a finished head unfinished.
    for (size_t n = 0; n < whole.size(); ++n) {
        if (Check(whole.substr(0, n)) != HeadState::kIncomplete) {
            FUZZ_CHECK(final != HeadState::kIncomplete);
            break;
        }
    }
    return 0;
}
