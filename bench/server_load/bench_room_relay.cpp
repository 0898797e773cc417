// The server's own work per relayed stroke_point, without sockets: decode, checks, history,
// relay encoding and fan-out to the other member of a two-person room. Storage runs on the
// writer thread as in the server and is not part of the timed loop.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <atomic>
#include <filesystem>

#include "quiet_member.h"
#include "rooms/room.h"
#include "store/history_writer.h"
#include "store/sqlite_store.h"

namespace {

using namespace vellumora;
using namespace vellumora::server;

class CountingMember final : public QuietMember {
  public:
    using QuietMember::QuietMember;
    bool enqueue(std::span<const Payload> parts) override {
        for (const Payload& part : parts) bytes += part->size();
        return false;
    }
    std::size_t bytes = 0;
};

std::string pointText(const std::string& stroke, int i) {
    char text[200];
    const int n = std::snprintf(
        text, sizeof text,
        R"({"type":"stroke_point","strokeId":"%s","point":{"x":%.17g,"y":0.5,"pressure":1,"t":%.17g}})",
        stroke.c_str(), (i % 997) / 997.0, 1733400000.0 + i / 120.0);
    return std::string(text, static_cast<std::size_t>(n));
}

std::string endText(const std::string& stroke) {
    std::string text = R"({"type":"stroke_end","strokeId":")";
    text.append(stroke).append("\"}");
    return text;
}

std::string startText(const std::string& stroke) {
    return R"({"type":"stroke_start","stroke":{"id":")" + stroke +
           R"(","userId":"u","tool":"pencil","color":{"r":0.9,"g":0.2,"b":0.1,"a":1},"brushSize":4,)"
           R"("point":{"x":0.5,"y":0.5,"pressure":1,"t":1733400000}}})";
}

void relayStrokePoint(benchmark::State& state) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("vellumora-relay-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    {
        Metrics metrics;
        SqliteStore store((dir / "db").string());
        HistoryWriter writer(store, metrics, std::chrono::milliseconds(5));
        Room room("solo:bench", store.loadRoom("solo:bench"), writer, metrics, 32);
        auto a = std::make_shared<CountingMember>("user-a");
        auto b = std::make_shared<CountingMember>("user-b");
        room.join(a);
        room.join(b);

        int stroke = 0;
        int i = 0;
        std::string id = "S0";
        room.handle(*a, startText(id));
        for (auto _ : state) {
            // A new stroke every 600 points, as a drawing client would (and the history
            // budget then evicts old ones, as it would in a long session).
            if (++i % 600 == 0) {
                room.handle(*a, endText(id));
                id = std::to_string(++stroke);
                id.insert(id.begin(), 'S');
                room.handle(*a, startText(id));
            }
            room.handle(*a, pointText(id, i));
        }
        state.counters["relayed_bytes"] = static_cast<double>(b->bytes);
        benchmark::DoNotOptimize(a->bytes);
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(relayStrokePoint)->Unit(benchmark::kMicrosecond);

// The writer thread's share: one group commit of 120 points from 100 rooms (5 ms of 100
// rooms x 2 clients at 120 points/s), folds included. Divide by 120 for a point.
void storeGroupCommit(benchmark::State& state) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("vellumora-store-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    {
        SqliteStore store((dir / "db").string());
        std::vector<std::int64_t> rooms;
        for (int r = 0; r < 100; ++r) rooms.push_back(store.loadRoom("solo:" + std::to_string(r)).key);
        std::vector<HistoryOp> batch;
        for (int r = 0; r < 100; ++r) {
            batch.push_back({rooms[static_cast<std::size_t>(r)],
                             HistoryOp::StartStroke{1, {"S", "u", Tool::pencil, {}, 3}, {0.5, 0.5, 1, 0}}});
        }
        store.applyHistory(batch);
        std::vector<std::int64_t> next(rooms.size(), 1);  // each stroke's next point index
        for (auto _ : state) {
            batch.clear();
            for (int k = 0; k < 120; ++k) {
                const auto r = static_cast<std::size_t>(k % 100);
                batch.push_back(
                    {rooms[r], HistoryOp::AppendPoint{1, next[r]++, {k / 120.0, 0.5, 1, 1.0 * k}}});
            }
            store.applyHistory(batch);
        }
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(storeGroupCommit)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
