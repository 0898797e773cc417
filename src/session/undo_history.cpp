#include "session/undo_history.h"

#include <algorithm>

namespace vellumora {

void UndoHistory::push(std::deque<std::string>& side, std::string id) {
    side.push_back(std::move(id));
    if (side.size() > kMaxSteps) side.pop_front();
}

void UndoHistory::strokeStarted(const std::string& id) {
    push(undo_, id);
    redo_.clear();
    endedByClear_ = false;
}

std::optional<std::string> UndoHistory::moveLast(std::deque<std::string>& from, std::deque<std::string>& to) {
    if (from.empty()) return std::nullopt;
    std::string id = std::move(from.back());
    from.pop_back();
    push(to, id);
    return id;
}

std::optional<std::string> UndoHistory::takeUndo() {
    return moveLast(undo_, redo_);
}

std::optional<std::string> UndoHistory::takeRedo() {
    return moveLast(redo_, undo_);
}

void UndoHistory::cleared() {
    undo_.clear();
    redo_.clear();
    endedByClear_ = true;
}

void UndoHistory::reset() {
    undo_.clear();
    redo_.clear();
    endedByClear_ = false;
}

void UndoHistory::keepOnly(const std::set<std::string>& shown) {
    std::erase_if(undo_, [&](const std::string& id) { return !shown.contains(id); });
}

}  // namespace vellumora
