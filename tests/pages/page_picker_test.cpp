// The page picker on Ann's side of a room on a real vellumora-server; Bob's session shows what
// reached the room.

#include "pages/page_picker.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "pages/page_library.h"
#include "pages/page_thumbnail.h"
#include "support/qt_printers.h"
#include "support/qt_test_app.h"
#include "support/room_pair.h"
#include "support/server_process.h"
#include "support/test_images.h"
#include "support/warning_capture.h"

namespace vellumora {
namespace {

const QString kImport = QStringLiteral("Import coloring page…");
const QString kCapture = QStringLiteral("Capture sketch from camera");
const QString kClear = QStringLiteral("Clear canvas");
const QString kUuid = QStringLiteral("[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$");

CurrentPage builtIn(int index) {
    return PageLibrary::builtIn().at(index);
}

class PagePickerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        server = std::make_unique<testing::ServerProcess>(
            testing::ServerProcess::Options{{"--auth-rate-limit", "0"}, {}, 0});
    }
    static void TearDownTestSuite() { server.reset(); }

    void SetUp() override {
        pair = std::make_unique<testing::RoomPair>(QUrl(QString::fromStdString(server->baseUrl())));
        ASSERT_TRUE(pair->ready());
        showPicker(pair->ann());
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
    bool bobHasSeen(std::size_t pages) {
        return testing::runUntil([&] { return pair->bobPages.size() == pages; });
    }

    testing::TestAppScope app;
    static inline std::unique_ptr<testing::ServerProcess> server;
    std::unique_ptr<testing::RoomPair> pair;
    std::unique_ptr<PagePicker> picker;
    QString nextFile;
    QTemporaryDir dir;
};

TEST_F(PagePickerTest, pagesAreChosenByPointerOrKeyboardMarkedSentAndMovedByAPeerAndClearReachesTheRoom) {
    thumbnail("Blank Paper")->click();
    ASSERT_TRUE(bobHasSeen(1));
    EXPECT_EQ(pair->ann().currentPage(), builtIn(0));
    EXPECT_EQ(pair->bobPages.back(), (WirePage{"blank", "Blank Paper", "image/png", ""}));

    thumbnail("Mandala")->click();
    ASSERT_TRUE(bobHasSeen(2));
    EXPECT_EQ(pair->bobPages.back()->imageBase64, builtIn(1).imageData->toBase64().toStdString());
    EXPECT_TRUE(thumbnail("Mandala")->isSelected());
    EXPECT_FALSE(thumbnail("Blank Paper")->isSelected());
    EXPECT_EQ(child<QLabel>("Current page")->text(), "Mandala");

    pair->bob().setCurrentPage(builtIn(3));
    pair->bob().network().send(ClientMessage::setPage(toWirePage(builtIn(3))));
    ASSERT_TRUE(testing::runUntil([&] { return pair->ann().currentPage() == builtIn(3); }));
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
    EXPECT_EQ(pair->ann().currentPage(), builtIn(2));

    // The local clear does not wait for the room, so it works without one as well.
    child(kClear)->click();
    EXPECT_EQ(pair->annClears, 1);
    ASSERT_TRUE(testing::runUntil([&] { return pair->bobClears == 1; }));
}

TEST_F(PagePickerTest, unusableFilesAreRefusedWithTheirReasonAndAGoodOneArrivesAsLineArtAtPageSize) {
    thumbnail("Tulip")->click();
    const QByteArray png = testing::encodeImage(testing::paperWithBlock({300, 200}), "png");
    const QByteArray jpeg = testing::encodeImage(testing::paperWithBlock({300, 200}), "jpeg");
    const auto size = [](const char* text) {
        return QString(text).replace(' ', QChar(0xA0));
    };  // never wrapped
    const struct {
        QString name;
        std::optional<QByteArray> bytes;  // none: the file is gone by the time it is read
        QString reason;
    } cases[] = {
        {"notes.png", QByteArray("Shopping: paper, crayons, glue.\n"), "It is not a PNG or JPG image."},
        {"cut.png", png.left(png.size() / 2), "The image is damaged or incomplete."},
        {"cut.jpg", jpeg.left(jpeg.size() * 2 / 3), "The image is damaged or incomplete."},
        {"dot.png", testing::encodeImage(QImage(1, 1, QImage::Format_RGB32), "png"),
         "At " + size("1 × 1 pixels") + " the image is too small to colour."},
        {"huge.png", testing::hugePng(30000, 30000),
         "At " + size("30000 × 30000 pixels") + " the image is too large to open."},
        {"gone.png", std::nullopt, "The file could not be read."},
    };
    nextFile.clear();  // the user cancels the file dialog
    child(kImport)->click();
    EXPECT_TRUE(child(kImport)->isEnabled() && message()->isHidden());

    testing::WarningCapture log;
    for (const auto& c : cases) {
        const QString path = dir.filePath(c.name);
        ASSERT_TRUE(!c.bytes || testing::writeFile(path, *c.bytes));
        ASSERT_TRUE(importFile(path)) << c.name.toStdString();
        EXPECT_TRUE(message()->isVisible() && log.take().contains("Failed to load coloring page " + c.name));
        EXPECT_EQ(message()->text(), "“" + c.name + "” could not be used. " + c.reason);
        EXPECT_EQ(pair->ann().currentPage(), builtIn(2)) << c.name.toStdString();
    }

    // Had anything been sent, Bob would see it before this photo, named without its last extension.
    ASSERT_TRUE(importFile(photo("Dragon.in.socks.jpg")));
    EXPECT_TRUE(message()->isHidden());
    ASSERT_TRUE(bobHasSeen(2));
    EXPECT_EQ(pair->bobPages[0]->pageId, "flower");
    const CurrentPage page = pair->bob().currentPage().value();
    EXPECT_EQ(pair->ann().currentPage(), page);
    EXPECT_EQ(page.displayName, "Dragon.in.socks");
    EXPECT_TRUE(QRegularExpression("^import-" + kUuid).match(page.pageId).hasMatch())
        << page.pageId.toStdString();
    const QImage lines = testing::decodedPng(page.imageData);
    ASSERT_EQ(lines.size(), QSize(1400, 1050));
    EXPECT_EQ(qAlpha(testing::pixelAt(lines, testing::kPaperAt)), 0);
    EXPECT_EQ(testing::pixelAt(lines, testing::kInkAt), qRgba(0, 0, 0, 255));
}

TEST_F(PagePickerTest, aPageChosenDuringAnImportWinsAClosedPickerDropsItsImportAndScansBecomePages) {
    nextFile = photo("Dragon Sketch.jpg");
    child(kImport)->click();
    EXPECT_EQ(message()->text(), "Preparing “Dragon Sketch.jpg”…");
    thumbnail("Blank Paper")->click();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();  // delivers the finished import
    EXPECT_EQ(pair->ann().currentPage(), builtIn(0));
    EXPECT_TRUE(child(kImport)->isEnabled());

    child(kImport)->click();
    picker.reset();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(pair->ann().currentPage(), builtIn(0));  // a page is always made current before it is sent

    showPicker(pair->ann());
    EXPECT_FALSE(child(kCapture)->isEnabled());  // nothing to open the camera with yet
    std::function<void(const QByteArray&)> deliver;
    picker->setCaptureSheetOpener([&](QWidget*, auto onCaptured) { deliver = std::move(onCaptured); });
    child(kCapture)->click();
    ASSERT_TRUE(deliver);
    QStringList ids;
    for (const QByteArray& scan : {QByteArray("first scan"), QByteArray("second scan")}) {
        deliver(scan);
        const CurrentPage page = pair->ann().currentPage().value();
        EXPECT_TRUE(QRegularExpression("^capture-" + kUuid).match(page.pageId).hasMatch());
        EXPECT_EQ(page.displayName, "Captured");
        EXPECT_EQ(page.imageData, scan);
        ids << page.pageId;
    }
    EXPECT_NE(ids[0], ids[1]);
    ASSERT_TRUE(bobHasSeen(3));
    EXPECT_EQ(QString::fromStdString(pair->bobPages[2]->pageId), ids[1]);
}

}  // namespace
}  // namespace vellumora
