#include "app_instance.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QUuid>

#include <csignal>
#include <cstdio>
#include <vector>

#include "support/qt_test_app.h"

namespace vellumora::testing {

namespace {

using namespace std::chrono_literals;

// The app's own session bus and keyring; it writes where to find the accessibility bus of that
// session, and its pid.
const char* kLauncher = R"(
dbus-send --session --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
  > "$VELLUMORA_E2E_STATE/a11y"
echo -n vellumora | gnome-keyring-daemon --unlock --components=secrets >/dev/null 2>&1
echo $$ > "$VELLUMORA_E2E_STATE/pid"
LD_PRELOAD="$VELLUMORA_E2E_PRELOAD" exec "$VELLUMORA_E2E_APP"
)";

const QString kAccessible = QStringLiteral("org.a11y.atspi.Accessible");
const QString kRoot = QStringLiteral("/org/a11y/atspi/accessible/root");
constexpr unsigned kStateShowing = 25;  // ATSPI_STATE_SHOWING

QString xdotool(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    process.waitForFinished(15000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// The first argument of the reply; invalid when the call failed.
QVariant firstOf(QDBusPendingCall call) {
    call.waitForFinished();
    const QDBusMessage reply = call.reply();
    return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().value(0) : QVariant();
}

}  // namespace

AppInstance::AppInstance() : busName_(QStringLiteral("e2e-") + QUuid::createUuid().toString(QUuid::Id128)) {}

AppInstance::~AppInstance() {
    a11y_.reset();
    QDBusConnection::disconnectFromBus(busName_);
    if (!running()) return;
    // End the app itself: dbus-run-session then takes its bus down with it, which a signal to
    // dbus-run-session would leave running.
    if (const qint64 pid = stateFile("pid").toLongLong(); pid > 0) ::kill(static_cast<pid_t>(pid), SIGTERM);
    if (!process_.waitForFinished(10000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

QString AppInstance::stateFile(const char* name) const {
    QFile file(state_.filePath(QString::fromLatin1(name)));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

void AppInstance::launch(const QUrl& server) {
    QFile::remove(state_.filePath(QStringLiteral("a11y")));
    QFile::remove(state_.filePath(QStringLiteral("pid")));
    a11y_.reset();
    QDBusConnection::disconnectFromBus(busName_);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString home = home_.path();
    const QString runtime = home + QStringLiteral("/run");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const std::pair<const char*, QString> variables[] = {{"HOME", home},
                                                         {"XDG_RUNTIME_DIR", runtime},
                                                         {"XDG_DATA_HOME", home + "/.local/share"},
                                                         {"XDG_CONFIG_HOME", home + "/.config"},
                                                         {"SERVER", server.toString()},
                                                         {"QT_QPA_PLATFORM", "xcb"},
                                                         {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"},
                                                         {"VELLUMORA_E2E_STATE", state_.path()},
                                                         {"VELLUMORA_E2E_APP", VELLUMORA_APP_BINARY},
                                                         {"VELLUMORA_E2E_PRELOAD", VELLUMORA_APP_PRELOAD}};
    for (const auto& [name, value] : variables) env.insert(QString::fromLatin1(name), value);
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    process_.setProcessEnvironment(env);
    // Its error output still shows with the test's, and is kept to tell why it exited.
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    errors_.clear();
    QObject::disconnect(&process_, &QProcess::readyReadStandardError, nullptr, nullptr);
    QObject::connect(&process_, &QProcess::readyReadStandardError, [this] {
        const QByteArray text = process_.readAllStandardError();
        errors_ += text;
        std::fwrite(text.constData(), 1, std::size_t(text.size()), stderr);
    });
    process_.start(QStringLiteral("dbus-run-session"), {QStringLiteral("--"), QStringLiteral("bash"),
                                                        QStringLiteral("-c"), QString::fromUtf8(kLauncher)});
    process_.waitForStarted(10000);
}

bool AppInstance::quit() {
    focusWindow();
    key(QStringLiteral("ctrl+q"));
    if (!runUntil([this] { return !running(); }, 30s) || process_.exitStatus() != QProcess::NormalExit)
        return false;
    errors_ += process_.readAllStandardError();
    // LeakSanitizer's tracer now and then crashes on its own at exit, having found nothing (as
    // scripts/run-test knows too); any other failure, a leak above all, fails.
    const bool tracerCrashed = errors_.contains("Tracer caught signal") &&
                               !errors_.contains("ERROR: LeakSanitizer: detected memory leaks");
    return process_.exitCode() == 0 || tracerCrashed;
}

bool AppInstance::connectAccessibilityBus() {
    if (a11y_ && a11y_->isConnected()) return true;
    const QString address = stateFile("a11y");
    if (address.isEmpty()) return false;
    QDBusConnection a11y = QDBusConnection::connectToBus(address, busName_);
    if (a11y.isConnected()) {
        a11y_ = a11y;
    } else {
        QDBusConnection::disconnectFromBus(busName_);
    }
    return a11y_.has_value();
}

QDBusPendingCall AppInstance::askLater(const Node& node, const QString& interface, const QString& method,
                                       const QVariantList& args) {
    QDBusMessage message = QDBusMessage::createMethodCall(node.service, node.path, interface, method);
    message.setArguments(args);
    return a11y_->asyncCall(message, 2000);
}

std::optional<AppInstance::Node> AppInstance::findShowing(const QString& wanted, bool prefix) {
    if (!connectAccessibilityBus()) return std::nullopt;
    // Breadth first from the registry, a level at a time: the questions about a whole level go
    // out together and the app answers them in one turn of its event loop, where one at a time
    // each would wait for a turn (and a frame) of its own. Hidden subtrees (other pages of a
    // stack, closed menus) are skipped whole.
    struct Asked {
        Node node;
        QDBusPendingCall state, name, children;
    };
    std::vector<Node> level{{QStringLiteral("org.a11y.atspi.Registry"), kRoot}};
    for (int visited = 0; !level.empty() && visited < 5000; visited += int(level.size())) {
        std::vector<Asked> asked;
        for (const Node& node : level) {
            asked.push_back({node, askLater(node, kAccessible, QStringLiteral("GetState")),
                             askLater(node, QStringLiteral("org.freedesktop.DBus.Properties"),
                                      QStringLiteral("Get"), {kAccessible, QStringLiteral("Name")}),
                             askLater(node, kAccessible, QStringLiteral("GetChildren"))});
        }
        std::vector<Node> next;
        for (Asked& a : asked) {
            if (a.node.path != kRoot) {
                const auto states = qdbus_cast<QList<uint>>(firstOf(a.state));
                if (states.isEmpty() || !(states.front() & (1u << kStateShowing))) continue;
                const QString name = firstOf(a.name).value<QDBusVariant>().variant().toString();
                if (prefix ? name.startsWith(wanted) : name == wanted) return a.node;
            }
            const QVariant children = firstOf(a.children);
            if (!children.isValid()) continue;
            const auto array = children.value<QDBusArgument>();
            array.beginArray();
            while (!array.atEnd()) {
                Node child;
                QDBusObjectPath path;
                array.beginStructure();
                array >> child.service >> path;
                array.endStructure();
                child.path = path.path();
                next.push_back(child);
            }
            array.endArray();
        }
        level = std::move(next);
    }
    return std::nullopt;
}

bool AppInstance::waitShowing(const QString& name, bool prefix) {
    return runUntil([&] { return running() && findShowing(name, prefix); }, 20s);
}

bool AppInstance::waitGone(const QString& name) {
    return runUntil([&] { return running() && !findShowing(name, false); }, 20s);
}

std::optional<QRect> AppInstance::extents(const QString& name) {
    const std::optional<Node> node = findShowing(name, false);
    if (!node) return std::nullopt;
    constexpr uint kWindowCoordinates = 1;  // ATSPI_COORD_TYPE_WINDOW
    const QVariant reply =
        firstOf(askLater(*node, QStringLiteral("org.a11y.atspi.Component"), QStringLiteral("GetExtents"),
                         {QVariant::fromValue(kWindowCoordinates)}));
    if (!reply.isValid()) return std::nullopt;
    int x = 0, y = 0, width = 0, height = 0;
    const auto box = reply.value<QDBusArgument>();
    box.beginStructure();
    box >> x >> y >> width >> height;
    box.endStructure();
    return QRect(x, y, width, height);
}

bool AppInstance::press(const QString& name) {
    // A list the app rebuilds as it polls may drop the element between finding and pressing it:
    // then it is looked for again. A busy app that answers late may well have pressed it; what
    // the caller waits for next tells.
    return runUntil(
        [&] {
            const std::optional<Node> node = running() ? findShowing(name, false) : std::nullopt;
            if (!node) return false;
            QDBusPendingCall call =
                askLater(*node, QStringLiteral("org.a11y.atspi.Action"), QStringLiteral("DoAction"), {0});
            call.waitForFinished();
            const QDBusError::ErrorType error = call.isError() ? call.error().type() : QDBusError::NoError;
            if (error == QDBusError::NoError || error == QDBusError::NoReply || error == QDBusError::Timeout)
                return true;
            std::fprintf(stderr, "pressing %s: %s\n", qPrintable(name), qPrintable(call.error().message()));
            return false;
        },
        20s);
}

QString AppInstance::windowId(const QString& title) {
    QString found;
    runUntil(
        [&] {
            if (const QString pid = stateFile("pid"); !pid.isEmpty()) {
                found = xdotool({"search", "--all", "--onlyvisible", "--pid", pid, "--name", title})
                            .section(QLatin1Char('\n'), 0, 0);
            }
            return !found.isEmpty();
        },
        20s);
    return found;
}

void AppInstance::focusWindow() {
    const QString window = windowId();
    xdotool({"windowraise", window});
    xdotool({"windowfocus", "--sync", window});
}

void AppInstance::type(const QString& text) {
    xdotool({"type", "--delay", "25", text});
}

void AppInstance::key(const QString& keys) {
    xdotool({"key", "--clearmodifiers", keys});
}

void AppInstance::pointer(QString command) {
    xdotool(command.replace(QStringLiteral("WINDOW"), windowId()).split(QLatin1Char(' ')));
}

void AppInstance::screenshot(const QString& name, const QString& title) {
    const QString dir = qEnvironmentVariable("VELLUMORA_SCREENSHOT_DIR");
    if (!dir.isEmpty()) grab(title).save(QDir(dir).filePath(name + ".png"));
}

QImage AppInstance::grab(const QString& title) {
    const QString window = windowId(title);
    xdotool({"windowraise", window});
    runFor(300ms);  // let the raised window repaint what was covered
    return QGuiApplication::primaryScreen()->grabWindow(window.toULongLong()).toImage();
}

QString AppInstance::title() {
    return xdotool({"getwindowname", windowId()});
}

}  // namespace vellumora::testing
