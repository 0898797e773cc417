// The page picker in a room on a real vellumora-server; a second connection shows what reached
// the room.

#include "pages/views/page_picker.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "pages/page_library.h"
#include "pages/views/page_thumbnail.h"
#include "session/session_model.h"
#include "support/qt_printers.h"
#include "support/qt_test_app.h"
#include "support/test_accounts.h"
#include "support/test_images.h"

namespace vellumora {
namespace {

const QString kImport = QStringLiteral("Import coloring page…");
const QString kCapture = QStringLiteral("Capture sketch from camera");
const QString kClear = QStringLiteral("Clear canvas");
const QString kUuid = QStringLiteral("[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$");

CurrentPage builtIn(int index) {
    return PageLibrary::builtIn().at(index);
}

// Imports run one at a time, so a decoder's own warnings from its thread are in before the
// picker's, and nothing is written while the test reads.
QStringList logged;
void keepWarning(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtWarningMsg) logged << text;
}

// Ann in her sketchbook on two devices: the picker is on the first, what reaches the second
// through the room is recorded.
class PagePickerTest : public testing::SharedServerTest {
  protected:
    void SetUp() override {
        for (SessionModel* session : {&annSession, &second}) {
            QObject::connect(session, &SessionModel::canvasEvents, [this, session](const CanvasEvent& e) {
                clears += std::holds_alternative<CanvasEvent::CanvasCleared>(e.value) ? 1 : 0;
                if (const auto* page = std::get_if<CanvasEvent::PageChanged>(&e.value);
                    page && session == &second)
                    secondPages.push_back(page->page);
            });
            session->setCurrentUser(ann.user());
            session->setCurrentToken(ann.token());
            session->switchRoom("solo:" + ann.user().id, "My sketchbook");
        }
        ASSERT_TRUE(
            testing::runUntil([&] { return annSession.peerCount() == 1 && second.peerCount() == 1; }));
        showPicker(annSession);
    }
    void showPicker(SessionModel& session) {
        picker = std::make_unique<PagePicker>(session);
        picker->setFileChooser([this](QWidget*, auto onChosen) { onChosen(nextFile); });
        picker->show();
    }

    template <class T = QPushButton>
    T* child(const QString& accessibleName) {
        for (T* widget : picker->findChildren<T*>())
            if (widget->accessibleName() == accessibleName) return widget;
        throw std::runtime_error("no control named " + accessibleName.toStdString());
    }
    QLabel* message() { return child<QLabel>(QStringLiteral("Import status")); }
    PageThumbnail* thumbnail(const QString& name) { return child<PageThumbnail>(name); }

    // Imports through the import button, the chooser answering `path`; true once it is over.
    bool importFile(const QString& path) {
        nextFile = path;
        child(kImport)->click();
        return testing::runUntil([&] { return child(kImport)->isEnabled(); });
    }
    // A phone photo of a page: 4032 × 3024, as a 12-megapixel camera takes it.
    QString photo(const QString& name) {
        const QString path = dir.filePath(name);
        testing::writeFile(path, testing::encodeImage(testing::paperWithBlock({4032, 3024}), "jpeg"));
        return path;
    }
    bool secondHasSeen(std::size_t pages) {
        return testing::runUntil([&] { return secondPages.size() == pages; });
    }

    testing::TestAccount ann{base(), "ann"};
    SessionModel annSession{base()};
    SessionModel second{base()};
    std::vector<std::optional<WirePage>> secondPages;
    int clears = 0;  // told to either canvas
    std::unique_ptr<PagePicker> picker;
    QString nextFile;
    QTemporaryDir dir;
};

TEST_F(PagePickerTest, pagesAreChosenByPointerOrKeyboardMarkedSentAndMovedByAPeerAndAClearOfOthersWorkAsksFirst) {
    thumbnail("Blank Paper")->click();
    thumbnail("Mandala")->click();
    ASSERT_TRUE(secondHasSeen(2));
    EXPECT_EQ(secondPages.back(), toWirePage(builtIn(1)));
    EXPECT_TRUE(thumbnail("Mandala")->isSelected());
    EXPECT_FALSE(thumbnail("Blank Paper")->isSelected());
    EXPECT_EQ(child<QLabel>("Current page")->text(), "Mandala");

    second.setCurrentPage(builtIn(3));
    second.send(ClientMessage::setPage(toWirePage(builtIn(3))));
    ASSERT_TRUE(testing::runUntil([&] { return annSession.currentPage() == builtIn(3); }));
    EXPECT_TRUE(thumbnail("Cottage")->isSelected());
    EXPECT_FALSE(thumbnail("Mandala")->isSelected());
    EXPECT_EQ(child<QLabel>("Current page")->text(), "Cottage");

    picker->setCaptureSheetOpener([](QWidget*, auto) {});
    thumbnail("Blank Paper")->setFocus();
    QStringList reached;
    for (int i = 0; i < 7; ++i, QTest::keyClick(picker->focusWidget(), Qt::Key_Tab))
        reached << picker->focusWidget()->accessibleName();
    EXPECT_EQ(reached,
              QStringList({"Blank Paper", "Mandala", "Tulip", "Cottage", kImport, kCapture, kClear}));
    QTest::keyClick(thumbnail("Tulip"), Qt::Key_Return);
    EXPECT_EQ(annSession.currentPage(), builtIn(2));

    // The local clear does not wait for the room, so it works without one as well.
    child(kClear)->click();
    EXPECT_EQ(clears, 1);
    ASSERT_TRUE(testing::runUntil([&] { return clears == 2; }));

    // With someone else in the room it erases their work too: it asks first, naming them.
    annSession.handleNetworkEvent(NetworkEvent{NetworkEvent::PeerJoined{{"u2", "Bo", "#222222"}}});
    for (const QMessageBox::ButtonRole answer : {QMessageBox::RejectRole, QMessageBox::DestructiveRole}) {
        child(kClear)->click();
        QMessageBox* box = nullptr;
        ASSERT_TRUE(testing::runUntil([&] { return (box = picker->findChild<QMessageBox*>()); }));
        EXPECT_EQ(box->text(), "Clear the canvas for you and Bo?");
        EXPECT_EQ(clears, 2) << "cleared before the answer";
        const auto buttons = box->buttons();
        (*std::find_if(buttons.begin(), buttons.end(),
                       [&](QAbstractButton* b) { return box->buttonRole(b) == answer; }))->click();
        EXPECT_EQ(clears, answer == QMessageBox::DestructiveRole ? 3 : 2);
        ASSERT_TRUE(testing::runUntil([&] { return !picker->findChild<QMessageBox*>(); }));
    }
}

TEST_F(PagePickerTest, unusableFilesAreRefusedWithTheirReasonAndAGoodOneArrivesAsLineArtAtPageSize) {
    thumbnail("Tulip")->click();
    const QByteArray png = testing::encodeImage(testing::paperWithBlock({300, 200}), "png");
    const auto size = [](QString text) { return text.replace(' ', QChar(0xA0)); };  // never wrapped
    const struct {
        QString name;
        std::optional<QByteArray> bytes;  // none: the file is gone by the time it is read
        QString reason;
    } cases[] = {
        {"notes.png", QByteArray("Shopping: paper, crayons, glue.\n"), "It is not a PNG or JPG image."},
        {"cut.png", png.left(png.size() / 2), "The image is damaged or incomplete."},
        {"dot.png", testing::encodeImage(QImage(1, 1, QImage::Format_RGB32), "png"),
         "At " + size("1 × 1 pixels") + " the image is too small to colour."},
        {"huge.png", testing::hugePng(30000, 30000),
         "At " + size("30000 × 30000 pixels") + " the image is too large to open."},
        {"gone.png", std::nullopt, "The file could not be read."},
    };
    nextFile.clear();  // the user cancels the file dialog
    child(kImport)->click();
    EXPECT_TRUE(child(kImport)->isEnabled() && message()->isHidden());

    const QtMessageHandler previous = qInstallMessageHandler(keepWarning);
    for (const auto& c : cases) {
        const QString path = dir.filePath(c.name);
        ASSERT_TRUE(!c.bytes || testing::writeFile(path, *c.bytes));
        ASSERT_TRUE(importFile(path)) << c.name.toStdString();
        EXPECT_TRUE(message()->isVisible() && logged.contains("Failed to load coloring page " + c.name));
        EXPECT_EQ(message()->text(), "“" + c.name + "” could not be used. " + c.reason);
        EXPECT_EQ(annSession.currentPage(), builtIn(2)) << c.name.toStdString();
    }
    qInstallMessageHandler(previous);

    // Had anything been sent, it would arrive before this photo, named without its last extension.
    ASSERT_TRUE(importFile(photo("Dragon.in.socks.jpg")));
    EXPECT_TRUE(message()->isHidden());
    ASSERT_TRUE(secondHasSeen(2));
    EXPECT_EQ(secondPages[0]->pageId, "flower");
    const CurrentPage page = second.currentPage().value();
    EXPECT_EQ(annSession.currentPage(), page);
    EXPECT_EQ(page.displayName, "Dragon.in.socks");
    EXPECT_TRUE(QRegularExpression("^import-" + kUuid).match(page.pageId).hasMatch())
        << page.pageId.toStdString();
    EXPECT_EQ(testing::decodedPng(page.imageData).size(), QSize(1400, 1050)) << "the loader's line art";
}

TEST_F(PagePickerTest, aPageChosenDuringAnImportWinsAClosedPickerDropsItsImportAndScansBecomePages) {
    nextFile = photo("Dragon Sketch.jpg");
    child(kImport)->click();
    EXPECT_EQ(message()->text(), "Preparing “Dragon Sketch.jpg”…");
    thumbnail("Blank Paper")->click();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();  // delivers the finished import
    EXPECT_EQ(annSession.currentPage(), builtIn(0));
    EXPECT_TRUE(child(kImport)->isEnabled());

    child(kImport)->click();
    picker.reset();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(annSession.currentPage(), builtIn(0));  // a page is always made current before it is sent

    showPicker(annSession);
    EXPECT_FALSE(child(kCapture)->isEnabled());  // nothing to open the camera with yet
    std::function<void(const QByteArray&)> deliver;
    picker->setCaptureSheetOpener([&](QWidget*, auto onCaptured) { deliver = std::move(onCaptured); });
    child(kCapture)->click();
    ASSERT_TRUE(deliver);
    QStringList ids;
    for (const QByteArray& scan : {QByteArray("first scan"), QByteArray("second scan")}) {
        deliver(scan);
        const CurrentPage page = annSession.currentPage().value();
        EXPECT_TRUE(QRegularExpression("^capture-" + kUuid).match(page.pageId).hasMatch());
        EXPECT_EQ(page.displayName, "Captured");
        EXPECT_EQ(page.imageData, scan);
        ids << page.pageId;
    }
    EXPECT_NE(ids[0], ids[1]);
    ASSERT_TRUE(secondHasSeen(3));
    EXPECT_EQ(QString::fromStdString(secondPages[2]->pageId), ids[1]);
}

}  // namespace
}  // namespace vellumora
