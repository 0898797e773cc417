#pragma once
// RoomBus within one process: a channel is a list of subscribers behind a mutex.

#include <mutex>
#include <unordered_map>
#include <vector>

#include "rooms/room_bus.h"

namespace vellumora::server {

class LocalRoomBus final : public RoomBus {
  public:
    std::shared_ptr<RoomChannel> channel(const std::string& roomId) override;

  private:
    std::mutex mutex_;
    std::unordered_map<std::string, std::weak_ptr<RoomChannel>> channels_;
};

}  // namespace vellumora::server
