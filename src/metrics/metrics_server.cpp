#include "metrics/metrics_server.h"

#include <chrono>

#include <httplib.h>

#include "metrics/prometheus_text.h"

namespace brisk::metrics {

struct ServerParts {
    httplib::Server http;
};

namespace {

// A scraper that stalls mid-request holds a worker no longer than this.
constexpr time_t kSocketTimeoutSeconds = 2;
// Two workers: Prometheus and a person's curl at once.
constexpr size_t kWorkers = 2;
constexpr size_t kMaxRequestBody = 4096;

// The library's default lets a second process share the port (SO_REUSEPORT);
// two stations on one port must instead be told so at the start.
void ExclusivePort(socket_t sock) {
    int yes = 1;
#ifdef _WIN32
    setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
               sizeof yes);
#else
    // A port left in TIME_WAIT by the previous run is free to take again.
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
}

void Configure(httplib::Server& http) {
    http.set_socket_options(ExclusivePort);
    http.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    // One request per connection: an idle kept-alive connection is polled
    // every 10 ms by the library, which would cost more than the scrapes.
    http.set_keep_alive_max_count(1);
    http.set_read_timeout(kSocketTimeoutSeconds, 0);
    http.set_write_timeout(kSocketTimeoutSeconds, 0);
    // A scrape has no body; a client sending one is not buffered beyond this.
    http.set_payload_max_length(kMaxRequestBody);
#ifdef _WIN32
    // There the accept loop wakes at this interval whatever happens; the
    // default 10 ms would cost more than the scrapes, and stopping waits for
    // at most one interval.
    http.set_idle_interval(0, 200000);
#endif
}

// Whether `host` names an address at all, to tell a mistyped host from a
// port that is taken.
bool Resolves(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), "0", &hints, &found) != 0) {
        return false;
    }
    freeaddrinfo(found);
    return true;
}

}  // namespace

std::unique_ptr<MetricsServer> MetricsServer::Listen(const std::string& host, uint16_t port,
                                                     const MetricsBoard& board,
                                                     std::string& error) {
    auto parts = std::make_unique<ServerParts>();
    Configure(parts->http);
    if (!parts->http.bind_to_port(host, port)) {
        error = Resolves(host) ? "the port is in use, or the address is not this machine's"
                               : "no such host";
        return nullptr;
    }
    std::unique_ptr<MetricsServer> server(new MetricsServer(std::move(parts), board));
    return server;
}

MetricsServer::MetricsServer(std::unique_ptr<ServerParts> partsIn, const MetricsBoard& boardIn)
    : parts(std::move(partsIn)), board(boardIn) {
    parts->http.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
        // The copy is taken under the board's lock; the text is made and
        // sent after it is released.
        const MetricsSnapshot s = board.Read();
        res.set_content(RenderPrometheus(s), kPrometheusContentType);
        if (s.runEnded) {
            endedScrapes.fetch_add(1);
        }
    });
    listener = std::thread([this] {
        parts->http.listen_after_bind();
        listenEnded.store(true);
    });
    // stop() only acts on a running server: wait for the loop to say it
    // runs, so that a destructor right after this cannot miss it.
    while (!parts->http.is_running() && !listenEnded.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

MetricsServer::~MetricsServer() {
    parts->http.stop();
    listener.join();
}

}  // namespace brisk::metrics
