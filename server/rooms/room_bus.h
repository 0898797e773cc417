#pragma once
// Fan-out of encoded room messages to the connections of a room. In-process today; the
// interface is what a pub/sub service would implement to let several processes share rooms.

#include <memory>
#include <string>

namespace vellumora::server {

// One encoded message, shared by every recipient.
using Payload = std::shared_ptr<const std::string>;

class RoomSubscriber {
  public:
    virtual ~RoomSubscriber() = default;
    // Queues `payload` for sending; must not block.
    virtual void deliver(const Payload& payload) = 0;
};

class RoomChannel {
  public:
    virtual ~RoomChannel() = default;
    virtual void subscribe(std::weak_ptr<RoomSubscriber> subscriber) = 0;
    virtual void unsubscribe(const RoomSubscriber* subscriber) = 0;
    // Every subscriber except `except` receives the payloads in the order they were published.
    virtual void publish(const Payload& payload, const RoomSubscriber* except) = 0;
};

class RoomBus {
  public:
    virtual ~RoomBus() = default;
    // The channel of a room; the same room id yields the same channel while someone holds it.
    virtual std::shared_ptr<RoomChannel> channel(const std::string& roomId) = 0;
};

}  // namespace vellumora::server
