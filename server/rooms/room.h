#pragma once
// One room in memory: its history, the connections present, and the one lock that orders
// everything that happens in it. Relays are published while that lock is held, so every
// connection sees the room's messages in the order the history recorded them.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "store/history_writer.h"
#include "common/metrics.h"
#include "rooms/room_bus.h"
#include "rooms/room_history.h"
#include "store/store.h"

namespace vellumora::server {

class RoomMember : public RoomSubscriber {
  public:
    virtual const UserRecord& user() const = 0;
    virtual const std::string& color() const = 0;
    // The server is stopping: say goodbye with a close frame.
    virtual void goAway() = 0;
};

class Room {
  public:
    Room(std::string id, StoredRoom stored, std::shared_ptr<RoomChannel> channel, HistoryWriter& writer,
         Metrics& metrics, std::size_t maxConnections);
    ~Room();
    Room(const Room&) = delete;
    Room& operator=(const Room&) = delete;

    const std::string& id() const { return id_; }

    // Sends the member its room_state and announces it to the others; false when full.
    bool join(const std::shared_ptr<RoomMember>& member);
    void leave(const RoomMember& member);
    // One message the member sent: validated, recorded, relayed to the others; or dropped.
    void handle(const RoomMember& sender, std::string_view bytes);

  private:
    std::string id_;
    std::int64_t key_;
    std::shared_ptr<RoomChannel> channel_;
    HistoryWriter& writer_;
    Metrics& metrics_;
    const std::size_t maxConnections_;

    std::mutex mutex_;
    RoomHistory history_;
    struct Present {
        const RoomMember* member;
        std::weak_ptr<RoomMember> alive;  // a member torn down at shutdown never left
    };
    std::vector<Present> members_;
    std::vector<RoomHistory::Change> changes_;  // reused per message
    std::string encoded_;                       // reused per message
    std::size_t reportedBytes_ = 0;
};

}  // namespace vellumora::server
