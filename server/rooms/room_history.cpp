#include "rooms/room_history.h"

#include <charconv>

namespace vellumora::server {

namespace {

template <std::size_t N>
constexpr std::size_t literal(const char (&)[N]) {
    return N - 1;
}

}  // namespace

std::size_t encodedStringBytes(std::string_view text) {
    std::size_t n = 2;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\' || c == '/') {
            n += 2;
        } else if (c < 0x20) {
            n += 6;
        } else {
            n += 1;
        }
    }
    return n;
}

std::size_t encodedNumberBytes(double value) {
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc{} ? static_cast<std::size_t>(end - buffer) : 24;
}

std::size_t encodedPointBytes(const StrokePoint& p) {
    return literal(R"({"x":,"y":,"pressure":,"t":},)") + encodedNumberBytes(p.x) + encodedNumberBytes(p.y) +
           encodedNumberBytes(p.pressure) + encodedNumberBytes(p.t);
}

std::size_t encodedStrokeBaseBytes(const StrokeHeader& h) {
    return literal(
               R"({"id":,"userId":,"tool":,"color":{"r":,"g":,"b":,"a":},"brushSize":,"points":[],"complete":false},)") +
           encodedStringBytes(h.id) + encodedStringBytes(h.userId) + encodedStringBytes(rawValue(h.tool)) +
           encodedNumberBytes(h.color.r) + encodedNumberBytes(h.color.g) + encodedNumberBytes(h.color.b) +
           encodedNumberBytes(h.color.a) + encodedNumberBytes(h.brushSize);
}

std::size_t encodedPageBytes(const WirePage& page) {
    return literal(R"({"pageId":,"displayName":,"mimeType":,"imageBase64":})") +
           encodedStringBytes(page.pageId) + encodedStringBytes(page.displayName) +
           encodedStringBytes(page.mimeType) + encodedStringBytes(page.imageBase64);
}

RoomHistory::RoomHistory(StoredRoom stored, std::size_t messageLimit) : messageLimit_(messageLimit) {
    page_ = std::move(stored.page);
    if (page_) pageBytes_ = encodedPageBytes(*page_);
    for (StoredStroke& s : stored.strokes) {
        std::size_t bytes = encodedStrokeBaseBytes(
            {s.stroke.id, s.stroke.userId, s.stroke.tool, s.stroke.color, s.stroke.brushSize});
        for (const StrokePoint& p : s.stroke.points) bytes += encodedPointBytes(p);
        nextSeq_ = std::max(nextSeq_, s.seq + 1);
        strokes_.push_back({s.seq, bytes, std::move(s.stroke)});
        byId_[strokes_.back().stroke.id] = &strokes_.back();
        strokeBytes_ += bytes;
    }
}

std::vector<WireStroke> RoomHistory::strokes() const {
    std::vector<WireStroke> out;
    out.reserve(strokes_.size());
    for (const Entry& e : strokes_) out.push_back(e.stroke);
    return out;
}

bool RoomHistory::apply(const ClientMessage& message, const std::string& userId,
                        std::vector<Change>& changes) {
    using M = ClientMessage;
    if (const auto* m = std::get_if<M::StrokeStart>(&message.value))
        return startStroke(m->stroke, userId, changes);
    if (const auto* m = std::get_if<M::StrokePoint>(&message.value)) {
        Entry* entry = ownOpenStroke(m->strokeId, userId);
        if (!entry) return false;
        const std::size_t bytes = encodedPointBytes(m->point);
        if (!makeRoom(bytes, pageBytes_, entry, changes)) return false;
        const auto index = static_cast<std::int64_t>(entry->stroke.points.size());
        entry->stroke.points.push_back(m->point);
        entry->bytes += bytes;
        strokeBytes_ += bytes;
        changes.push_back(HistoryOp::AppendPoint{entry->seq, index, m->point});
        return true;
    }
    if (const auto* m = std::get_if<M::StrokeEnd>(&message.value)) {
        Entry* entry = ownOpenStroke(m->strokeId, userId);
        if (!entry) return false;
        entry->stroke.complete = true;
        // "complete":true is one byte shorter than false; the budget keeps the larger size.
        changes.push_back(HistoryOp::EndStroke{entry->seq});
        return true;
    }
    if (std::holds_alternative<M::Cursor>(message.value)) return true;
    if (const auto* m = std::get_if<M::SetPage>(&message.value)) return setPage(m->page, changes);
    clear(changes);
    return true;
}

bool RoomHistory::startStroke(const StrokeStartPayload& start, const std::string& userId,
                              std::vector<Change>& changes) {
    if (byId_.contains(start.id)) return false;
    StrokeHeader header{start.id, userId, start.tool, start.color, start.brushSize};
    const std::size_t bytes = encodedStrokeBaseBytes(header) + encodedPointBytes(start.point);
    if (!makeRoom(bytes, pageBytes_, nullptr, changes)) return false;
    const std::int64_t seq = nextSeq_++;
    strokes_.push_back(
        {seq, bytes,
         WireStroke{
             header.id, header.userId, header.tool, header.color, header.brushSize, {start.point}, false}});
    byId_[header.id] = &strokes_.back();
    strokeBytes_ += bytes;
    changes.push_back(HistoryOp::StartStroke{seq, std::move(header), start.point});
    return true;
}

RoomHistory::Entry* RoomHistory::ownOpenStroke(const std::string& strokeId, const std::string& userId) {
    auto it = byId_.find(strokeId);
    if (it == byId_.end()) return nullptr;
    Entry* entry = it->second;
    if (entry->stroke.userId != userId || entry->stroke.complete) return nullptr;
    return entry;
}

bool RoomHistory::setPage(const std::optional<WirePage>& page, std::vector<Change>& changes) {
    const std::size_t bytes = page ? encodedPageBytes(*page) : 0;
    // The page must fit both in its own page_changed and in a room_state with no strokes.
    if (bytes > budget()) return false;
    if (!makeRoom(0, bytes, nullptr, changes)) return false;
    page_ = page;
    pageBytes_ = bytes;
    changes.push_back(HistoryOp::SetPage{page ? std::make_shared<const WirePage>(*page) : nullptr});
    return true;
}

void RoomHistory::clear(std::vector<Change>& changes) {
    strokes_.clear();
    byId_.clear();
    strokeBytes_ = 0;
    changes.push_back(HistoryOp::Clear{});
}

bool RoomHistory::makeRoom(std::size_t extra, std::size_t pageBytes, const Entry* keep,
                           std::vector<Change>& changes) {
    const std::size_t limit = budget();
    if (extra + pageBytes > limit) return false;
    // Evicting the stroke being extended would not help its own growth; stop before it.
    while (strokeBytes_ + extra + pageBytes > limit) {
        if (strokes_.empty() || &strokes_.front() == keep) return false;
        Entry& oldest = strokes_.front();
        strokeBytes_ -= oldest.bytes;
        changes.push_back(HistoryOp::RemoveStroke{oldest.seq});
        byId_.erase(oldest.stroke.id);
        strokes_.pop_front();
    }
    return true;
}

}  // namespace vellumora::server
