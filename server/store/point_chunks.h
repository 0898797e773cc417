#pragma once
// How both stores keep a stroke's points: in chunks, one value holding points of a stroke that
// were stored together, each point as four IEEE 754 doubles (x, y, pressure, t), big-endian.
// Bit for bit, 32 bytes a point, and the very bytes PostgreSQL's float8send() writes, so that
// a migration can build them in SQL.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "model/drawing_types.h"

namespace vellumora::server {

inline constexpr std::size_t kStoredPointBytes = 32;

void appendStoredPoint(std::string& chunk, const StrokePoint& p);
// Appends the points of `chunk` to `out`; throws StoreError unless it holds whole points.
void readStoredPoints(std::string_view chunk, std::vector<StrokePoint>& out);

struct PointChunk {
    std::int64_t room = 0;
    std::int64_t seq = 0;
    std::int64_t first = 0;  // the index in its stroke of the chunk's first point
    std::string points;
};

// Gathers the points of a batch of changes into chunks: a point that follows the last of its
// stroke's open chunk extends it, any other begins a new one. A chunk holds at most kMaxPoints,
// so that PostgreSQL does not try to compress it and two SQLite rows share a page: rows of
// twice the size, one to a page, leave half of many pages empty.
class PointChunker {
  public:
    static constexpr std::size_t kMaxPoints = 60;

    void add(std::int64_t room, std::int64_t seq, std::int64_t index, const StrokePoint& p);
    const std::vector<PointChunk>& chunks() const { return chunks_; }
    void clear();

  private:
    struct Stroke {
        std::int64_t room;
        std::int64_t seq;
        bool operator==(const Stroke&) const = default;
    };
    struct StrokeHash {
        std::size_t operator()(const Stroke& s) const {
            return std::hash<std::int64_t>()(s.room * 1'000'003 + s.seq);
        }
    };
    std::vector<PointChunk> chunks_;
    std::unordered_map<Stroke, std::size_t, StrokeHash> open_;  // a stroke's last chunk
    // The last two strokes looked up, and where open_ keeps their last chunk: a fold takes a
    // room's changes together, its one or two drawing strokes in turn.
    std::pair<Stroke, std::size_t*> recent_[2] = {};
    unsigned next_ = 0;
};

}  // namespace vellumora::server
