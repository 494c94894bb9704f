// The endpoint over real sockets: what a scrape gets, that it follows the
// board, that a second station cannot take the same port, and how scrapes
// that saw the end are counted (the driver's wait after the verdict ends on
// that).
#include <gtest/gtest.h>

#include <httplib.h>

#include <chrono>
#include <memory>
#include <random>
#include <string>

#include "metrics/metrics_server.h"
#include "metrics/prometheus_text.h"

namespace brisk::metrics {
namespace {

// A port nobody on the machine holds, found by taking one.
std::unique_ptr<MetricsServer> ListenSomewhere(const MetricsBoard& board, uint16_t& port) {
    std::mt19937 pick(
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int tries = 0; tries < 50; ++tries) {
        port = static_cast<uint16_t>(20000 + pick() % 12000);  // below the ephemeral range
        std::string error;
        auto server = MetricsServer::Listen("127.0.0.1", port, board, error);
        if (server != nullptr) {
            return server;
        }
    }
    return nullptr;
}

TEST(MetricsServer, ServesTheBoardAsItIsNowAndCountsScrapesOfTheEnd) {
    MetricsSnapshot first;
    first.station = "lab-s";
    first.imuSamples = 10;
    MetricsBoard board(first);
    uint16_t port = 0;
    auto server = ListenSomewhere(board, port);
    ASSERT_NE(server, nullptr);

    httplib::Client client("127.0.0.1", port);
    auto res = client.Get("/metrics");
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Content-Type"), kPrometheusContentType);
    EXPECT_EQ(res->body, RenderPrometheus(first));
    EXPECT_EQ(server->EndedScrapes(), 0u);

    board.Update([](MetricsSnapshot& s) {
        s.imuSamples = 2000;
        s.runEnded = true;
        s.exitCode = 2;
    });
    res = client.Get("/metrics");
    ASSERT_TRUE(res);
    EXPECT_NE(res->body.find("brisk_imu_samples_total{station=\"lab-s\"} 2000\n"),
              std::string::npos);
    EXPECT_NE(res->body.find("brisk_exit_code{station=\"lab-s\"} 2\n"), std::string::npos);
    EXPECT_EQ(server->EndedScrapes(), 1u);

    // Nothing else is served, and asking for it is no scrape.
    res = client.Get("/");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 404);
    res = client.Post("/metrics", "x", "text/plain");
    ASSERT_TRUE(res);
    EXPECT_NE(res->status, 200);
    res = client.Post("/metrics", std::string(1 << 20, 'x'), "text/plain");  // not buffered
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 413);
    EXPECT_EQ(server->EndedScrapes(), 1u);
}

TEST(MetricsServer, ASecondListenerOnTheSamePortIsRefusedAndTheFirstServesOn) {
    MetricsBoard board(MetricsSnapshot{});
    uint16_t port = 0;
    auto server = ListenSomewhere(board, port);
    ASSERT_NE(server, nullptr);
    std::string error;
    EXPECT_EQ(MetricsServer::Listen("127.0.0.1", port, board, error), nullptr);
    EXPECT_EQ(error, "the port is in use, or the address is not this machine's");
    EXPECT_EQ(MetricsServer::Listen("no-such-host.invalid", port, board, error), nullptr);
    EXPECT_EQ(error, "no such host");

    httplib::Client client("127.0.0.1", port);
    auto res = client.Get("/metrics");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);

    // Once stopped, the port is free for the next run at once.
    server.reset();
    server = MetricsServer::Listen("127.0.0.1", port, board, error);
    EXPECT_NE(server, nullptr) << error;
}

}  // namespace
}  // namespace brisk::metrics
