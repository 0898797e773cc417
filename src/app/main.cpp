// vellumora: colour line-art pages with friends in real time.

#include <QAction>
#include <QApplication>
#include <QIcon>

#include <optional>

#include "account/auth_model.h"
#include "app/app_manual.h"
#include "app/base_url.h"
#include "app/root_view.h"
#include "app/shortcuts.h"
#include "camera/views/camera_capture_view.h"
#include "canvasview/canvas_view.h"
#include "pages/page_library.h"
#include "pages/views/page_picker.h"
#include "session/session_model.h"
#include "ui/appearance.h"

namespace {

// The capture sheet lies over the window while the user scans; it is the picker's child, so it
// goes with the picker when the room closes.
void openCaptureSheet(QWidget* parent, std::function<void(const QByteArray&)> onCaptured) {
    auto* sheet = new vellumora::CameraCaptureView(
        [onCaptured = std::move(onCaptured)](QByteArray png) { onCaptured(png); }, parent);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto status = vellumora::answerInfoOption(argc, argv, VELLUMORA_DEFAULT_SERVER)) {
        return *status;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vellumora"));
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

    // The three drawn pages are ready before the first room opens.
    vellumora::PageLibrary::prepareInBackground();

    vellumora::ViewFactories factories;
    factories.canvas = [&session](QWidget* parent) { return new vellumora::CanvasView(session, parent); };
    factories.exportPicture = [](QWidget* canvas) {
        static_cast<vellumora::CanvasView*>(canvas)->exportPicture();
    };
    factories.copyPicture = [](QWidget* canvas) {
        static_cast<vellumora::CanvasView*>(canvas)->copyPicture();
    };
    factories.pagePicker = [&session](QWidget* parent) {
        auto* picker = new vellumora::PagePicker(session, parent);
        picker->setCaptureSheetOpener(openCaptureSheet);
        return picker;
    };
    vellumora::RootView window(auth, session, factories);
    window.setMinimumSize(1100, 720);
    window.resize(1280, 820);

    auto* quit = new QAction(&window);
    quit->setShortcuts(vellumora::keySequences(vellumora::shortcut(vellumora::ShortcutAction::quit)));
    quit->setShortcutContext(Qt::ApplicationShortcut);
    QObject::connect(quit, &QAction::triggered, &window, &QWidget::close);
    window.addAction(quit);

    vellumora::CanvasView::prepareWindow(window);
    window.show();
    return QApplication::exec();
}
