#include "rooms/room_registry.h"

#include <algorithm>

#include "common/log.h"

namespace vellumora::server {

RoomRegistry::RoomRegistry(const ServerConfig& config, Store& store, Metrics& metrics, HistoryWriter& writer,
                           WorkPool& disk)
    : config_(config), store_(store), metrics_(metrics), writer_(writer), disk_(disk) {}

void RoomRegistry::acquire(const std::string& roomId, Acquired done) {
    {
        std::unique_lock lock(mutex_);
        if (rooms_.size() > 1024) {
            std::erase_if(rooms_, [](const auto& entry) {
                return entry.second.waiting.empty() && entry.second.room.expired();
            });
        }
        Slot& slot = rooms_[roomId];
        if (auto room = slot.room.lock()) {
            lock.unlock();
            // Lost with the database session: its members are being closed, and until it is
            // gone the lease cannot be taken again.
            if (!store_.holdsRoom(room->key(), room->lease())) return done(nullptr);
            return done(std::move(room));
        }
        slot.waiting.push_back(std::move(done));
        if (slot.waiting.size() > 1) return;  // its load is under way
    }
    if (!disk_.post([this, roomId] { load(roomId); })) loaded(roomId, nullptr);
}

void RoomRegistry::load(const std::string& roomId) {
    std::shared_ptr<Room> room;
    try {
        // A room that was let go may still have changes on their way to disk.
        writer_.flush();
        room = std::make_shared<Room>(roomId, store_.loadRoom(roomId), writer_, metrics_,
                                      config_.maxRoomConnections);
    } catch (const RoomElsewhere& e) {
        logLine(e.what());
    } catch (const StoreError& e) {
        logLine(std::string("database error: ") + e.what());
    }
    loaded(roomId, room);
}

void RoomRegistry::loaded(const std::string& roomId, const std::shared_ptr<Room>& room) {
    std::vector<Acquired> waiting;
    {
        std::lock_guard lock(mutex_);
        Slot& slot = rooms_[roomId];
        slot.room = room;
        waiting.swap(slot.waiting);
    }
    for (Acquired& done : waiting) done(room);
}

void RoomRegistry::track(std::weak_ptr<RoomMember> member) {
    std::lock_guard lock(mutex_);
    if (members_.size() >= 64 && members_.size() % 64 == 0)
        std::erase_if(members_, [](const auto& m) { return m.expired(); });
    members_.push_back(std::move(member));
}

void RoomRegistry::sendAway(const std::vector<std::int64_t>& roomKeys, const char* reason) {
    std::vector<std::shared_ptr<Room>> leaving;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, slot] : rooms_) {
            auto room = slot.room.lock();
            if (room && std::ranges::find(roomKeys, room->key()) != roomKeys.end())
                leaving.push_back(std::move(room));
        }
    }
    for (const auto& room : leaving) {
        logLine("closing room " + room->id() + ": " + reason);
        room->sendAway(reason);
    }
}

void RoomRegistry::closeAll() {
    std::vector<std::shared_ptr<RoomMember>> open;
    {
        std::lock_guard lock(mutex_);
        for (const auto& weak : members_) {
            if (auto m = weak.lock()) open.push_back(std::move(m));
        }
    }
    for (const auto& m : open) m->goAway("Server stopping");
}

}  // namespace vellumora::server
