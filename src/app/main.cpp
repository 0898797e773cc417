// vellumora: colour line-art pages with friends in real time.

#include <QAction>
#include <QApplication>
#include <QIcon>

#include <optional>

#include "account/auth_model.h"
#include "app/base_url.h"
#include "app/root_view.h"
#include "session/session_model.h"
#include "ui/appearance.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vellumora"));
    QApplication::setApplicationDisplayName(QStringLiteral("Vellumora"));
    QApplication::setDesktopFileName(QStringLiteral("vellumora"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/vellumora/vellumora.svg")));
    vellumora::ui::installAppearance(app);

    std::optional<QString> server;
    if (qEnvironmentVariableIsSet("SERVER")) {
        server = qEnvironmentVariable("SERVER");
    }
    const QUrl base = vellumora::resolveBaseUrl(server, QStringLiteral(VELLUMORA_DEFAULT_SERVER));

    // Both models live as long as the process.
    vellumora::AuthModel auth(base);
    vellumora::SessionModel session(base);

    vellumora::ViewFactories factories;
    vellumora::RootView window(auth, session, factories);
    window.setWindowTitle(QStringLiteral("Vellumora"));
    window.setMinimumSize(1100, 720);
    window.resize(1280, 820);

    auto* quit = new QAction(&window);
    quit->setShortcut(QKeySequence::Quit);
    quit->setShortcutContext(Qt::ApplicationShortcut);
    QObject::connect(quit, &QAction::triggered, &window, &QWidget::close);
    window.addAction(quit);

    window.show();
    return QApplication::exec();
}
