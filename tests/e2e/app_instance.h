#pragma once
// One running vellumora process as a person at the desk would meet it: its own home directory,
// its own D-Bus session with an unlocked keyring, the shared X display. It is driven from
// outside: keys typed with xdotool, what is on screen read over AT-SPI.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>
#include <memory>

#include "accessibility_tree.h"

namespace vellumora::testing {

class AppInstance {
  public:
    // `home` outlives launches, so the keyring (and the session in it) survives a restart.
    AppInstance(QString home, QUrl server);
    ~AppInstance();

    void launch();
    // The SERVER of the next launch.
    void setServer(const QUrl& server) { m_server = server; }
    bool running() const;
    // Waits for the process to end; its exit code, or -1 on a crash or time-out.
    int waitForExit();

    // Waits until an element with this accessible name is on screen.
    bool waitShowing(const QString& name, int timeoutMs = 20000);
    bool waitShowingStart(const QString& start, int timeoutMs = 20000);
    bool isShowing(const QString& name, bool prefix = false);
    // Presses the button with this accessible name once it is on screen.
    bool press(const QString& name, int timeoutMs = 20000);

    // Gives the app's window whose title matches the pattern the keyboard (the main window by
    // default), then types or presses keys (xdotool key syntax).
    void focusWindow(const QString& titlePattern = QStringLiteral("^Vellumora$"));
    void type(const QString& text);
    void key(const QString& keys);
    void moveWindow(int x, int y);
    // Saves the window as a PNG into $VELLUMORA_SCREENSHOT_DIR when that is set.
    void screenshot(const QString& name);

  private:
    QString windowId(const QString& title);

    QString m_home;
    QUrl m_server;
    QTemporaryDir m_state;
    QProcess m_process;
    std::unique_ptr<AccessibilityTree> m_tree;
};

// Runs xdotool with the arguments; its standard output, trimmed.
QString xdotool(const QStringList& arguments);

}  // namespace vellumora::testing
