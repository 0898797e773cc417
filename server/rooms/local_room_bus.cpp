#include "rooms/local_room_bus.h"

#include <algorithm>

namespace vellumora::server {

namespace {

class LocalChannel final : public RoomChannel {
  public:
    void subscribe(std::weak_ptr<RoomSubscriber> subscriber) override {
        std::lock_guard lock(mutex_);
        subscribers_.push_back(std::move(subscriber));
    }

    void unsubscribe(const RoomSubscriber* subscriber) override {
        std::lock_guard lock(mutex_);
        std::erase_if(subscribers_, [&](const std::weak_ptr<RoomSubscriber>& s) {
            auto locked = s.lock();
            return !locked || locked.get() == subscriber;
        });
    }

    void publish(const Payload& payload, const RoomSubscriber* except) override {
        std::lock_guard lock(mutex_);
        for (const auto& weak : subscribers_) {
            if (auto s = weak.lock(); s && s.get() != except) s->deliver(payload);
        }
    }

  private:
    std::mutex mutex_;
    std::vector<std::weak_ptr<RoomSubscriber>> subscribers_;
};

}  // namespace

std::shared_ptr<RoomChannel> LocalRoomBus::channel(const std::string& roomId) {
    std::lock_guard lock(mutex_);
    if (channels_.size() > 1024)
        std::erase_if(channels_, [](const auto& entry) { return entry.second.expired(); });
    auto& slot = channels_[roomId];
    if (auto existing = slot.lock()) return existing;
    auto created = std::make_shared<LocalChannel>();
    slot = created;
    return created;
}

}  // namespace vellumora::server
