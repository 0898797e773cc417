// bench_server_load: R rooms x 2 clients, each sending stroke_point at a fixed rate, against a
// real vellumora-server pinned to one core while this generator runs on another.
//
//   bench_server_load [--rooms 100,500,1000] [--rate 120] [--seconds 10] [--server-cpu 0]
//                     [--client-cpu 1] [--idle 2000] [--server PATH] [--haproxy CFG]
// With --haproxy (deploy/haproxy.cfg, say) the clients go through HAProxy on that
// configuration, pinned to the server's core, and its CPU is counted with the server's.
// Google Benchmark flags (as scripts/bench passes them) are accepted; --benchmark_out=F
// receives the results as JSON. bench_loopback_floor runs the same load against a bare relay.
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "load_run.h"
#include "proxy_under_test.h"
#include "server_under_test.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using namespace vellumora::bench;

namespace {

struct User {
    std::string id;
    std::string token;
};

User signUp(std::uint16_t port, const std::string& name) {
    asio::io_context ioc;
    beast::tcp_stream stream(ioc);
    stream.connect(asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
    http::request<http::string_body> req(http::verb::post, "/auth/signup", 11);
    req.set(http::field::host, "127.0.0.1");
    req.body() = R"({"username":")" + name + R"(","password":"password123"})";
    req.prepare_payload();
    http::write(stream, req);
    beast::flat_buffer buffer;
    http::response<http::string_body> res;
    http::read(stream, buffer, res);
    const std::string& b = res.body();
    auto field = [&](std::string_view key) {
        const auto at = b.find(key);
        if (at == std::string::npos) throw std::runtime_error("sign-up failed: " + b);
        const auto start = at + key.size();
        return b.substr(start, b.find('"', start) - start);
    };
    return {field("\"id\":\""), field("\"token\":\"")};
}

// A fresh server; each room is a user's solo room, so every name signs up a user.
class ServerTarget final : public LoadTarget {
  public:
    explicit ServerTarget(const Options& o) : server_(o.server, o.serverCpu) {
        if (!o.haproxy.empty()) proxy_.emplace(o.haproxy, server_.port(), o.serverCpu);
    }
    std::uint16_t port() const override { return proxy_ ? proxy_->port() : server_.port(); }
    // Through the proxy, its CPU counts as the server side's too.
    double cpuMicros() const override { return server_.cpuMicros() + (proxy_ ? proxy_->cpuMicros() : 0); }
    double runDelayMicros() const override {
        return server_.runDelayMicros() + (proxy_ ? proxy_->runDelayMicros() : 0);
    }
    std::int64_t rssBytes() const override { return server_.rssBytes(); }
    std::string roomTarget(const std::string& name) override {
        const User user = signUp(server_.port(), name);
        return "/?room=solo%3A" + user.id + "&token=" + user.token + "&color=%23336699";
    }
    bool peersMask() const override { return false; }
    std::int64_t stopAndMeasureStore() override {
        server_.stop();
        return server_.fileBytes("db");
    }

  private:
    ServerUnderTest server_;
    std::optional<ProxyUnderTest> proxy_;
};

}  // namespace

int main(int argc, char** argv) {
    try {
        Options o = parseOptions(argc, argv, true);
        if (o.server.empty()) o.server = VELLUMORA_SERVER_BINARY;
        prepareGenerator(o);
        printHeader(o, o.haproxy.empty() ? "server" : "server behind HAProxy (their CPU together)");
        const std::vector<Row> rows = runRows<ServerTarget>(o);
        double idle = 0;
        if (o.idle > 0) {
            ServerTarget target(o);
            idle = idleBytesPerConnection(o, target);
            std::printf("\nidle connections: %d, server memory per idle connection: %.1f KiB\n", o.idle,
                        idle / 1024);
        }
        if (!o.jsonOut.empty()) writeJson(o.jsonOut, rows, idle);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_server_load: %s\n", e.what());
        return 2;
    }
}
