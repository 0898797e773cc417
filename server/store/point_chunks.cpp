#include "store/point_chunks.h"

#include <bit>
#include <cstring>

#include "store/store.h"

namespace vellumora::server {

namespace {
void putDouble(char* at, double value) {
    auto bits = std::bit_cast<std::uint64_t>(value);
    if constexpr (std::endian::native == std::endian::little) bits = __builtin_bswap64(bits);
    std::memcpy(at, &bits, sizeof bits);
}

double getDouble(const char* at) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, at, sizeof bits);
    if constexpr (std::endian::native == std::endian::little) bits = __builtin_bswap64(bits);
    return std::bit_cast<double>(bits);
}
}  // namespace

void appendStoredPoint(std::string& chunk, const StrokePoint& p) {
    char out[kStoredPointBytes];
    putDouble(out, p.x);
    putDouble(out + 8, p.y);
    putDouble(out + 16, p.pressure);
    putDouble(out + 24, p.t);
    chunk.append(out, kStoredPointBytes);
}

void readStoredPoints(std::string_view chunk, std::vector<StrokePoint>& out) {
    if (chunk.size() % kStoredPointBytes != 0) throw StoreError("stored points of a stroke are cut short");
    out.reserve(out.size() + chunk.size() / kStoredPointBytes);
    for (const char* p = chunk.data(); p != chunk.data() + chunk.size(); p += kStoredPointBytes)
        out.push_back({getDouble(p), getDouble(p + 8), getDouble(p + 16), getDouble(p + 24)});
}

void PointChunker::add(std::int64_t room, std::int64_t seq, std::int64_t index, const StrokePoint& p) {
    const Stroke stroke{room, seq};
    std::size_t* open = nullptr;  // the stroke's last chunk
    for (const auto& [seen, chunk] : recent_)
        if (chunk && seen == stroke) open = chunk;
    if (!open) {
        const auto [it, fresh] = open_.try_emplace(stroke, chunks_.size());
        open = &it->second;
        recent_[next_] = {stroke, open};
        next_ ^= 1;
    }
    if (*open < chunks_.size()) {
        const PointChunk& last = chunks_[*open];
        const auto count = static_cast<std::int64_t>(last.points.size() / kStoredPointBytes);
        if (index != last.first + count || last.points.size() >= kMaxPoints * kStoredPointBytes)
            *open = chunks_.size();
    }
    if (*open == chunks_.size()) {
        chunks_.push_back({room, seq, index, {}});
        chunks_.back().points.reserve(kMaxPoints * kStoredPointBytes);
    }
    appendStoredPoint(chunks_[*open].points, p);
}

void PointChunker::clear() {
    chunks_.clear();
    open_.clear();
    recent_[0] = recent_[1] = {};
}

}  // namespace vellumora::server
