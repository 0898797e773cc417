#include "app/shortcuts.h"

#include <algorithm>
#include <array>

namespace vellumora {

namespace {

using A = ShortcutAction;

constexpr std::string_view kWindow = "Anywhere";
constexpr std::string_view kCanvas = "On the canvas";
constexpr std::string_view kLogin = "Log-in screen";
constexpr std::string_view kFriend = "Add a friend";
constexpr std::string_view kPages = "Page picker";
constexpr std::string_view kCapture = "Capture sketch from camera";

constexpr std::array kShortcuts = {
    Shortcut{A::quit, kWindow, "Ctrl+Q", "Quit Vellumora."},
    Shortcut{A::exportPicture, kWindow, "Ctrl+E", "Save the open room's picture as a PNG file."},
    Shortcut{A::copyPicture, kWindow, "Ctrl+Shift+C", "Copy the open room's picture."},
    Shortcut{A::undo, kWindow, "Ctrl+Z", "Undo your last stroke that is still on the page, for everyone."},
    Shortcut{A::redo, kWindow, "Ctrl+Shift+Z; Ctrl+Y", "Redo the stroke you last undid, back in its place."},
    Shortcut{A::toggleCanvasMode, kCanvas, "Space",
             "Canvas mode on or off. In canvas mode the pointer is the pen: move with the button held "
             "to colour, without it to move the cursor."},
    Shortcut{A::leaveCanvasMode, kCanvas, "Esc", "Leave canvas mode and free the pointer."},
    Shortcut{A::resetView, kCanvas, "Ctrl+0", "Reset zoom and pan."},
    Shortcut{A::panWithSpace, kCanvas, "Space",
             "Move the page, outside canvas mode. A tap of Space alone still "
             "switches canvas mode.",
             "drag"},
    Shortcut{A::panWithButton, kCanvas, "", "Move the page.", "Right or middle button drag"},
    Shortcut{A::zoomWithWheel, kCanvas, "Ctrl", "Zoom in or out about the pointer.", "wheel"},
    Shortcut{A::submitLogin, kLogin, "Return", "Log in, or create the account."},
    Shortcut{A::sendFriendRequest, kFriend, "Return", "Send the request."},
    Shortcut{A::closeFriendSheet, kFriend, "Esc", "Close without sending."},
    Shortcut{A::choosePage, kPages, "Return; Space", "Use the focused page."},
    Shortcut{A::captureNow, kCapture, "Return", "Capture now, without waiting for the page to hold still."},
    Shortcut{A::useCapturedPage, kCapture, "Ctrl+Return", "Use this page."},
    Shortcut{A::cancelCapture, kCapture, "Esc", "Cancel."},
};

}  // namespace

std::span<const Shortcut> shortcuts() {
    return kShortcuts;
}

const Shortcut& shortcut(ShortcutAction action) {
    // Every action has its row; a test walks them all.
    return *std::find_if(kShortcuts.begin(), kShortcuts.end(),
                         [action](const Shortcut& s) { return s.action == action; });
}

QString qText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QList<QKeySequence> keySequences(const Shortcut& shortcut) {
    if (!shortcut.pointer.empty()) return {};
    return QKeySequence::listFromString(qText(shortcut.keys), QKeySequence::PortableText);
}

QString shortcutText(const Shortcut& shortcut) {
    if (shortcut.pointer.empty()) {
        QStringList shown;
        for (const QKeySequence& k : keySequences(shortcut)) shown << k.toString(QKeySequence::NativeText);
        return shown.join(QStringLiteral(" or "));
    }
    if (shortcut.keys.empty()) return qText(shortcut.pointer);
    return qText(shortcut.keys) + QLatin1Char('+') + qText(shortcut.pointer);
}

}  // namespace vellumora
