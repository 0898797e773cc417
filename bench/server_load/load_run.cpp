#include "load_run.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "process_usage.h"

namespace vellumora::bench {

namespace {

constexpr int kMaxConnecting = 200;  // keeps the accept backlog short
constexpr double kConnectTimeout = 60;
constexpr double kTick = 0.001;
constexpr double kWarmup = 2.0;

double ownCpuMicros() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto micros = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec);
    };
    return micros(usage.ru_utime) + micros(usage.ru_stime);
}

double percentile(std::vector<double>& v, double p) {
    if (v.empty()) return 0;
    const auto k = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k];
}

std::vector<int> parseList(const std::string& text) {
    std::vector<int> out;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) out.push_back(std::stoi(item));
    return out;
}

}  // namespace

ClientGroup::ClientGroup(EventLoop& loop, LoadStats& stats, LoadTarget& target,
                         const std::vector<std::string>& rooms) {
    auto unsettled = [&] { return static_cast<int>(clients_.size()) - tally_.ready - tally_.failed; };
    for (std::size_t r = 0; r < rooms.size(); ++r) {
        for (int k = 0; k < 2; ++k) {
            char strokeId[32];
            std::snprintf(strokeId, sizeof strokeId, "S%zu-%d", r, k);
            clients_.push_back(std::make_unique<LoadClient>(loop, stats, tally_, target.port(), rooms[r],
                                                            strokeId, target.peersMask()));
            clients_.back()->connect();
            while (unsettled() > kMaxConnecting) loop.poll(0.1);
        }
    }
    const double deadline = monotonicSeconds() + kConnectTimeout;
    while (unsettled() > 0 && monotonicSeconds() < deadline) loop.poll(0.1);
    if (tally_.failed || unsettled() > 0)
        throw std::runtime_error(std::to_string(tally_.failed) + " connections failed, " +
                                 std::to_string(unsettled()) + " timed out");
}

void ClientGroup::closeAll() {
    for (auto& c : clients_) c->close();
}

Options parseOptions(int argc, char** argv, bool serverOptions) {
    Options o;
    if (!serverOptions) o.idle = 0;
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
        else if (serverOptions && a == "--idle")
            o.idle = std::stoi(value());
        else if (serverOptions && a == "--server")
            o.server = value();
        else if (serverOptions && a == "--haproxy")
            o.haproxy = value();
        else if (a.rfind("--benchmark_out=", 0) == 0)
            o.jsonOut = a.substr(16);
        else if (a.rfind("--benchmark_", 0) == 0)
            continue;
        else
            throw std::invalid_argument("unknown option " + a);
    }
    return o;
}

void prepareGenerator(const Options& o) {
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    pinToCpu(o.clientCpu);
}

Row runLoad(const Options& o, LoadTarget& target, int rooms) {
    std::vector<std::string> roomTargets;
    for (int r = 0; r < rooms; ++r) roomTargets.push_back(target.roomTarget("load" + std::to_string(r)));

    EventLoop loop;
    LoadStats stats;
    ClientGroup clients(loop, stats, target, roomTargets);

    // Each client sends every 1/rate s, phases spread evenly, so the sends form one sequence:
    // send s goes to client s mod N at t0 + s * period / N. A 1 ms tick sends what is due.
    const double period = 1.0 / o.rate;
    const std::size_t n = clients.size();
    const double t0 = monotonicSeconds() + 0.05;
    const double end = t0 + kWarmup + o.seconds;
    std::uint64_t sends = 0;
    double windowStart = 0;
    double cpuStart = 0;
    double ownStart = 0;
    double waitStart = 0;
    double ownWaitStart = 0;
    double nextTick = 0;
    double lastTick = 0;
    int lateTicks = 0;
    double longestTickGap = 0;
    for (;;) {
        const double now = monotonicSeconds();
        if (now >= nextTick) {
            if (stats.measuring) {
                const double gap = now - lastTick;
                if (gap > 2 * kTick) ++lateTicks;
                longestTickGap = std::max(longestTickGap, gap);
            }
            lastTick = now;
            if (windowStart == 0 && now >= t0 + kWarmup) {
                stats.measuring = true;
                windowStart = now;
                cpuStart = target.cpuMicros();
                ownStart = ownCpuMicros();
                waitStart = target.runDelayMicros();
                ownWaitStart = processRunDelayMicros(getpid());
            }
            if (now >= end) break;
            while (t0 + period * static_cast<double>(sends) / static_cast<double>(n) <= now) {
                clients[sends % n].sendPoint();
                ++sends;
            }
            nextTick = now + kTick;
        }
        loop.poll(nextTick - monotonicSeconds());
    }
    stats.measuring = false;
    const double cpuEnd = target.cpuMicros();
    const double ownEnd = ownCpuMicros();
    const double waitEnd = target.runDelayMicros();
    const double ownWaitEnd = processRunDelayMicros(getpid());
    const double window = monotonicSeconds() - windowStart;
    const std::int64_t rss = target.rssBytes();
    // Let in-flight relays land before counting deliveries.
    loop.runFor(1.0);

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
    row.serverWaitShare = (waitEnd - waitStart) / (window * 1e6);
    row.generatorWaitShare = (ownWaitEnd - ownWaitStart) / (window * 1e6);
    row.lateTicks = lateTicks;
    row.longestTickGapMs = longestTickGap * 1e3;
    clients.closeAll();
    loop.runFor(0.2);
    // Every point sent is stored, each stroke's start point included.
    const std::int64_t stored = target.stopAndMeasureStore();
    row.storedBytesPerPoint =
        static_cast<double>(stored) / static_cast<double>(stats.sentTotal + clients.size());
    return row;
}

double idleBytesPerConnection(const Options& o, LoadTarget& target) {
    const int rooms = std::max(1, o.idle / 2);
    std::vector<std::string> roomTargets;
    for (int r = 0; r < rooms; ++r) roomTargets.push_back(target.roomTarget("idle" + std::to_string(r)));
    // A warm-up room of its own first, so one-off allocations are in the baseline.
    EventLoop loop;
    LoadStats stats;
    ClientGroup warm(loop, stats, target, {target.roomTarget("warmup")});
    loop.runFor(0.5);
    const std::int64_t before = target.rssBytes();
    ClientGroup clients(loop, stats, target, roomTargets);
    loop.runFor(2.0);
    const std::int64_t after = target.rssBytes();
    clients.closeAll();
    warm.closeAll();
    loop.runFor(0.2);
    return static_cast<double>(after - before) / static_cast<double>(clients.size());
}

void printHeader(const Options& o, const char* targetName) {
    std::printf("%s on cpu %d, generator on cpu %d, %.0f stroke_point/s per client, %.0f s window\n\n",
                targetName, o.serverCpu, o.clientCpu, o.rate, o.seconds);
    std::printf(
        "| rooms | offered msg/s | relayed msg/s | delivered | p50 ms | p99 ms | server CPU us/msg | server "
        "CPU | generator CPU | RSS MiB |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
}

void printRow(const Row& r) {
    std::printf("| %d | %.0f | %.0f | %.2f %% | %.2f | %.2f | %.2f | %.0f %% | %.0f %% | %.1f |\n", r.rooms,
                r.offered, r.relayedPerSec, r.delivered * 100, r.p50 / 1000, r.p99 / 1000, r.cpuPerMessage,
                r.serverCpuShare * 100, r.generatorCpuShare * 100, r.rssMiB);
    std::fflush(stdout);
}

void printWaits(const std::vector<Row>& rows) {
    if (!rows.empty() && rows.front().storedBytesPerPoint > 0) {
        std::printf("\ndatabase bytes per stored point, after a clean stop:\n");
        for (const Row& r : rows) std::printf("  %d rooms: %.1f\n", r.rooms, r.storedBytesPerPoint);
    }
    std::printf(
        "\nwaiting for a CPU while runnable, share of the window (the server's threads summed; they share "
        "its core):\n");
    for (const Row& r : rows)
        std::printf("  %d rooms: server %.0f %%, generator %.0f %%\n", r.rooms, r.serverWaitShare * 100,
                    r.generatorWaitShare * 100);
    std::printf("\ngenerator ticks over 1 ms late (each ends in a burst of the overdue points):\n");
    for (const Row& r : rows)
        std::printf("  %d rooms: %d, the longest gap between ticks %.1f ms\n", r.rooms, r.lateTicks,
                    r.longestTickGapMs);
}

void writeJson(const std::string& path, const std::vector<Row>& rows, double idleBytes) {
    std::ofstream out(path);
    out << "{\"rows\":[";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        out << (i ? "," : "") << "{\"rooms\":" << r.rooms << ",\"offered\":" << r.offered
            << ",\"relayed_per_s\":" << r.relayedPerSec << ",\"delivered\":" << r.delivered
            << ",\"p50_us\":" << r.p50 << ",\"p99_us\":" << r.p99
            << ",\"server_cpu_us_per_msg\":" << r.cpuPerMessage << ",\"rss_mib\":" << r.rssMiB
            << ",\"late_ticks\":" << r.lateTicks << ",\"db_bytes_per_point\":" << r.storedBytesPerPoint
            << "}";
    }
    out << "],\"idle_bytes_per_connection\":" << idleBytes << "}\n";
}

}  // namespace vellumora::bench
