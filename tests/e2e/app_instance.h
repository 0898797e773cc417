#pragma once
// One running vellumora process as a person at the desk would meet it: its own home directory,
// its own D-Bus session with an unlocked keyring, the shared X display. It is driven from
// outside: keys typed with xdotool, what is on screen read over AT-SPI as a screen reader does.

#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>
#include <optional>

namespace vellumora::testing {

class AppInstance {
  public:
    // Its home outlives launches, so the keyring (and the session in it) survives a restart.
    AppInstance();
    ~AppInstance();

    // Starts the app with SERVER set to `server`.
    void launch(const QUrl& server);
    // Gives the window the keyboard and presses Ctrl+Q; true when the app then ends normally.
    bool quit();

    // Waits until an element with this accessible name (or one starting with it) is on screen.
    bool waitShowing(const QString& name, bool prefix = false);
    bool isShowing(const QString& name) { return findShowing(name, false).has_value(); }
    // Waits until no element with this accessible name is on screen.
    bool waitGone(const QString& name);
    // Where an element with this accessible name is, in the window.
    std::optional<QRect> extents(const QString& name);
    // Presses the button with this accessible name once it is on screen.
    bool press(const QString& name);

    // Gives the main window the keyboard, then types or presses keys (xdotool key syntax).
    void focusWindow();
    void type(const QString& text);
    void key(const QString& keys);
    // Moves or clicks the pointer ("mousedown 1", "mousemove --window WINDOW 40 10": WINDOW
    // stands for the main window).
    void pointer(QString command);
    // Saves the window as a PNG into $VELLUMORA_SCREENSHOT_DIR when that is set.
    // Of the main window, or of the app's window whose title matches `title`.
    void screenshot(const QString& name, const QString& title = QStringLiteral("^Vellumora"));
    // That window as it is on screen now, raised first.
    QImage grab(const QString& title = QStringLiteral("^Vellumora"));
    QString title();

  private:
    struct Node {
        QString service;
        QString path;
    };
    bool running() const { return process_.state() != QProcess::NotRunning; }
    QString stateFile(const char* name) const;
    QString windowId(const QString& title = QStringLiteral("^Vellumora"));
    bool connectAccessibilityBus();
    QDBusPendingCall askLater(const Node& node, const QString& interface, const QString& method,
                              const QVariantList& args = {});
    std::optional<Node> findShowing(const QString& name, bool prefix);

    QTemporaryDir home_;
    QTemporaryDir state_;
    QProcess process_;
    QByteArray errors_;  // what the app wrote to its error output since it was launched
    QString busName_;
    std::optional<QDBusConnection> a11y_;
};

}  // namespace vellumora::testing
