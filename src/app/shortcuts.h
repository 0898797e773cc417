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
    exportPicture,
    copyPicture,
    undo,
    redo,
    toggleCanvasMode,
    leaveCanvasMode,
    resetView,
    panWithSpace,
    panWithButton,
    zoomWithWheel,
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
    // What the mouse or pen does while the keys are held ("drag", "wheel"); such a row is shown,
    // not bound: its keys may be empty or a modifier's name.
    std::string_view pointer = {};
};

// In the order a list shows them, grouped by `where`.
std::span<const Shortcut> shortcuts();
const Shortcut& shortcut(ShortcutAction action);
// The row's keys as Qt binds and shows them, one sequence per alternative; none for a pointer row.
QList<QKeySequence> keySequences(const Shortcut& shortcut);
// One of the table's texts as Qt shows it.
QString qText(std::string_view text);
// The keys and the pointer's part as a person reads them: "Ctrl+Q", "Space+drag", "Ctrl+wheel".
QString shortcutText(const Shortcut& shortcut);

}  // namespace vellumora
