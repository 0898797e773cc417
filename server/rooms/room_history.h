#pragma once
// The drawing history of one room and the rules for changing it: who may extend which
// stroke, what a clear or a page does, and the byte budget that keeps the room's
// "room_state" under the client's 8 MiB message limit. Plain data, no locking: Room
// guards it.
//
// Budget policy: strokes are kept in start order. When a new stroke or point would make
// the room_state exceed the budget, the oldest strokes are evicted (from memory and, through
// the returned changes, from disk) until it fits. Everybody present keeps seeing them; a
// participant who joins later gets the newest drawing that fits. A stroke that is itself the
// oldest one left stops growing at the budget (its further points are dropped).
//
// A stroke its author undid stays in place, marked, and counts against the budget (a redo
// must fit), but no room_state shows it; a clear or an eviction drops it like any other.
//
// Counting a point's bytes exactly means writing its four doubles as text, which costs more
// than everything else a relayed point needs. While the room is far from its budget, a new
// point counts at the longest a point can be, and only when that bound would reach the budget
// are the points so far counted exactly; every eviction and refusal is decided on exact counts.

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/store.h"

namespace vellumora::server {

// Peers, "you" and the envelope of a room_state always fit in this much: at most 256
// connections of about 130 bytes each.
inline constexpr std::size_t kRoomStateReserve = 64 * 1024;

class RoomHistory {
    struct Entry;

  public:
    using Change = decltype(HistoryOp::change);

    // The stroke one sender is extending, kept by the sender: its next point finds the stroke
    // without the map's look-up and string compares, on memory that is cold by then when many
    // connections interleave. Good only while the history it came from has neither cleared nor
    // evicted anything (each history, and each of those changes, takes a new epoch). One per
    // sender whose user never changes: a connection.
    class OpenStroke {
        friend class RoomHistory;
        Entry* entry_ = nullptr;
        std::uint64_t epoch_ = 0;
        std::uint8_t idSize_ = 0;
        std::array<char, 64> id_;  // every sane id fits; a longer one is looked up each time
    };

    explicit RoomHistory(StoredRoom stored, std::size_t messageLimit = kMaxMessageBytes);

    // Applies `message` from `userId`; false when it must be dropped. The changes to store are
    // appended to `changes`; evictions may be there even when the message is then dropped.
    // Cursor messages change nothing but are valid.
    bool apply(const ClientMessage& message, const std::string& userId, std::vector<Change>& changes);
    // The same, for a sender that keeps its open stroke in `open`.
    bool apply(const ClientMessage& message, const std::string& userId, std::vector<Change>& changes,
               OpenStroke& open);

    // The room's answer to a redo of `strokeId` that apply() accepted: the stroke and its place.
    StrokeRedoMessage redone(const std::string& strokeId, const std::string& userId) const;

    // The strokes a room_state shows (none of the undone ones).
    std::vector<WireStroke> strokes() const;
    // The strokes as the JSON array of a room_state, and the page (or null) as its member's value.
    std::string strokesJson() const;
    std::string pageJson() const;
    const std::optional<WirePage>& page() const { return page_; }
    std::size_t strokeCount() const { return strokes_.size(); }
    // The bytes the strokes and the page add to a room_state that has neither, counted by the
    // codec's own writer.
    std::size_t bytes() const;
    // No less than bytes(), and equal to it once the room nears its budget; costs nothing.
    std::size_t bytesAtMost() const;
    std::size_t budget() const { return messageLimit_ - kRoomStateReserve; }

  private:
    // What a point reads and writes after the stroke's points: one cache line, not two or three.
    struct Entry {
        WireStroke stroke;
        std::int64_t seq;
        std::size_t bytes;
        std::size_t counted = 1;  // the points `bytes` includes; the rest are uncounted
        bool undone = false;
    };

    bool startStroke(const StrokeStartPayload& start, const std::string& userId, std::vector<Change>& changes,
                     OpenStroke& open);
    Entry* ownOpenStroke(const std::string& strokeId, const std::string& userId, OpenStroke& open);
    void remember(Entry* entry, OpenStroke& open) const;
    bool setUndone(const std::string& strokeId, const std::string& userId, bool undone,
                   std::vector<Change>& changes);
    bool setPage(const std::optional<WirePage>& page, std::vector<Change>& changes);
    void clear(std::vector<Change>& changes);
    std::size_t strokeArrayBytes() const;
    // Whether `extra` more bytes fit, taking every uncounted point at its longest.
    bool fitsAtMost(std::size_t extra, std::size_t pageBytes) const;
    void countUncounted();
    // Evicts the oldest strokes (never `keep`) until `extra` more bytes fit; false if they cannot.
    bool makeRoom(std::size_t extra, std::size_t pageBytes, const Entry* keep, std::vector<Change>& changes);

    // What every point reads comes first, so that it spans few cache lines; the page last.
    std::uint64_t epoch_;
    std::size_t messageLimit_;
    std::size_t strokeBytes_ = 0;  // the strokes' counted bytes, without the commas between them
    std::size_t pageBytes_ = 0;    // the page's object in place of null; 0 without a page
    // Strokes with uncounted points, and how many there are. Evictions only follow a count, so
    // none of these is ever evicted; a clear empties both.
    std::size_t uncountedPoints_ = 0;
    std::vector<Entry*> uncounted_;
    std::deque<Entry> strokes_;  // references stay valid across push_back and pop_front
    std::int64_t nextSeq_ = 1;
    std::unordered_map<std::string, Entry*> byId_;
    std::optional<WirePage> page_;
};

}  // namespace vellumora::server
