#include "rooms/room_history.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "model/json_forms.h"

namespace vellumora::server {

namespace {

template <class T>
std::size_t encodedBytes(const T& value) {
    json::ByteCount count;
    json::Writer writer(count);
    json::write(writer, value);
    return count.bytes;
}

std::size_t numberBytes(double value) {
    json::ByteCount count;
    json::Writer writer(count);
    writer.number(value);
    return count.bytes;
}

constexpr std::size_t kNullBytes = 4;
constexpr std::size_t kCommaBytes = 1;
// The longest shortest text of a double: a sign, 17 digits, the point and "e-308".
constexpr std::size_t kLongestNumber = 24;

// Every point has the same names and punctuation; only its numbers vary.
std::size_t pointFrameBytes() {
    static const std::size_t frame = encodedBytes(StrokePoint{0, 0, 0, 0}) - 4 * numberBytes(0);
    return frame;
}

std::size_t pointBytes(const StrokePoint& p) {
    return pointFrameBytes() + numberBytes(p.x) + numberBytes(p.y) + numberBytes(p.pressure) +
           numberBytes(p.t);
}

// A point after another in its stroke, at its longest.
std::size_t nextPointBytesAtMost() {
    return kCommaBytes + pointFrameBytes() + 4 * kLongestNumber;
}

std::size_t pageBytesOf(const std::optional<WirePage>& page) {
    return page ? encodedBytes(*page) - kNullBytes : 0;
}

// Unique in the process, so that an open stroke kept for one room never matches another.
std::uint64_t newEpoch() {
    static std::atomic<std::uint64_t> last{0};
    return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace

RoomHistory::RoomHistory(StoredRoom stored, std::size_t messageLimit)
    : epoch_(newEpoch()), messageLimit_(messageLimit) {
    page_ = std::move(stored.page);
    pageBytes_ = pageBytesOf(page_);
    for (StoredStroke& s : stored.strokes) {
        const std::size_t bytes = encodedBytes(s.stroke);
        nextSeq_ = std::max(nextSeq_, s.seq + 1);
        const std::size_t points = s.stroke.points.size();
        strokes_.push_back({std::move(s.stroke), s.seq, bytes, points, s.undone});
        byId_[strokes_.back().stroke.id] = &strokes_.back();
        strokeBytes_ += bytes;
    }
}

std::size_t RoomHistory::strokeArrayBytes() const {
    const std::size_t commas = strokes_.empty() ? 0 : strokes_.size() - 1;
    return strokeBytes_ + commas * kCommaBytes;
}

std::size_t RoomHistory::bytes() const {
    std::size_t uncounted = 0;
    for (const Entry* e : uncounted_) {
        for (std::size_t i = e->counted; i < e->stroke.points.size(); ++i)
            uncounted += kCommaBytes + pointBytes(e->stroke.points[i]);
    }
    return strokeArrayBytes() + uncounted + pageBytes_;
}

std::size_t RoomHistory::bytesAtMost() const {
    return strokeArrayBytes() + uncountedPoints_ * nextPointBytesAtMost() + pageBytes_;
}

bool RoomHistory::fitsAtMost(std::size_t extra, std::size_t pageBytes) const {
    return strokeArrayBytes() + uncountedPoints_ * nextPointBytesAtMost() + extra + pageBytes <= budget();
}

void RoomHistory::countUncounted() {
    for (Entry* e : uncounted_) {
        for (; e->counted < e->stroke.points.size(); ++e->counted) {
            const std::size_t bytes = kCommaBytes + pointBytes(e->stroke.points[e->counted]);
            e->bytes += bytes;
            strokeBytes_ += bytes;
        }
    }
    uncounted_.clear();
    uncountedPoints_ = 0;
}

std::vector<WireStroke> RoomHistory::strokes() const {
    std::vector<WireStroke> out;
    out.reserve(strokes_.size());
    for (const Entry& e : strokes_) {
        if (!e.undone) out.push_back(e.stroke);
    }
    return out;
}

std::string RoomHistory::strokesJson() const {
    std::string out;
    out.reserve(bytesAtMost() - pageBytes_);
    json::Writer writer(out);
    writer.beginArray();
    for (const Entry& e : strokes_) {
        if (!e.undone) json::write(writer, e.stroke);
    }
    writer.endArray();
    // Joins share this text for as long as the room does not change: no room for growth.
    if (out.capacity() > out.size() + out.size() / 8) out.shrink_to_fit();
    return out;
}

std::string RoomHistory::pageJson() const {
    std::string out;
    json::Writer writer(out);
    json::write(writer, page_);
    return out;
}

bool RoomHistory::apply(const ClientMessage& message, const std::string& userId,
                        std::vector<Change>& changes) {
    OpenStroke none;
    return apply(message, userId, changes, none);
}

bool RoomHistory::apply(const ClientMessage& message, const std::string& userId, std::vector<Change>& changes,
                        OpenStroke& open) {
    using M = ClientMessage;
    if (const auto* m = std::get_if<M::StrokeStart>(&message.value))
        return startStroke(m->stroke, userId, changes, open);
    if (const auto* m = std::get_if<M::StrokePoint>(&message.value)) {
        Entry* entry = ownOpenStroke(m->strokeId, userId, open);
        if (!entry) return false;
        const std::size_t points = entry->stroke.points.size();
        if (fitsAtMost(nextPointBytesAtMost(), pageBytes_)) {
            if (entry->counted == points) uncounted_.push_back(entry);
            ++uncountedPoints_;
        } else {
            countUncounted();
            const std::size_t bytes = kCommaBytes + pointBytes(m->point);
            if (!makeRoom(bytes, pageBytes_, entry, changes)) return false;
            entry->bytes += bytes;
            entry->counted = points + 1;
            strokeBytes_ += bytes;
        }
        const auto index = static_cast<std::int64_t>(points);
        entry->stroke.points.push_back(m->point);
        changes.push_back(HistoryOp::AppendPoint{entry->seq, index, m->point});
        return true;
    }
    if (const auto* m = std::get_if<M::StrokeEnd>(&message.value)) {
        Entry* entry = ownOpenStroke(m->strokeId, userId, open);
        if (!entry) return false;
        entry->stroke.complete = true;
        constexpr std::size_t kTrueShorterThanFalse = 1;
        entry->bytes -= kTrueShorterThanFalse;
        strokeBytes_ -= kTrueShorterThanFalse;
        changes.push_back(HistoryOp::EndStroke{entry->seq});
        return true;
    }
    if (std::holds_alternative<M::Cursor>(message.value)) return true;
    if (const auto* m = std::get_if<M::SetPage>(&message.value)) return setPage(m->page, changes);
    if (const auto* m = std::get_if<M::StrokeUndo>(&message.value))
        return setUndone(m->strokeId, userId, true, changes);
    if (const auto* m = std::get_if<M::StrokeRedo>(&message.value))
        return setUndone(m->strokeId, userId, false, changes);
    clear(changes);
    return true;
}

bool RoomHistory::setUndone(const std::string& strokeId, const std::string& userId, bool undone,
                            std::vector<Change>& changes) {
    const auto it = byId_.find(strokeId);
    if (it == byId_.end()) return false;
    Entry& entry = *it->second;
    if (entry.stroke.userId != userId || entry.undone == undone) return false;
    entry.undone = undone;
    changes.push_back(HistoryOp::SetUndone{entry.seq, undone});
    return true;
}

StrokeRedoMessage RoomHistory::redone(const std::string& strokeId, const std::string& userId) const {
    StrokeRedoMessage out{userId, strokeId, {}, {}};
    const auto it = byId_.find(strokeId);
    if (it == byId_.end()) return out;
    out.stroke = it->second->stroke;
    // Redos are rare and rooms hold a few thousand strokes: a walk back is cheap enough.
    auto at =
        std::find_if(strokes_.begin(), strokes_.end(), [&](const Entry& e) { return &e == it->second; });
    while (at != strokes_.begin()) {
        --at;
        if (!at->undone) {
            out.after = at->stroke.id;
            break;
        }
    }
    return out;
}

bool RoomHistory::startStroke(const StrokeStartPayload& start, const std::string& userId,
                              std::vector<Change>& changes, OpenStroke& open) {
    if (byId_.contains(start.id)) return false;
    StrokeHeader header{start.id, userId, start.tool, start.color, start.brushSize};
    WireStroke stroke{header.id,        header.userId, header.tool, header.color,
                      header.brushSize, {start.point}, false};
    const std::size_t bytes = encodedBytes(stroke);
    const std::size_t comma = strokes_.empty() ? 0 : kCommaBytes;
    if (!makeRoom(bytes + comma, pageBytes_, nullptr, changes)) return false;
    const std::int64_t seq = nextSeq_++;
    strokes_.push_back({std::move(stroke), seq, bytes});
    byId_[header.id] = &strokes_.back();
    strokeBytes_ += bytes;
    remember(&strokes_.back(), open);
    changes.push_back(HistoryOp::StartStroke{seq, std::move(header), start.point});
    return true;
}

RoomHistory::Entry* RoomHistory::ownOpenStroke(const std::string& strokeId, const std::string& userId,
                                               OpenStroke& open) {
    Entry* entry = nullptr;
    // Ids are unique among the strokes present, so the one remembered is the map's.
    if (open.epoch_ == epoch_ && open.idSize_ == strokeId.size() &&
        std::memcmp(open.id_.data(), strokeId.data(), strokeId.size()) == 0) {
        entry = open.entry_;
    } else {
        const auto it = byId_.find(strokeId);
        if (it == byId_.end() || it->second->stroke.userId != userId) return nullptr;
        entry = it->second;
        remember(entry, open);
    }
    if (entry->stroke.complete || entry->undone) return nullptr;
    return entry;
}

void RoomHistory::remember(Entry* entry, OpenStroke& open) const {
    const std::string& id = entry->stroke.id;
    if (id.size() > open.id_.size()) return;
    open.entry_ = entry;
    open.epoch_ = epoch_;
    open.idSize_ = static_cast<std::uint8_t>(id.size());
    std::memcpy(open.id_.data(), id.data(), id.size());
}

bool RoomHistory::setPage(const std::optional<WirePage>& page, std::vector<Change>& changes) {
    const std::size_t bytes = pageBytesOf(page);
    // The page must fit both in its own page_changed and in a room_state with no strokes.
    if (bytes > budget()) return false;
    if (!makeRoom(0, bytes, nullptr, changes)) return false;
    page_ = page;
    pageBytes_ = bytes;
    changes.push_back(HistoryOp::SetPage{page ? std::make_shared<const WirePage>(*page) : nullptr});
    return true;
}

void RoomHistory::clear(std::vector<Change>& changes) {
    epoch_ = newEpoch();
    strokes_.clear();
    byId_.clear();
    uncounted_.clear();
    uncountedPoints_ = 0;
    strokeBytes_ = 0;
    changes.push_back(HistoryOp::Clear{});
}

bool RoomHistory::makeRoom(std::size_t extra, std::size_t pageBytes, const Entry* keep,
                           std::vector<Change>& changes) {
    const std::size_t limit = budget();
    if (extra + pageBytes > limit) return false;
    if (fitsAtMost(extra, pageBytes)) return true;
    countUncounted();
    // Evicting the stroke being extended would not help its own growth; stop before it.
    while (strokeArrayBytes() + extra + pageBytes > limit) {
        if (strokes_.empty() || &strokes_.front() == keep) return false;
        Entry& oldest = strokes_.front();
        strokeBytes_ -= oldest.bytes;
        changes.push_back(HistoryOp::RemoveStroke{oldest.seq});
        epoch_ = newEpoch();
        byId_.erase(oldest.stroke.id);
        strokes_.pop_front();
    }
    return true;
}

}  // namespace vellumora::server
