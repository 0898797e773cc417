#pragma once
// A room member without a connection: a user, a colour, and nothing done when told to send or go.

#include <string>

#include "rooms/room.h"

namespace vellumora::server {

class QuietMember : public RoomMember {
  public:
    explicit QuietMember(std::string id) : user_{std::move(id), "name", "name"} {}
    void send() override {}
    const UserRecord& user() const override { return user_; }
    const std::string& color() const override { return color_; }
    void goAway(const char*) override {}
    void endSession(const char*) override {}

  private:
    UserRecord user_;
    std::string color_ = "#336699";
};

}  // namespace vellumora::server
