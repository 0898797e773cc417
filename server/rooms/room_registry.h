#pragma once
// The rooms of this process: loading a room from the store when its first connection
// arrives (on the disk pool, never on the caller's thread), and letting it go when the last
// one leaves. The registry's lock guards only its map; no disk work happens under it.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/server_config.h"
#include "common/work_pool.h"
#include "rooms/room.h"

namespace vellumora::server {

class RoomRegistry {
  public:
    using Acquired = std::function<void(std::shared_ptr<Room>)>;

    RoomRegistry(const ServerConfig& config, Store& store, Metrics& metrics, HistoryWriter& writer,
                 WorkPool& disk);

    // Hands `done` the room, loaded from the store when it is not in memory; null when it
    // cannot be loaded (a database error, or the disk pool is full). `done` runs on the
    // caller's thread when the room is in memory, else on a disk pool thread.
    void acquire(const std::string& roomId, Acquired done);

    // Remembers a room connection so that closeAll() reaches it, joined to a room or not.
    void track(std::weak_ptr<RoomMember> member);
    // Sends every open room connection a "going away" close.
    void closeAll();
    // Sends the connections of these rooms (by store key) away ("going away", `reason`): another
    // instance wants them, or their changes could not be stored. Their people come back to the
    // room as the store has it.
    void sendAway(const std::vector<std::int64_t>& roomKeys, const char* reason);

  private:
    struct Slot {
        std::weak_ptr<Room> room;
        std::vector<Acquired> waiting;  // not empty while the room is being loaded
    };
    void load(const std::string& roomId);
    void loaded(const std::string& roomId, const std::shared_ptr<Room>& room);

    const ServerConfig& config_;
    Store& store_;
    Metrics& metrics_;
    HistoryWriter& writer_;
    WorkPool& disk_;
    std::mutex mutex_;
    std::unordered_map<std::string, Slot> rooms_;
    std::vector<std::weak_ptr<RoomMember>> members_;
};

}  // namespace vellumora::server
