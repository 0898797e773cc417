#pragma once
// The user's own strokes in the room that an undo can take back (newest last) and those taken
// back that a redo can restore. It lives as long as the app, so reconnects keep it; a new
// stroke empties the redo side, and a clear ends both.

#include <cstddef>
#include <deque>
#include <optional>
#include <set>
#include <string>

namespace vellumora {

class UndoHistory {
  public:
    // Steps kept on each side; older ones are forgotten.
    static constexpr std::size_t kMaxSteps = 100;

    void strokeStarted(const std::string& id);
    // The stroke to take back (it moves to the redo side), or none.
    std::optional<std::string> takeUndo();
    // The stroke to put back (it moves to the undo side), or none.
    std::optional<std::string> takeRedo();
    // A clear (by anyone): nothing before it can be undone or redone.
    void cleared();
    // Another room: nothing of the last one applies.
    void reset();
    // After a reconnect: strokes the room no longer shows (cleared or trimmed meanwhile) go.
    void keepOnly(const std::set<std::string>& shown);

    bool canUndo() const { return !undo_.empty(); }
    bool canRedo() const { return !redo_.empty(); }
    // Whether the last thing that emptied it was a clear (the UI says so).
    bool endedByClear() const { return endedByClear_; }

  private:
    static void push(std::deque<std::string>& side, std::string id);
    static std::optional<std::string> moveLast(std::deque<std::string>& from, std::deque<std::string>& to);

    std::deque<std::string> undo_;
    std::deque<std::string> redo_;
    bool endedByClear_ = false;
};

}  // namespace vellumora
