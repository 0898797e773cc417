// Codec speed: a room's whole history on joining, and the per-point hot path both ways.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>

#include "model/network_event.h"
#include "model/protocol.h"

using namespace vellumora;

namespace {
// A room_state of about `targetBytes`: strokes of 40 to 400 realistic points each.
std::string makeRoomState(std::size_t targetBytes) {
    std::mt19937_64 random(42);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<int> length(40, 400);
    RoomStateMessage state;
    state.you.userId = "3F2504E0-4F89-11D3-9A0C-0305E82C3301";
    state.peers = {{"3F2504E0-4F89-11D3-9A0C-0305E82C3301", "ann", "#D64141"},
                   {"7C9E6679-7425-40DE-944B-E07FC1F90AE7", "bob", "#41D6D6"}};
    double t = 1733400000.0;
    std::size_t approx = 0;
    for (int s = 0; approx < targetBytes; ++s) {
        WireStroke stroke{"9B2D7A3E-0C4B-4E0F-8A6D-" + std::to_string(100000000000 + s),
                          state.peers[s % 2].userId,
                          toolAllCases[s % 5],
                          {unit(random), unit(random), unit(random), 1.0},
                          3.0,
                          {},
                          true};
        double x = unit(random), y = unit(random);
        const int n = length(random);
        for (int i = 0; i < n; ++i) {
            x = std::clamp(x + (unit(random) - 0.5) * 0.01, 0.0, 1.0);
            y = std::clamp(y + (unit(random) - 0.5) * 0.01, 0.0, 1.0);
            t += 1.0 / 120.0;
            stroke.points.push_back({x, y, 1.0, t});
        }
        approx += 200 + 80 * stroke.points.size();
        state.strokes.push_back(std::move(stroke));
    }
    return *encode(ServerMessage{state});
}

void BM_DecodeRoomState(benchmark::State& state) {
    const std::string text = makeRoomState(8 * 1024 * 1024 - 64 * 1024);
    for (auto _ : state) {
        auto event = decodeNetworkEvent(text);
        if (!event) state.SkipWithError("room_state did not decode");
        benchmark::DoNotOptimize(event);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["message_bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_DecodeRoomState)->Unit(benchmark::kMillisecond);

// The same bytes with room after them, parsed in place as a receiver with its own buffer can.
void BM_DecodeRoomStateInPlace(benchmark::State& state) {
    std::string text = makeRoomState(8 * 1024 * 1024 - 64 * 1024);
    const std::size_t size = text.size();
    text.resize(size + kDecodePadding);
    const std::string_view message(text.data(), size);
    for (auto _ : state) {
        auto event = decodeNetworkEvent(message, InputPadding::padded);
        if (!event) state.SkipWithError("room_state did not decode");
        benchmark::DoNotOptimize(event);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}
BENCHMARK(BM_DecodeRoomStateInPlace)->Unit(benchmark::kMillisecond);

void BM_DecodeStrokePoint(benchmark::State& state) {
    const std::string text =
        R"({"type":"stroke_point","userId":"3F2504E0-4F89-11D3-9A0C-0305E82C3301","strokeId":"9B2D7A3E-0C4B-4E0F-8A6D-1D2E3F405162",)"
        R"("point":{"x":0.41234567890123,"y":0.73456789012345,"pressure":1,"t":1733400000.1234567}})";
    for (auto _ : state) {
        auto event = decodeNetworkEvent(text);
        benchmark::DoNotOptimize(event);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_DecodeStrokePoint);

const ClientMessage kPoint = ClientMessage::strokePoint(
    "9B2D7A3E-0C4B-4E0F-8A6D-1D2E3F405162", {0.41234567890123, 0.73456789012345, 1.0, 1733400000.1234567});

void BM_EncodeStrokePoint(benchmark::State& state) {
    for (auto _ : state) {
        auto text = encode(kPoint);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_EncodeStrokePoint);

// The same into a reused buffer, as a sender with its own buffer would.
void BM_EncodeStrokePointReusedBuffer(benchmark::State& state) {
    std::string buffer;
    for (auto _ : state) {
        buffer.clear();
        encodeInto(kPoint, buffer);
        benchmark::DoNotOptimize(buffer.data());
    }
}
BENCHMARK(BM_EncodeStrokePointReusedBuffer);
}  // namespace
