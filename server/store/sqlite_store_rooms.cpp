// Room history in SQLite: one row per stroke and its points in chunks (point_chunks.h), keyed
// by the room's integer key and the stroke's start-order sequence number.
//
// Group commits go to a log first (sqlite_log_slots.h: a page or two a commit), and are
// folded into those tables in batches: written there directly, every commit would dirty a
// B-tree leaf per drawing room. The log is folded before a room is read and at start-up,
// so readers never see the difference. A fold applies the changes room by room (each room
// in its own order), so that each room's rows are written together, and a stroke's points
// of one fold make one chunk.
#include <algorithm>
#include <unordered_map>
#include <utility>

#include "common/log.h"
#include "model/overloaded.h"
#include "store/history_log_codec.h"
#include "store/point_chunks.h"
#include "store/sqlite_store.h"
#include "store/sqlite_store_statements.h"

namespace vellumora::server {

StoredRoom SqliteStore::loadRoom(const std::string& roomId) {
    std::lock_guard lock(mutex_);
    foldLogLocked();
    s_->insertRoom.bind(1, roomId).run();
    StoredRoom room;
    auto& r = s_->roomById;
    r.bind(1, roomId);
    if (!r.step()) {
        r.reset();
        throw StoreError("room vanished: " + roomId);
    }
    room.key = r.integer(0);
    if (!r.isNull(1)) room.page = WirePage{r.text(1), r.text(2), r.text(3), r.text(4)};
    r.reset();

    std::unordered_map<std::int64_t, std::size_t> bySeq;
    auto& s = s_->strokesOfRoom;
    s.bind(1, room.key);
    while (s.step()) {
        StoredStroke stored;
        stored.seq = s.integer(0);
        WireStroke& w = stored.stroke;
        w.id = s.text(1);
        w.userId = s.text(2);
        w.tool = toolFromRawValue(s.text(3)).value_or(Tool::sketchpen);
        w.color = {s.real(4), s.real(5), s.real(6), s.real(7)};
        w.brushSize = s.real(8);
        w.complete = s.integer(9) != 0;
        bySeq.emplace(stored.seq, room.strokes.size());
        room.strokes.push_back(std::move(stored));
    }
    s.reset();

    auto& p = s_->chunksOfRoom;
    p.bind(1, room.key);
    while (p.step()) {
        auto it = bySeq.find(p.integer(0));
        if (it == bySeq.end()) continue;
        readStoredPoints(p.blobView(1), room.strokes[it->second].stroke.points);
    }
    p.reset();

    auto& u = s_->undoneOfRoom;
    u.bind(1, room.key);
    while (u.step()) {
        if (auto it = bySeq.find(u.integer(0)); it != bySeq.end()) room.strokes[it->second].undone = true;
    }
    u.reset();
    return room;
}

void SqliteStore::applyHistory(const std::vector<HistoryOp>& ops) {
    if (ops.empty()) return;
    std::lock_guard lock(mutex_);
    try {
        SqliteTransaction tx(db_);
        // Reused: a backlogged writer's batches are megabytes, fresh memory each time otherwise.
        const std::size_t size = encodeHistoryOpsInto(ops, logBlob_);
        log_->append({logBlob_.data(), size});
        tx.commit();
    } catch (...) {
        log_->forget();
        throw;
    }
    unfolded_.insert(unfolded_.end(), ops.begin(), ops.end());
    if (++commitsUnfolded_ < kFoldEvery && (foldFailed_ || unfolded_.size() < kFoldChanges)) return;
    // The batch is stored once it is in the log: were a failed fold reported, the writer would
    // store the batch again, and every change in it would be folded twice.
    try {
        foldLogLocked();
        foldFailed_ = false;
    } catch (const StoreError& e) {
        logLine(std::string("folding the history log failed, to be tried again: ") + e.what());
        foldFailed_ = true;
        commitsUnfolded_ = 0;
    }
}

void SqliteStore::foldLogLocked() {
    if (unfolded_.empty()) return;
    // Each room's changes in their order, the rooms by key: counted into place, as a fold holds
    // thousands of changes of a few hundred rooms (sorting them took a quarter of the writer).
    foldRooms_.clear();
    foldCounts_.clear();
    foldSlots_.resize(unfolded_.size());
    for (std::size_t i = 0; i < unfolded_.size(); ++i) {
        const auto [room, fresh] = foldRooms_.try_emplace(unfolded_[i].roomKey, foldCounts_.size());
        if (fresh) foldCounts_.push_back(0);
        ++foldCounts_[room->second];
        foldSlots_[i] = room->second;
    }
    foldKeys_.assign(foldRooms_.begin(), foldRooms_.end());
    std::sort(foldKeys_.begin(), foldKeys_.end());
    std::size_t at = 0;
    for (const auto& [room, slot] : foldKeys_) at += std::exchange(foldCounts_[slot], at);
    foldOrder_.resize(unfolded_.size());
    for (std::size_t i = 0; i < unfolded_.size(); ++i) foldOrder_[foldCounts_[foldSlots_[i]]++] = i;
    try {
        SqliteTransaction tx(db_);
        log_->clear();
        for (const std::size_t i : foldOrder_) applyOpLocked(unfolded_[i]);
        writeChunksLocked();
        tx.commit();
    } catch (...) {
        log_->forget();
        chunker_.clear();  // the rolled-back fold's points come again with the next one
        throw;
    }
    unfolded_.clear();
    commitsUnfolded_ = 0;
}

void SqliteStore::applyOpLocked(const HistoryOp& op) {
    const std::int64_t room = op.roomKey;
    std::visit(
        Overloaded{
            [&](const HistoryOp::StartStroke& c) {
                const StrokeHeader& h = c.header;
                auto& s = s_->insertStroke;
                s.bind(1, room).bind(2, c.seq).bind(3, h.id).bind(4, h.userId).bind(5, rawValue(h.tool));
                s.bind(6, h.color.r).bind(7, h.color.g).bind(8, h.color.b).bind(9, h.color.a);
                s.bind(10, h.brushSize).run();
                chunker_.add(room, c.seq, 0, c.first);
            },
            [&](const HistoryOp::AppendPoint& c) { chunker_.add(room, c.seq, c.index, c.point); },
            [&](const HistoryOp::EndStroke& c) { s_->endStroke.bind(1, room).bind(2, c.seq).run(); },
            [&](const HistoryOp::RemoveStroke& c) {
                writeChunksLocked();
                s_->deleteStroke.bind(1, room).bind(2, c.seq).run();
                s_->deleteStrokeChunks.bind(1, room).bind(2, c.seq).run();
                s_->unmarkUndone.bind(1, room).bind(2, c.seq).run();
            },
            [&](const HistoryOp::Clear&) {
                writeChunksLocked();
                s_->clearStrokes.bind(1, room).run();
                s_->clearChunks.bind(1, room).run();
                s_->clearUndone.bind(1, room).run();
            },
            [&](const HistoryOp::SetUndone& c) {
                (c.undone ? s_->markUndone : s_->unmarkUndone).bind(1, room).bind(2, c.seq).run();
            },
            [&](const HistoryOp::SetPage& c) {
                auto& s = s_->setPage;
                s.bind(1, room);
                if (c.page) {
                    s.bind(2, c.page->pageId).bind(3, c.page->displayName).bind(4, c.page->mimeType);
                    s.bind(5, c.page->imageBase64);
                } else {
                    s.bindNull(2).bindNull(3).bindNull(4).bindNull(5);
                }
                s.run();
            },
        },
        op.change);
}

void SqliteStore::writeChunksLocked() {
    auto& s = s_->insertChunk;
    for (const PointChunk& c : chunker_.chunks())
        s.bind(1, c.room).bind(2, c.seq).bind(3, c.first).bindBlobInPlace(4, c.points).run();
    chunker_.clear();
}

}  // namespace vellumora::server
