#include "app_instance.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QThread>

#include <csignal>

#include "support/qt_test_app.h"

namespace vellumora::testing {

namespace {

using namespace std::chrono_literals;

// The app's own session bus, keyring and accessibility bus; it writes where to find them.
const QString kMainWindow = QStringLiteral("^Vellumora$");

const char* kLauncher = R"(
echo "$DBUS_SESSION_BUS_ADDRESS" > "$VELLUMORA_E2E_STATE/bus"
echo -n vellumora | gnome-keyring-daemon --unlock --components=secrets >/dev/null 2>&1
echo $$ > "$VELLUMORA_E2E_STATE/pid"
exec "$VELLUMORA_E2E_APP"
)";

QString readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

}  // namespace

QString xdotool(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    process.waitForFinished(15000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

AppInstance::AppInstance(QString home, QUrl server) : m_home(std::move(home)), m_server(std::move(server)) {}

AppInstance::~AppInstance() {
    if (!running()) {
        return;
    }
    // End the app itself: dbus-run-session then takes its bus down with it, which a signal to
    // dbus-run-session would leave running.
    const qint64 pid = readFile(m_state.filePath(QStringLiteral("pid"))).toLongLong();
    if (pid > 0) {
        ::kill(static_cast<pid_t>(pid), SIGTERM);
    }
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

void AppInstance::launch() {
    QFile::remove(m_state.filePath(QStringLiteral("bus")));
    QFile::remove(m_state.filePath(QStringLiteral("pid")));
    m_tree.reset();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString runtime = m_home + QStringLiteral("/run");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert(QStringLiteral("HOME"), m_home);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_home + QStringLiteral("/.local/share"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("SERVER"), m_server.toString());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    env.insert(QStringLiteral("VELLUMORA_E2E_STATE"), m_state.path());
    env.insert(QStringLiteral("VELLUMORA_E2E_APP"), QStringLiteral(VELLUMORA_APP_BINARY));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("dbus-run-session"), {QStringLiteral("--"), QStringLiteral("bash"),
                                                         QStringLiteral("-c"), QString::fromUtf8(kLauncher)});
    m_process.waitForStarted(10000);
}

bool AppInstance::running() const {
    return m_process.state() != QProcess::NotRunning;
}

int AppInstance::waitForExit() {
    if (!runUntil([this] { return !running(); }, 30s)) {
        return -1;
    }
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

bool AppInstance::isShowing(const QString& name, bool prefix) {
    if (!m_tree) {
        const QString bus = readFile(m_state.filePath(QStringLiteral("bus")));
        if (bus.isEmpty()) {
            return false;
        }
        m_tree = std::make_unique<AccessibilityTree>(bus);
    }
    return m_tree->findShowing(name, prefix).has_value();
}

bool AppInstance::waitShowing(const QString& name, int timeoutMs) {
    return runUntil([&] { return running() && isShowing(name); }, std::chrono::milliseconds(timeoutMs));
}

bool AppInstance::waitShowingStart(const QString& start, int timeoutMs) {
    return runUntil([&] { return running() && isShowing(start, true); },
                    std::chrono::milliseconds(timeoutMs));
}

bool AppInstance::press(const QString& name, int timeoutMs) {
    if (!waitShowing(name, timeoutMs)) {
        return false;
    }
    const std::optional<AccessibleNode> node = m_tree->findShowing(name);
    return node && m_tree->press(*node);
}

QString AppInstance::windowId(const QString& title) {
    QString found;
    runUntil(
        [&] {
            const QString pid = readFile(m_state.filePath(QStringLiteral("pid")));
            if (!pid.isEmpty()) {
                found = xdotool({"search", "--all", "--onlyvisible", "--pid", pid, "--name", title})
                            .section(QLatin1Char('\n'), 0, 0);
            }
            return !found.isEmpty();
        },
        20s);
    return found;
}

void AppInstance::focusWindow(const QString& title) {
    const QString window = windowId(title);
    xdotool({"windowraise", window});
    xdotool({"windowfocus", "--sync", window});
}

void AppInstance::type(const QString& text) {
    xdotool({"type", "--delay", "25", text});
}

void AppInstance::key(const QString& keys) {
    xdotool({"key", "--clearmodifiers", keys});
}

void AppInstance::moveWindow(int x, int y) {
    xdotool({"windowmove", "--sync", windowId(kMainWindow), QString::number(x), QString::number(y)});
}

void AppInstance::screenshot(const QString& name) {
    const QString dir = qEnvironmentVariable("VELLUMORA_SCREENSHOT_DIR");
    if (dir.isEmpty()) {
        return;
    }
    const QString window = windowId(kMainWindow);
    xdotool({"windowraise", window});
    runFor(300ms);  // let the raised window repaint what was covered
    QScreen* screen = QGuiApplication::primaryScreen();
    screen->grabWindow(window.toULongLong()).save(QDir(dir).filePath(name + QStringLiteral(".png")));
}

}  // namespace vellumora::testing
