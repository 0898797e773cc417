#pragma once
// Two friends, Ann and Bob, signed up on a real vellumora-server and both in their shared room,
// each with a session model of their own. What Bob's canvas is told is recorded.

#include <QUrl>

#include <memory>
#include <optional>
#include <vector>

#include "session/session_model.h"

namespace vellumora::testing {

class RoomPair {
  public:
    // Signs both up, makes them friends and enters the room; check ready() afterwards.
    explicit RoomPair(const QUrl& baseUrl);
    ~RoomPair();

    bool ready() const { return ready_; }
    SessionModel& ann() { return *ann_; }
    SessionModel& bob() { return *bob_; }

    // Pages and clears that reached Bob from the room, in arrival order.
    std::vector<std::optional<WirePage>> bobPages;
    int bobClears = 0;
    // Clears Ann's own canvas was told about.
    int annClears = 0;

  private:
    std::unique_ptr<SessionModel> ann_;
    std::unique_ptr<SessionModel> bob_;
    bool ready_ = false;
};

}  // namespace vellumora::testing
