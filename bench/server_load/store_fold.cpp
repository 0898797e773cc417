// The history writer's store work alone, deterministic enough for callgrind: rooms drawing
// strokes of 80 points, `perCommit` changes a group commit, as the writer batches them at full
// rate (24,000 points a second, 5 ms commits), for `cycles` times 200 commits: the store folds
// its log every 200 commits. In the server the writer's share shifts with scheduling; here it
// does not. Per change: the difference of two runs (say 2 and 4 cycles) over the changes between.
//
//   valgrind --tool=callgrind --cache-sim=yes bench_store_fold CYCLES [ROOMS] [PER_COMMIT]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "store/sqlite_store.h"

using namespace vellumora;
using namespace vellumora::server;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_store_fold CYCLES [ROOMS] [PER_COMMIT]\n");
        return 2;
    }
    const int cycles = std::atoi(argv[1]);
    const std::size_t rooms = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 100;
    const std::size_t perCommit = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 130;
    constexpr int kCommitsPerCycle = 200;
    constexpr std::int64_t kStrokePoints = 80;
    const auto dir =
        std::filesystem::temp_directory_path() / ("vellumora-store-fold-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::size_t changes = 0;
    {
        SqliteStore store((dir / "db").string());
        std::vector<std::int64_t> keys, seq(rooms, 0), index(rooms, 0);
        for (std::size_t r = 0; r < rooms; ++r)
            keys.push_back(store.loadRoom("solo:r" + std::to_string(r)).key);
        std::vector<HistoryOp> batch;
        for (int commit = 0; commit < cycles * kCommitsPerCycle; ++commit) {
            batch.clear();
            for (std::size_t i = 0; i < perCommit; ++i, ++changes) {
                const std::size_t r = changes % rooms;
                const StrokePoint p{0.1 * static_cast<double>(changes % 997),
                                    0.2 * static_cast<double>(changes % 991), 0.5,
                                    1733400000.0 + 0.008 * static_cast<double>(changes)};
                if (index[r] == 0) {
                    const StrokeHeader header{"stroke-" + std::to_string(changes) + "-0123456789abcdef0123",
                                              "user-" + std::to_string(r),
                                              Tool::pencil,
                                              {0.1, 0.2, 0.3, 1},
                                              3};
                    batch.push_back({keys[r], HistoryOp::StartStroke{++seq[r], header, p}});
                    index[r] = 1;
                } else if (index[r] == kStrokePoints) {
                    batch.push_back({keys[r], HistoryOp::EndStroke{seq[r]}});
                    index[r] = 0;
                } else {
                    batch.push_back({keys[r], HistoryOp::AppendPoint{seq[r], index[r]++, p}});
                }
            }
            store.applyHistory(batch);
        }
    }
    std::filesystem::remove_all(dir);
    std::printf("%zu changes in %d commits\n", changes, cycles * kCommitsPerCycle);
}
