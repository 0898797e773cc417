#pragma once
// One room in memory: its history, the connections present, and the one lock that orders
// everything that happens in it. Under that lock a message is recorded and its relay queued
// on every other member, so every connection sees the room's messages in the order the
// history recorded them; the sending itself starts after the lock is released, on each
// member's own strand.

#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "common/metrics.h"
#include "common/thread_annotations.h"
#include "rooms/room_history.h"
#include "store/history_writer.h"
#include "store/store.h"

namespace vellumora::server {

// One encoded message (or part of one), shared by every recipient.
using Payload = std::shared_ptr<const std::string>;

class RoomMember {
  public:
    // What the room keeps of this member's messages from one to the next, here with the member,
    // whose read has just touched it, rather than in the room's maps. The room's, under its lock.
    struct Memo {
        std::string userIdJson;  // the user's id as a JSON string, quotes included
        RoomHistory::OpenStroke openStroke;
    };

    virtual ~RoomMember() = default;
    virtual const UserRecord& user() const = 0;
    virtual const std::string& color() const = 0;
    // Queues one message, in parts that are sent one after the other, behind everything queued
    // before; never blocks and never writes. True when nothing is being sent yet: the caller then
    // calls send() once it holds no lock.
    virtual bool enqueue(std::span<const Payload> parts) = 0;
    // Starts sending what is queued (on the member's own strand).
    virtual void send() = 0;
    // Say goodbye with a "going away" close frame: the server stops, or the room moves.
    virtual void goAway(const char* reason) = 0;
    // The session the connection was opened with ended: leave the room and close with
    // kSessionEndedCloseCode, which the app takes for "signed out".
    virtual void endSession(const char* reason) = 0;

  private:
    friend class Room;
    Memo memo_;
};

class Room {
  public:
    Room(std::string id, StoredRoom stored, HistoryWriter& writer, Metrics& metrics,
         std::size_t maxConnections);
    ~Room();
    Room(const Room&) = delete;
    Room& operator=(const Room&) = delete;

    const std::string& id() const { return id_; }
    std::int64_t key() const { return key_; }
    std::uint64_t lease() const { return lease_; }

    // Sends the member its room_state and announces it to the others; false when full.
    bool join(const std::shared_ptr<RoomMember>& member);
    void leave(const RoomMember& member);
    // Closes every member's connection ("going away"); they come back to wherever the room is.
    void sendAway(const char* reason);
    // One message the member sent: validated, recorded, relayed to the others; or dropped.
    void handle(RoomMember& sender, std::string_view bytes);

  private:
    using Wake = std::vector<std::shared_ptr<RoomMember>>;
    // Queues `payload` on every member but `except`; collects those that need a send().
    void publishLocked(const Payload& payload, const RoomMember* except, Wake& wake) REQUIRES(mutex_);
    static void send(Wake& wake);

    // What every relayed message reads comes first, the history's own first part right after
    // it: a message then touches a few of the room's cache lines, not all of them.
    Mutex mutex_;
    std::int64_t key_;
    std::uint64_t lease_;
    HistoryWriter& writer_;
    std::size_t reportedBytes_ GUARDED_BY(mutex_) = 0;
    struct Present {
        const RoomMember* member;
        std::weak_ptr<RoomMember> alive;  // a member torn down at shutdown never left
    };
    std::vector<Present> members_ GUARDED_BY(mutex_);
    // The history's part of a room_state, encoded once and shared by every join until it changes.
    Payload strokesText_ GUARDED_BY(mutex_);
    RoomHistory history_ GUARDED_BY(mutex_);
    Payload pageText_ GUARDED_BY(mutex_);

    std::string id_;
    Metrics& metrics_;
    const std::size_t maxConnections_;
};

}  // namespace vellumora::server
