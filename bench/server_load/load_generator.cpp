// bench_server_load: R rooms x 2 clients, each sending stroke_point at a fixed rate, against a
// real vellumora-server pinned to one core while this generator runs on another.
//
//   bench_server_load [--rooms 100,500,1000] [--rate 120] [--seconds 10] [--server-cpu 0]
//                     [--client-cpu 1] [--idle 2000] [--server PATH]
// Google Benchmark flags (as scripts/bench passes them) are accepted; --benchmark_out=F
// receives the results as JSON.
#include <sched.h>
#include <sys/resource.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "load_client.h"
#include "server_under_test.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using namespace vellumora::bench;

namespace {

struct Options {
    std::vector<int> rooms{100, 500, 1000};
    double rate = 120;
    double seconds = 10;
    int serverCpu = 0;
    int clientCpu = 1;
    int idle = 2000;
    std::string server = VELLUMORA_SERVER_BINARY;
    std::string jsonOut;
};

struct Row {
    int rooms = 0;
    double offered = 0;  // points per second the generator meant to send
    double relayedPerSec = 0;
    double delivered = 0;      // share of the window's points that arrived
    double p50 = 0, p99 = 0;   // microseconds
    double cpuPerMessage = 0;  // server CPU microseconds per relayed message
    double serverCpuShare = 0;
    double generatorCpuShare = 0;  // near 100 %: the generator, not the server, is the limit
    double rssMiB = 0;
};

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

double ownCpuMicros() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto micros = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec);
    };
    return micros(usage.ru_utime) + micros(usage.ru_stime);
}

void pinSelf(int cpu) {
    if (cpu < 0) return;
    cpu_set_t only;
    CPU_ZERO(&only);
    CPU_SET(cpu, &only);
    sched_setaffinity(0, sizeof only, &only);
}

std::vector<std::shared_ptr<LoadClient>> connectAll(asio::io_context& ioc, LoadStats& stats,
                                                    std::uint16_t port, const std::vector<User>& users,
                                                    int perRoom) {
    std::vector<std::shared_ptr<LoadClient>> clients;
    int pending = 0;
    int failed = 0;
    for (std::size_t r = 0; r < users.size(); ++r) {
        for (int k = 0; k < perRoom; ++k) {
            const std::string target =
                "/?room=solo%3A" + users[r].id + "&token=" + users[r].token + "&color=%23336699";
            auto c = std::make_shared<LoadClient>(ioc, stats, port, target,
                                                  "S" + std::to_string(r) + "-" + std::to_string(k));
            ++pending;
            c->connect([&](bool ok) {
                --pending;
                failed += !ok;
            });
            clients.push_back(std::move(c));
            // Keep the accept backlog short.
            if (pending > 200) ioc.run_one();
        }
    }
    while (pending > 0) ioc.run_one();
    if (failed) throw std::runtime_error(std::to_string(failed) + " connections failed");
    return clients;
}

double percentile(std::vector<double>& v, double p) {
    if (v.empty()) return 0;
    const auto k = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k];
}

Row runLoad(const Options& o, int rooms) {
    ServerUnderTest server(o.server, o.serverCpu);
    std::vector<User> users;
    for (int r = 0; r < rooms; ++r) users.push_back(signUp(server.port(), "load" + std::to_string(r)));

    asio::io_context ioc(1);
    LoadStats stats;
    auto clients = connectAll(ioc, stats, server.port(), users, 2);

    // Each client sends every 1/rate s, phases spread evenly; a 1 ms tick sends what is due.
    const double period = 1.0 / o.rate;
    std::vector<double> next(clients.size());
    const double t0 = monotonicSeconds() + 0.05;
    for (std::size_t i = 0; i < clients.size(); ++i)
        next[i] = t0 + period * static_cast<double>(i) / clients.size();
    const double warmup = 2.0;
    const double end = t0 + warmup + o.seconds;
    double cpuStart = 0;
    double windowStart = 0;
    double cpuEnd = 0;
    double ownStart = 0;
    double ownEnd = 0;
    asio::steady_timer tick(ioc);
    std::function<void()> onTick = [&] {
        const double now = monotonicSeconds();
        if (!stats.measuring && now >= t0 + warmup && windowStart == 0) {
            stats.measuring = true;
            windowStart = now;
            cpuStart = server.cpuMicros();
            ownStart = ownCpuMicros();
        }
        if (now >= end) {
            stats.measuring = false;
            cpuEnd = server.cpuMicros();
            ownEnd = ownCpuMicros();
            return;
        }
        for (std::size_t i = 0; i < clients.size(); ++i) {
            while (next[i] <= now) {
                clients[i]->sendPoint();
                next[i] += period;
            }
        }
        tick.expires_after(std::chrono::milliseconds(1));
        tick.async_wait([&](beast::error_code) { onTick(); });
    };
    onTick();
    while (!(monotonicSeconds() >= end && !stats.measuring)) ioc.run_one();
    const double window = monotonicSeconds() - windowStart;
    const std::int64_t rss = server.rssBytes();
    // Let in-flight relays land before counting deliveries.
    ioc.run_for(std::chrono::seconds(1));

    Row row;
    row.rooms = rooms;
    row.offered = 2.0 * rooms * o.rate;
    row.relayedPerSec = static_cast<double>(stats.received) / window;
    row.delivered =
        stats.sentTotal ? static_cast<double>(stats.receivedTotal) / static_cast<double>(stats.sentTotal) : 0;
    row.p50 = percentile(stats.latencyMicros, 0.50);
    row.p99 = percentile(stats.latencyMicros, 0.99);
    row.cpuPerMessage = stats.received ? (cpuEnd - cpuStart) / static_cast<double>(stats.received) : 0;
    row.serverCpuShare = (cpuEnd - cpuStart) / (window * 1e6);
    row.generatorCpuShare = (ownEnd - ownStart) / (window * 1e6);
    row.rssMiB = static_cast<double>(rss) / (1024.0 * 1024.0);
    for (auto& c : clients) c->close();
    ioc.run_for(std::chrono::milliseconds(200));
    return row;
}

double idleBytesPerConnection(const Options& o) {
    ServerUnderTest server(o.server, o.serverCpu);
    const int rooms = std::max(1, o.idle / 2);
    std::vector<User> users;
    for (int r = 0; r < rooms; ++r) users.push_back(signUp(server.port(), "idle" + std::to_string(r)));
    // A warm-up connection in a room of its own, so one-off allocations are in the baseline.
    asio::io_context ioc(1);
    LoadStats stats;
    const std::vector<User> warm{signUp(server.port(), "warmup")};
    auto warmClients = connectAll(ioc, stats, server.port(), warm, 2);
    ioc.run_for(std::chrono::milliseconds(500));
    const std::int64_t before = server.rssBytes();
    auto clients = connectAll(ioc, stats, server.port(), users, 2);
    ioc.run_for(std::chrono::seconds(2));
    const std::int64_t after = server.rssBytes();
    for (auto& c : clients) c->close();
    for (auto& c : warmClients) c->close();
    ioc.run_for(std::chrono::milliseconds(200));
    return static_cast<double>(after - before) / static_cast<double>(clients.size());
}

std::vector<int> parseList(const std::string& text) {
    std::vector<int> out;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) out.push_back(std::stoi(item));
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
        if (a == "--rooms")
            o.rooms = parseList(value());
        else if (a == "--rate")
            o.rate = std::stod(value());
        else if (a == "--seconds")
            o.seconds = std::stod(value());
        else if (a == "--server-cpu")
            o.serverCpu = std::stoi(value());
        else if (a == "--client-cpu")
            o.clientCpu = std::stoi(value());
        else if (a == "--idle")
            o.idle = std::stoi(value());
        else if (a == "--server")
            o.server = value();
        else if (a.rfind("--benchmark_out=", 0) == 0)
            o.jsonOut = a.substr(16);
        else if (a.rfind("--benchmark_", 0) == 0)
            continue;
        else {
            std::fprintf(stderr, "unknown option %s\n", a.c_str());
            return 2;
        }
    }
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    pinSelf(o.clientCpu);

    std::printf("server on cpu %d, generator on cpu %d, %.0f stroke_point/s per client, %.0f s window\n\n",
                o.serverCpu, o.clientCpu, o.rate, o.seconds);
    std::printf(
        "| rooms | offered msg/s | relayed msg/s | delivered | p50 ms | p99 ms | server CPU us/msg | server "
        "CPU | generator CPU | RSS MiB |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    std::vector<Row> rows;
    for (int rooms : o.rooms) {
        const Row r = runLoad(o, rooms);
        rows.push_back(r);
        std::printf("| %d | %.0f | %.0f | %.2f %% | %.2f | %.2f | %.2f | %.0f %% | %.0f %% | %.1f |\n",
                    r.rooms, r.offered, r.relayedPerSec, r.delivered * 100, r.p50 / 1000, r.p99 / 1000,
                    r.cpuPerMessage, r.serverCpuShare * 100, r.generatorCpuShare * 100, r.rssMiB);
        std::fflush(stdout);
    }
    double idle = 0;
    if (o.idle > 0) {
        idle = idleBytesPerConnection(o);
        std::printf("\nidle connections: %d, server memory per idle connection: %.1f KiB\n", o.idle,
                    idle / 1024);
    }
    if (!o.jsonOut.empty()) {
        std::ofstream out(o.jsonOut);
        out << "{\"rows\":[";
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const Row& r = rows[i];
            out << (i ? "," : "") << "{\"rooms\":" << r.rooms << ",\"offered\":" << r.offered
                << ",\"relayed_per_s\":" << r.relayedPerSec << ",\"delivered\":" << r.delivered
                << ",\"p50_us\":" << r.p50 << ",\"p99_us\":" << r.p99
                << ",\"server_cpu_us_per_msg\":" << r.cpuPerMessage << ",\"rss_mib\":" << r.rssMiB << "}";
        }
        out << "],\"idle_bytes_per_connection\":" << idle << "}\n";
    }
    return 0;
}
