// vellumora-scan as a user runs it: a separate process, files in, JSON lines and PNGs out.

#include "scene_images.h"
#include "support/qt_test_app.h"

#include <QBuffer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTransform>

#include <gtest/gtest.h>

namespace vellumora {
namespace {

struct ScanRun {
    int exitCode;
    QByteArray out;
    QByteArray err;
};

ScanRun scan(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(VELLUMORA_SCAN_BINARY), arguments);
    EXPECT_TRUE(process.waitForFinished(120000));
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

struct ScanToolTest : ::testing::Test {
    testing::TestAppScope app;
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }
};

TEST_F(ScanToolTest, detectPrintsOneLinePerImageAndFailsForUnreadableOnes) {
    synthetic::SceneParameters p;
    p.rotation = 9;
    p.seed = 4;
    const auto scene = synthetic::renderScene(p);
    ASSERT_TRUE(testing::toImage(scene.image).save(path("page.png")));
    p.withPage = false;
    ASSERT_TRUE(testing::sceneImage(p).save(path("desk.png")));
    QFile junk(path("junk.png"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not an image");
    junk.close();

    const ScanRun run = scan({"detect", path("page.png"), path("junk.png"), path("desk.png")});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(run.err.contains("junk.png")) << run.err.toStdString();
    const QList<QByteArray> lines = run.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2) << run.out.toStdString();

    const QJsonObject page = QJsonDocument::fromJson(lines[0]).object();
    EXPECT_EQ(page["image"].toString(), path("page.png"));
    const QJsonArray corners = page["corners"].toArray();
    ASSERT_EQ(corners.size(), 4);
    for (int i = 0; i < 4; ++i) {
        const cv::Point2d c(corners[i].toArray()[0].toDouble(), corners[i].toArray()[1].toDouble());
        EXPECT_LT(cv::norm(c - scene.corners[i]), 4.0) << "corner " << i;
    }
    const QJsonObject desk = QJsonDocument::fromJson(lines[1]).object();
    EXPECT_EQ(desk["image"].toString(), path("desk.png"));
    EXPECT_TRUE(desk["corners"].isNull());
}

TEST_F(ScanToolTest, cornersAreThoseOfTheImageAsDisplayed) {
    synthetic::SceneParameters p;
    p.frame = cv::Size(960, 720);
    p.rotation = -6;
    p.seed = 12;
    const auto scene = synthetic::renderScene(p);
    // Stored on its side, as phones do, with an EXIF note to turn it a quarter clockwise.
    const QImage upright = testing::toImage(scene.image);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(upright.transformed(QTransform().rotate(-90)).save(&buffer, "JPEG", 95));
    // APP1 "Exif", little-endian TIFF with one entry: Orientation (0x0112), SHORT, 6.
    const QByteArray exif = QByteArray::fromHex(
        "ffe10022457869660000"
        "49492a0008000000"
        "0100"
        "120103000100000006000000"
        "00000000");
    jpeg.insert(2, exif);  // right after the start-of-image marker
    QFile file(path("phone.jpg"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(jpeg);
    file.close();

    const ScanRun run = scan({"detect", path("phone.jpg")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonArray corners = QJsonDocument::fromJson(run.out).object()["corners"].toArray();
    ASSERT_EQ(corners.size(), 4);
    for (int i = 0; i < 4; ++i) {
        const cv::Point2d c(corners[i].toArray()[0].toDouble(), corners[i].toArray()[1].toDouble());
        EXPECT_LT(cv::norm(c - scene.corners[i]), 5.0) << "corner " << i;
    }
}

TEST_F(ScanToolTest, extractWritesThePageAndFailsWithoutInput) {
    synthetic::SceneParameters p;
    p.seed = 5;
    ASSERT_TRUE(testing::sceneImage(p).save(path("page.png")));
    const ScanRun ok = scan({"extract", path("page.png"), path("out.png")});
    ASSERT_EQ(ok.exitCode, 0) << ok.err.toStdString();
    const QImage page(path("out.png"));
    ASSERT_FALSE(page.isNull());
    EXPECT_TRUE(page.hasAlphaChannel());
    EXPECT_LT(page.width(), page.height()) << "the portrait sheet, cut out of the landscape frame";

    const ScanRun missing = scan({"extract", path("absent.png"), path("out2.png")});
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_TRUE(missing.err.contains("absent.png"));
    EXPECT_FALSE(QFile::exists(path("out2.png")));

    EXPECT_NE(scan({"extract", path("page.png")}).exitCode, 0) << "usage error";
}

}  // namespace
}  // namespace vellumora
