// The endpoint over real sockets: what a scrape gets, that it follows the
// board, that a second station cannot take the same port, and how scrapes
// that saw the end are counted (the driver's wait after the verdict ends on
// that); and that scrapes stay quick while many other connections misbehave.
#include <gtest/gtest.h>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "metrics/metrics_server.h"
#include "metrics/prometheus_text.h"
#include "metrics/tcp_socket.h"
#include "support/wait_for.h"

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
    // The server counts a scrape once its last byte has left, which can be
    // just after the client has the whole answer.
    EXPECT_TRUE(test::WaitFor([&] { return server->EndedScrapes() == 1u; }));

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

using Millis = std::chrono::duration<double, std::milli>;

// Polls `holds` for up to `limit`; whether it came to hold.
template <typename Condition>
bool Eventually(Condition holds, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!holds()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void Send(const TcpSocket& s, const std::string& bytes) {
    SendSome(s, bytes.data(), bytes.size());  // a closed peer is no failure here
}

// 64 connections that misbehave as a port scanner or broken clients do: 16
// idle from the start, 16 that stop after the request line (headers never
// finished), 16 that trickle a byte every 20 ms, 16 that send garbage and
// never read. Meanwhile 40 scrapes, each timed from connection to last byte.
// Then the misbehaving ones are dropped at their deadline, and a flood past
// the table's bound still leaves room for a scrape.
TEST(MetricsServer, ScrapesStayQuickWhile64ConnectionsIdleTrickleOrSendGarbage) {
    MetricsSnapshot figures;
    figures.station = "lab-busy";
    figures.imuSamples = 123456;
    MetricsBoard board(figures);
    uint16_t port = 0;
    auto server = ListenSomewhere(board, port);
    ASSERT_NE(server, nullptr);

    SocketLibrary library;
    std::vector<TcpSocket> bad;
    std::mt19937 noise(7);
    for (int i = 0; i < 64; ++i) {
        bad.push_back(ConnectTcp("127.0.0.1", port));
        ASSERT_TRUE(bad.back().Valid());
        if (i >= 16 && i < 32) {
            Send(bad.back(), "GET /metrics HTTP/1.1\r\n");
        } else if (i >= 48) {
            std::string garbage(1024, '\0');
            for (char& c : garbage) {
                c = static_cast<char>(noise());
            }
            Send(bad.back(), garbage);
        }
    }
    std::atomic<bool> trickling{true};
    std::thread trickler([&] {
        const std::string request = "GET /metrics HTTP/1.1\r\nX-Slow: ";
        for (size_t n = 0; trickling.load(); ++n) {
            for (int i = 32; i < 48; ++i) {
                Send(bad[i], std::string(1, request[std::min(n, request.size() - 1)]));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    ASSERT_TRUE(Eventually([&] { return server->OpenConnections() >= 64; },
                           std::chrono::milliseconds(1000)));

    std::vector<double> took;
    for (int i = 0; i < 40; ++i) {
        const auto start = std::chrono::steady_clock::now();
        httplib::Client client("127.0.0.1", port);
        auto res = client.Get("/metrics");
        took.push_back(Millis(std::chrono::steady_clock::now() - start).count());
        ASSERT_TRUE(res) << httplib::to_string(res.error());
        ASSERT_EQ(res->status, 200);
        ASSERT_EQ(res->body, RenderPrometheus(figures));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const size_t heldDuringScrapes = server->OpenConnections();
    std::sort(took.begin(), took.end());
    std::printf("scrape with 64 bad connections: p50 %.2f ms, max %.2f ms (%zu open)\n",
                took[took.size() / 2], took.back(), heldDuringScrapes);
    EXPECT_LT(took.back(), 100.0);
    EXPECT_GE(heldDuringScrapes, 64u);  // the bad ones were held all along

    // Past their deadline every bad connection is closed: the trickling ones
    // too, though they never stopped sending.
    EXPECT_TRUE(
        Eventually([&] { return server->OpenConnections() == 0; },
                   std::chrono::milliseconds((kRequestSeconds + kAnswerSeconds) * 1000 + 1000)));
    trickling.store(false);
    trickler.join();

    // A flood past the bound: the table stays bounded and a scrape gets in.
    std::vector<TcpSocket> flood;
    for (size_t i = 0; i < kMaxConnections + 100; ++i) {
        flood.push_back(ConnectTcp("127.0.0.1", port));
    }
    EXPECT_TRUE(Eventually([&] { return server->OpenConnections() == kMaxConnections; },
                           std::chrono::milliseconds(1000)));
    httplib::Client client("127.0.0.1", port);
    auto res = client.Get("/metrics");
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    EXPECT_EQ(res->status, 200);
    EXPECT_LE(server->OpenConnections(), kMaxConnections);
}

}  // namespace
}  // namespace brisk::metrics
