#pragma once
// Every keyboard shortcut of the app in one table: the manual's list is rendered from it at
// build time, and whatever binds or lists keys in the app reads the same rows.

#include <QKeySequence>
#include <QList>
#include <span>
#include <string_view>

namespace vellumora {

enum class ShortcutAction {
    quit,
    toggleCanvasMode,
    leaveCanvasMode,
    resetView,
    submitLogin,
    sendFriendRequest,
    closeFriendSheet,
    choosePage,
    captureNow,
    useCapturedPage,
    cancelCapture,
};

struct Shortcut {
    ShortcutAction action;
    std::string_view where;  // the part of the window the keys work in
    std::string_view keys;   // QKeySequence's portable text, "; " between alternatives
    std::string_view what;   // one sentence
};

// In the order a list shows them, grouped by `where`.
std::span<const Shortcut> shortcuts();
const Shortcut& shortcut(ShortcutAction action);
// The row's keys as Qt binds and shows them, one sequence per alternative.
QList<QKeySequence> keySequences(const Shortcut& shortcut);

}  // namespace vellumora
