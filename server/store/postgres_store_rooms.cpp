// Rooms in PostgreSQL: their leases, their history, and the presence that goes with them.
// History has the same rows as in SQLite (one per stroke, its points in chunks); a group commit
// writes them with a few array-valued statements instead of a statement per change, all
// sent in one round trip.
#include "common/log.h"
#include "model/overloaded.h"
#include "store/point_chunks.h"
#include "store/postgres_store.h"

namespace vellumora::server {

namespace {

// Runs of starts, points and ends between two clears, written in bulk. Within a run a
// stroke is started before its points and ends, and nothing follows its removal, so writing
// each kind at once in this order gives what writing them one by one would.
class Bulk {
  public:
    void start(std::int64_t room, const HistoryOp::StartStroke& c) {
        const StrokeHeader& h = c.header;
        strokeRoom_.add(room);
        strokeSeq_.add(c.seq);
        strokeId_.add(h.id);
        strokeUser_.add(h.userId);
        strokeTool_.add(rawValue(h.tool));
        r_.add(h.color.r);
        g_.add(h.color.g);
        b_.add(h.color.b);
        a_.add(h.color.a);
        size_.add(h.brushSize);
        ++strokes_;
        point(room, c.seq, 0, c.first);
    }
    void point(std::int64_t room, std::int64_t seq, std::int64_t index, const StrokePoint& p) {
        chunker_.add(room, seq, index, p);
    }
    void end(std::int64_t room, std::int64_t seq) {
        endRoom_.add(room);
        endSeq_.add(seq);
        ++ends_;
    }
    void remove(std::int64_t room, std::int64_t seq) {
        removeRoom_.add(room);
        removeSeq_.add(seq);
        ++removes_;
    }

    void write(PgScript& c) {
        if (strokes_ > 0) {
            c.add(
                "INSERT INTO strokes(room_key, seq, stroke_id, user_id, tool, r, g, b, a, brush_size, "
                "complete) SELECT u.*, false FROM unnest($1::int8[], $2::int8[], $3::text[], $4::text[], "
                "$5::text[], $6::float8[], $7::float8[], $8::float8[], $9::float8[], $10::float8[]) AS u "
                "ON CONFLICT (room_key, seq) DO NOTHING",
                PgParams()
                    .add(strokeRoom_.take())
                    .add(strokeSeq_.take())
                    .add(strokeId_.take())
                    .add(strokeUser_.take())
                    .add(strokeTool_.take())
                    .add(r_.take())
                    .add(g_.take())
                    .add(b_.take())
                    .add(a_.take())
                    .add(size_.take()));
        }
        if (!chunker_.chunks().empty()) {
            PgArray room, seq, first, points;
            for (const PointChunk& chunk : chunker_.chunks()) {
                room.add(chunk.room);
                seq.add(chunk.seq);
                first.add(chunk.first);
                points.add(PgParams::byteaText(chunk.points));
            }
            chunker_.clear();
            c.add(
                "INSERT INTO stroke_chunks(room_key, seq, first_idx, points) SELECT * FROM "
                "unnest($1::int8[], $2::int8[], $3::int8[], $4::bytea[]) "
                "ON CONFLICT (room_key, seq, first_idx) DO NOTHING",
                PgParams().add(room.take()).add(seq.take()).add(first.take()).add(points.take()));
        }
        if (ends_ > 0) {
            c.add(
                "UPDATE strokes s SET complete = true FROM unnest($1::int8[], $2::int8[]) AS e(room_key, "
                "seq) "
                "WHERE s.room_key = e.room_key AND s.seq = e.seq",
                PgParams().add(endRoom_.take()).add(endSeq_.take()));
        }
        if (removes_ > 0) {
            PgParams removed;
            removed.add(removeRoom_.take()).add(removeSeq_.take());
            c.add(
                "DELETE FROM stroke_chunks p USING unnest($1::int8[], $2::int8[]) AS e(room_key, seq) "
                "WHERE p.room_key = e.room_key AND p.seq = e.seq",
                removed);
            c.add(
                "DELETE FROM strokes s USING unnest($1::int8[], $2::int8[]) AS e(room_key, seq) "
                "WHERE s.room_key = e.room_key AND s.seq = e.seq",
                removed);
            c.add(
                "DELETE FROM undone_strokes u USING unnest($1::int8[], $2::int8[]) AS e(room_key, seq) "
                "WHERE u.room_key = e.room_key AND u.seq = e.seq",
                removed);
        }
        strokes_ = ends_ = removes_ = 0;
    }

  private:
    PgArray strokeRoom_, strokeSeq_, strokeId_, strokeUser_, strokeTool_, r_, g_, b_, a_, size_;
    PointChunker chunker_;
    PgArray endRoom_, endSeq_, removeRoom_, removeSeq_;
    int strokes_ = 0, ends_ = 0, removes_ = 0;
};

}  // namespace

template <class F>
auto PostgresStore::owned(F&& work) {
    std::lock_guard lock(ownerMutex_);
    if (lost_) throw StoreError("the database session of this instance is being re-established");
    try {
        return work();
    } catch (const StoreError&) {
        checkOwnerLocked();
        throw;
    }
}

StoredRoom PostgresStore::loadRoom(const std::string& roomId) {
    StoredRoom room;
    room.key = pool_->run([&](PgConnection& c) {
        return c
            .exec(
                "WITH added AS (INSERT INTO rooms(id) VALUES($1) ON CONFLICT (id) DO NOTHING RETURNING "
                "room_key) "
                "SELECT room_key FROM added UNION ALL SELECT room_key FROM rooms WHERE id = $1",
                PgParams().add(roomId))
            .integer(0, 0);
    });
    room.lease = owned([&] {
        if (auto it = held_.find(room.key); it != held_.end()) {
            ++it->second;
        } else {
            if (!owner_.exec("SELECT pg_try_advisory_lock($1::int8)", PgParams().add(room.key))
                     .boolean(0, 0)) {
                // The proxy sends this room here now (an instance came back, say): ask the
                // holder to send its people over, or they would be split for good.
                owner_.exec(
                    "INSERT INTO room_handovers(room_key, asked_at) VALUES($1, now()) "
                    "ON CONFLICT (room_key) DO UPDATE SET asked_at = now()",
                    PgParams().add(room.key));
                throw RoomElsewhere("room " + roomId + " is served by another instance");
            }
            held_.emplace(room.key, 1);
        }
        return generation_.load();
    });
    try {
        // Read only once the lease is ours: the previous holder has stored its last change.
        pool_->run([&](PgConnection& c) {
            readHistory(c, room);
            return 0;
        });
    } catch (...) {
        releaseRoom(room.key, room.lease);
        throw;
    }
    return room;
}

void PostgresStore::readHistory(PgConnection& c, StoredRoom& room) {
    PgTransaction tx(c);
    const PgParams key = PgParams().add(room.key);
    const PgResult page =
        c.exec("SELECT page_id, page_name, page_mime, page_image FROM rooms WHERE room_key = $1", key);
    if (page.rows() == 1 && !page.isNull(0, 0)) {
        room.page = WirePage{std::string(page.text(0, 0)), std::string(page.text(0, 1)),
                             std::string(page.text(0, 2)), std::string(page.text(0, 3))};
    }
    const PgResult s = c.exec(
        "SELECT seq, stroke_id, user_id, tool, r, g, b, a, brush_size, complete FROM strokes "
        "WHERE room_key = $1 ORDER BY seq",
        key);
    std::unordered_map<std::int64_t, std::size_t> bySeq;
    for (int i = 0; i < s.rows(); ++i) {
        StoredStroke stored;
        stored.seq = s.integer(i, 0);
        WireStroke& w = stored.stroke;
        w.id = s.text(i, 1);
        w.userId = s.text(i, 2);
        w.tool = toolFromRawValue(std::string(s.text(i, 3))).value_or(Tool::sketchpen);
        w.color = {s.real(i, 4), s.real(i, 5), s.real(i, 6), s.real(i, 7)};
        w.brushSize = s.real(i, 8);
        w.complete = s.boolean(i, 9);
        bySeq.emplace(stored.seq, room.strokes.size());
        room.strokes.push_back(std::move(stored));
    }
    const PgResult p =
        c.exec("SELECT seq, points FROM stroke_chunks WHERE room_key = $1 ORDER BY seq, first_idx", key);
    for (int i = 0; i < p.rows(); ++i) {
        auto it = bySeq.find(p.integer(i, 0));
        if (it == bySeq.end()) continue;
        readStoredPoints(PgResult::bytes(p.text(i, 1)), room.strokes[it->second].stroke.points);
    }
    const PgResult u = c.exec("SELECT seq FROM undone_strokes WHERE room_key = $1", key);
    for (int i = 0; i < u.rows(); ++i) {
        if (auto it = bySeq.find(u.integer(i, 0)); it != bySeq.end()) room.strokes[it->second].undone = true;
    }
    tx.commit();
}

void PostgresStore::applyHistory(const std::vector<HistoryOp>& ops) {
    if (ops.empty()) return;
    owned([&] {
        writeOps(ops);
        return 0;
    });
}

void PostgresStore::writeOps(const std::vector<HistoryOp>& ops) {
    std::size_t dropped = 0;
    PgScript script(owner_);
    Bulk bulk;
    for (const HistoryOp& op : ops) {
        const std::int64_t room = op.roomKey;
        // Another instance may have the room by now; what it did since would be overwritten.
        if (!held_.contains(room)) {
            ++dropped;
            continue;
        }
        std::visit(Overloaded{
                       [&](const HistoryOp::StartStroke& c) { bulk.start(room, c); },
                       [&](const HistoryOp::AppendPoint& c) { bulk.point(room, c.seq, c.index, c.point); },
                       [&](const HistoryOp::EndStroke& c) { bulk.end(room, c.seq); },
                       [&](const HistoryOp::RemoveStroke& c) { bulk.remove(room, c.seq); },
                       [&](const HistoryOp::Clear&) {
                           bulk.write(script);
                           const PgParams key = PgParams().add(room);
                           script.add("DELETE FROM stroke_chunks WHERE room_key = $1", key);
                           script.add("DELETE FROM strokes WHERE room_key = $1", key);
                           script.add("DELETE FROM undone_strokes WHERE room_key = $1", key);
                       },
                       [&](const HistoryOp::SetUndone& c) {
                           // Rare, and an undo and its redo may share a batch: written in turn.
                           bulk.write(script);
                           const PgParams at = PgParams().add(room).add(c.seq);
                           script.add(c.undone
                                          ? "INSERT INTO undone_strokes(room_key, seq) VALUES($1, $2) "
                                            "ON CONFLICT DO NOTHING"
                                          : "DELETE FROM undone_strokes WHERE room_key = $1 AND seq = $2",
                                      at);
                       },
                       [&](const HistoryOp::SetPage& c) {
                           PgParams page;
                           page.add(room);
                           if (c.page) {
                               page.add(c.page->pageId).add(c.page->displayName).add(c.page->mimeType);
                               page.add(c.page->imageBase64);
                           } else {
                               page.addNull().addNull().addNull().addNull();
                           }
                           script.add(
                               "UPDATE rooms SET page_id = $2, page_name = $3, page_mime = $4, "
                               "page_image = $5 WHERE room_key = $1",
                               page);
                       },
                   },
                   op.change);
    }
    bulk.write(script);
    script.run();
    if (dropped > 0)
        logLine("dropped " + std::to_string(dropped) + " history changes of rooms whose lease was lost");
}

void PostgresStore::releaseRoom(std::int64_t roomKey, std::uint64_t lease) {
    std::lock_guard lock(ownerMutex_);
    if (lease != generation_) return;  // gone with the session that held it
    auto it = held_.find(roomKey);
    if (it == held_.end() || --it->second > 0) return;
    held_.erase(it);
    try {
        owner_.exec("SELECT pg_advisory_unlock($1::int8)", PgParams().add(roomKey));
    } catch (const StoreError& e) {
        logLine(std::string("database error: ") + e.what());
        checkOwnerLocked();
    }
}

bool PostgresStore::holdsRoom(std::int64_t /*roomKey*/, std::uint64_t lease) {
    // A load's lease lasts until its room releases it; only the session's end takes it early.
    return lease == generation_.load();
}

std::vector<std::string> PostgresStore::onlineElsewhere(const std::vector<std::string>& userIds) {
    if (userIds.empty()) return {};
    PgArray ids;
    for (const std::string& id : userIds) ids.add(id);
    return pool_->run([&](PgConnection& c) {
        // Rows of an instance count only while its owner session holds its liveness lock.
        const PgResult r = c.exec(
            "SELECT DISTINCT p.user_id FROM presence p WHERE p.user_id = ANY($1::text[]) AND p.instance_id "
            "<> $3 "
            "AND EXISTS (SELECT 1 FROM pg_locks l WHERE l.locktype = 'advisory' AND l.granted AND l.objsubid "
            "= 2 "
            "AND l.classid = $2::oid AND l.objid::bigint = p.instance_id "
            "AND l.database = (SELECT oid FROM pg_database WHERE datname = current_database()))",
            PgParams().add(ids.take()).add(kLockSpace).add(instanceId_.load()));
        std::vector<std::string> online;
        for (int i = 0; i < r.rows(); ++i) online.emplace_back(r.text(i, 0));
        return online;
    });
}

void PostgresStore::onLeasesLost(std::function<void()> handler) {
    std::lock_guard lock(keeperMutex_);
    leasesLost_ = std::move(handler);
}

void PostgresStore::onRoomsWanted(std::function<void(const std::vector<std::int64_t>&)> handler) {
    std::lock_guard lock(keeperMutex_);
    roomsWanted_ = std::move(handler);
}

void PostgresStore::checkOwnerLocked() {
    if (lost_ || !owner_.broken()) return;
    logLine("lost the database session of this instance; closing its rooms");
    lost_ = true;
    ++generation_;
    held_.clear();
    keeperWake_.notify_all();
}

void PostgresStore::publishPresenceLocked(const std::vector<std::string>& users) {
    PgArray ids;
    for (const std::string& id : users) ids.add(id);
    PgTransaction tx(owner_);
    const PgParams me = PgParams().add(instanceId_.load());
    owner_.exec("DELETE FROM presence WHERE instance_id = $1", me);
    owner_.exec(
        "INSERT INTO presence(instance_id, user_id) SELECT $1, unnest($2::text[]) ON CONFLICT DO NOTHING",
        PgParams().add(instanceId_.load()).add(ids.take()));
    tx.commit();
}

void PostgresStore::keep() {
    using Clock = std::chrono::steady_clock;
    auto nextCheck = Clock::now() + kCheckEvery;
    auto nextReconnect = Clock::now();
    // Whichever thread met the lost session first (a history write, a release, this check),
    // its rooms close here, before a new session may take any room again.
    std::uint64_t reported = generation_.load();
    std::unique_lock keeper(keeperMutex_);
    while (!stopping_) {
        keeperWake_.wait_for(keeper, kPresenceEvery);
        if (stopping_) return;
        bool report = false;
        std::vector<std::int64_t> wanted;
        {
            std::lock_guard lock(ownerMutex_);
            try {
                if (!lost_ && Clock::now() >= nextCheck) {
                    nextCheck = Clock::now() + kCheckEvery;
                    // Also tells that the owner session still lives. Old wishes (the room
                    // was let go since) go too.
                    PgArray held;
                    for (const auto& entry : held_) held.add(entry.first);
                    const PgResult asked = owner_.exec(
                        "DELETE FROM room_handovers WHERE room_key = ANY($1::int8[]) OR "
                        "asked_at < now() - interval '1 minute' RETURNING room_key",
                        PgParams().add(held.take()));
                    for (int i = 0; i < asked.rows(); ++i) {
                        if (held_.contains(asked.integer(i, 0))) wanted.push_back(asked.integer(i, 0));
                    }
                }
                if (lost_ && reported == generation_.load() && Clock::now() >= nextReconnect) {
                    nextReconnect = Clock::now() + kCheckEvery;
                    owner_.reconnect();
                    registerInstanceLocked();
                    lost_ = false;
                    logLine("database session re-established; this is instance " +
                            std::to_string(instanceId_.load()));
                }
                if (!lost_ && presence_.version() != publishedPresence_) {
                    std::uint64_t version = 0;
                    const std::vector<std::string> users = presence_.snapshot(version);
                    publishPresenceLocked(users);
                    publishedPresence_ = version;
                }
            } catch (const StoreError& e) {
                logLine(std::string("database error: ") + e.what());
                checkOwnerLocked();
            }
            if (reported != generation_.load()) {
                report = true;
                reported = generation_.load();
            }
        }
        if ((report && leasesLost_) || (!wanted.empty() && roomsWanted_)) {
            keeper.unlock();
            if (report && leasesLost_) leasesLost_();
            if (!wanted.empty() && roomsWanted_) roomsWanted_(wanted);
            keeper.lock();
        }
    }
}

}  // namespace vellumora::server
