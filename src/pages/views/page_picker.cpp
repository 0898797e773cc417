#include "pages/views/page_picker.h"

#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QUuid>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <QtDebug>

#include "pages/page_library.h"
#include "pages/views/page_thumbnail.h"
#include "session/session_model.h"
#include "ui/styles.h"
#include "ui/symbol_icons.h"

namespace vellumora {

namespace {

using LineArtExtractor::LoadFailure;
using LineArtExtractor::LoadResult;
using ImportWatcher = QFutureWatcher<LoadResult>;

QString upperCaseUuid() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QString pixels(QSize size) {
    // Kept on one line when the message wraps.
    return PagePicker::tr("%1\u00A0×\u00A0%2\u00A0pixels").arg(size.width()).arg(size.height());
}

// Why an import was refused, in words a user can act on.
QString refusalText(const QString& fileName, const LoadResult& result) {
    QString reason;
    switch (result.failure) {
        case LoadFailure::unreadable:
            reason = PagePicker::tr("The file could not be read.");
            break;
        case LoadFailure::notPngOrJpeg:
            reason = PagePicker::tr("It is not a PNG or JPG image.");
            break;
        case LoadFailure::damaged:
            reason = PagePicker::tr("The image is damaged or incomplete.");
            break;
        case LoadFailure::tooSmall:
            reason = PagePicker::tr("At %1 the image is too small to colour.").arg(pixels(result.imageSize));
            break;
        case LoadFailure::tooLarge:
            reason =
                result.imageSize.isValid()
                    ? PagePicker::tr("At %1 the image is too large to open.").arg(pixels(result.imageSize))
                    : PagePicker::tr("The file is too large to open.");
            break;
        case LoadFailure::notEncoded:
            reason = PagePicker::tr("The page could not be prepared from it.");
            break;
    }
    return PagePicker::tr("“%1” could not be used. %2").arg(fileName, reason);
}

QPushButton* actionButton(const QString& text, const QString& symbol, QWidget* parent) {
    auto* button = new QPushButton(ui::symbolIcon(symbol), text, parent);
    button->setAccessibleName(text);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // Label and symbol at the leading edge, as in a list of actions.
    button->setStyleSheet(QStringLiteral("QPushButton { text-align: left; padding: 5px 10px; }"));
    return button;
}

void chooseWithFileDialog(QWidget* parent, std::function<void(const QString&)> onChosen) {
    auto* dialog = new QFileDialog(parent, PagePicker::tr("Pick a vellumora page (PNG or JPG)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setNameFilter(PagePicker::tr("PNG or JPG images (*.png *.jpg *.jpeg *.PNG *.JPG *.JPEG)"));
    dialog->setWindowModality(Qt::WindowModal);
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog,
                     [onChosen = std::move(onChosen)](const QString& path) { onChosen(path); });
    dialog->open();
}

}  // namespace

PagePicker::PagePicker(SessionModel& session, QWidget* parent)
    : PagePicker(session, PageLibrary::builtIn(), parent) {}

PagePicker::PagePicker(SessionModel& session, QList<CurrentPage> pages, QWidget* parent)
    : QWidget(parent), session_(&session), fileChooser_(chooseWithFileDialog) {
    buildLayout(pages);
    connect(&session, &SessionModel::currentPageChanged, this, &PagePicker::showCurrentPage);
    showCurrentPage();
}

PagePicker::~PagePicker() = default;

void PagePicker::buildLayout(const QList<CurrentPage>& pages) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);

    auto* header = new QHBoxLayout;
    auto* title = new QLabel(tr("Page"), this);
    ui::setTextStyle(title, ui::TextStyle::headline, QFont::DemiBold);
    currentName_ = new QLabel(this);
    currentName_->setAccessibleName(tr("Current page"));
    ui::setTextStyle(currentName_, ui::TextStyle::caption);
    QPalette secondary = currentName_->palette();
    secondary.setColor(QPalette::WindowText, ui::secondaryTextColor());
    currentName_->setPalette(secondary);
    // A long imported name is elided rather than widening the side panel.
    currentName_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    currentName_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    currentName_->installEventFilter(this);
    header->addWidget(title);
    header->addWidget(currentName_, 1);
    column->addLayout(header);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(8);
    for (const CurrentPage& page : pages) {
        auto* thumbnail = new PageThumbnail(page, this);
        connect(thumbnail, &PageThumbnail::clicked, this, [this, page] { choose(page); });
        const int index = int(thumbnails_.size());
        grid->addWidget(thumbnail, index / 2, index % 2);
        thumbnails_.push_back(thumbnail);
    }
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    column->addLayout(grid);

    auto* actions = new QVBoxLayout;
    actions->setSpacing(6);
    actions->setContentsMargins(0, 4, 0, 0);
    importButton_ = actionButton(tr("Import coloring page…"), QStringLiteral("doc.on.doc"), this);
    importButton_->setToolTip(tr("Pick a clean PNG or JPG of a coloring page you downloaded."));
    captureButton_ = actionButton(tr("Capture sketch from camera"), QStringLiteral("camera.fill"), this);
    captureButton_->setToolTip(tr("Use the webcam to scan a hand-drawn sketch."));
    captureButton_->setEnabled(false);
    clearButton_ = actionButton(tr("Clear canvas"), QStringLiteral("trash"), this);
    clearButton_->setIcon(ui::symbolIcon(QStringLiteral("trash"), ui::destructiveColor()));
    QPalette destructive = clearButton_->palette();
    destructive.setColor(QPalette::ButtonText, ui::destructiveColor());
    clearButton_->setPalette(destructive);
    connect(importButton_, &QPushButton::clicked, this, &PagePicker::startImport);
    connect(captureButton_, &QPushButton::clicked, this, &PagePicker::openCaptureSheet);
    connect(clearButton_, &QPushButton::clicked, this, &PagePicker::clearCanvas);
    actions->addWidget(importButton_);
    actions->addWidget(captureButton_);
    actions->addWidget(clearButton_);
    column->addLayout(actions);

    message_ = new QLabel(this);
    message_->setAccessibleName(tr("Import status"));
    message_->setWordWrap(true);
    message_->setTextFormat(Qt::PlainText);
    ui::setTextStyle(message_, ui::TextStyle::caption);
    message_->hide();
    column->addWidget(message_);
}

void PagePicker::setFileChooser(FileChooser chooser) {
    fileChooser_ = std::move(chooser);
}

void PagePicker::setCaptureSheetOpener(CaptureSheetOpener opener) {
    captureSheetOpener_ = std::move(opener);
    captureButton_->setEnabled(bool(captureSheetOpener_));
}

void PagePicker::showCurrentPage() {
    if (!session_) {
        return;
    }
    const std::optional<CurrentPage>& current = session_->currentPage();
    currentName_->setToolTip(current ? current->displayName : QString());
    currentName_->setVisible(current.has_value());
    elideCurrentName();
    for (PageThumbnail* thumbnail : thumbnails_) {
        thumbnail->setSelected(current && current->pageId == thumbnail->page().pageId);
    }
}

void PagePicker::elideCurrentName() {
    currentName_->setText(currentName_->fontMetrics().elidedText(currentName_->toolTip(), Qt::ElideMiddle,
                                                                 currentName_->width()));
}

bool PagePicker::eventFilter(QObject* watched, QEvent* event) {
    if (watched == currentName_ && event->type() == QEvent::Resize) {
        elideCurrentName();
    }
    return QWidget::eventFilter(watched, event);
}

void PagePicker::announce(const CurrentPage& page) {
    if (!session_) {
        return;
    }
    session_->setCurrentPage(page);
    session_->send(ClientMessage::setPage(toWirePage(page)));
}

void PagePicker::choose(const CurrentPage& page) {
    dropPendingImport();
    message_->hide();
    announce(page);
}

void PagePicker::startImport() {
    if (!fileChooser_) {
        return;
    }
    const QPointer<PagePicker> self(this);
    fileChooser_(this, [self](const QString& path) {
        if (self && !path.isEmpty()) {
            self->importFile(path);
        }
    });
}

// Decoding a large photo takes longer than a frame, so it runs on the thread pool; the result
// comes back through a watcher this picker owns, which goes with it.
void PagePicker::importFile(const QString& path) {
    dropPendingImport();
    const QString fileName = QFileInfo(path).fileName();
    auto* watcher = new ImportWatcher(this);
    pendingImport_ = watcher;
    connect(watcher, &ImportWatcher::finished, this, [this, watcher, fileName] {
        watcher->deleteLater();
        if (pendingImport_ != watcher) {
            return;
        }
        pendingImport_ = nullptr;
        importButton_->setEnabled(true);
        finishImport(fileName, watcher->result());
    });
    importButton_->setEnabled(false);
    showMessage(tr("Preparing “%1”…").arg(fileName), false);
    watcher->setFuture(QtConcurrent::run(LineArtExtractor::loadColoringPage, path));
}

void PagePicker::finishImport(const QString& fileName, const LoadResult& result) {
    if (!result.png) {
        qWarning().noquote() << QStringLiteral("Failed to load coloring page ") + fileName;
        showMessage(refusalText(fileName, result), true);
        return;
    }
    message_->hide();
    announce(CurrentPage{QStringLiteral("import-") + upperCaseUuid(), QFileInfo(fileName).completeBaseName(),
                         *result.png});
}

// A page chosen while a file is still being prepared wins over that file.
void PagePicker::dropPendingImport() {
    if (pendingImport_) {
        pendingImport_ = nullptr;
        importButton_->setEnabled(true);
        message_->hide();
    }
}

void PagePicker::openCaptureSheet() {
    if (!captureSheetOpener_) {
        return;
    }
    const QPointer<PagePicker> self(this);
    captureSheetOpener_(this, [self](const QByteArray& png) {
        if (self) {
            self->choose(CurrentPage{QStringLiteral("capture-") + upperCaseUuid(), tr("Captured"), png});
        }
    });
}

void PagePicker::clearCanvas() {
    if (!session_) {
        return;
    }
    // It erases everybody's drawing: with others in the room, ask first, naming them.
    QStringList others;
    const PeerNameMap& names = session_->peerNameById();
    for (auto it = names.cbegin(); it != names.cend(); ++it) {
        if (it.key() != session_->currentUserId()) others << it.value();
    }
    if (others.isEmpty()) {
        clearForEveryone();
        return;
    }
    others.sort(Qt::CaseInsensitive);
    QStringList everyone = QStringList{tr("you")} + others;
    const QString last = everyone.takeLast();
    auto* box =
        new QMessageBox(QMessageBox::Question, tr("Clear canvas"),
                        tr("Clear the canvas for %1 and %2?").arg(everyone.join(QStringLiteral(", ")), last),
                        QMessageBox::NoButton, this);
    box->setInformativeText(tr("Their drawing is erased too."));
    QPushButton* clear = box->addButton(tr("Clear"), QMessageBox::DestructiveRole);
    box->setDefaultButton(box->addButton(QMessageBox::Cancel));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    connect(box, &QMessageBox::buttonClicked, this, [this, clear](QAbstractButton* button) {
        if (button == clear) clearForEveryone();
    });
    box->open();
}

void PagePicker::clearForEveryone() {
    if (!session_) {
        return;
    }
    session_->publishCanvasEvent(CanvasEvent{CanvasEvent::CanvasCleared{}});
    session_->send(ClientMessage::clearCanvas());
}

void PagePicker::showMessage(const QString& text, bool isError) {
    QPalette palette = message_->palette();
    palette.setColor(QPalette::WindowText, isError ? ui::destructiveColor() : ui::secondaryTextColor());
    message_->setPalette(palette);
    message_->setText(text);
    message_->show();
}

}  // namespace vellumora
