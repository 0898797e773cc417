// vellumora-scan as a user runs it: a separate process, files in, JSON lines and PNGs out.

#include "support/qt_test_app.h"
#include "support/scene_images.h"
#include "support/test_images.h"

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

void expectCorners(const QJsonValue& json, const synthetic::Scene& scene) {
    const QJsonArray corners = json.toArray();
    ASSERT_EQ(corners.size(), 4);
    for (int i = 0; i < 4; ++i) {
        const cv::Point2d c(corners[i].toArray()[0].toDouble(), corners[i].toArray()[1].toDouble());
        EXPECT_LT(cv::norm(c - scene.corners[i]), 5.0) << "corner " << i;
    }
}

// Detection and extraction are tested as a library; here what the tool adds: the orientation
// a file asks for, one JSON line per readable image, the exit status and the debug pictures.
TEST(ScanTool, detectsPagesInImagesAsDisplayedAndExtractsThem) {
    QTemporaryDir dir;
    const auto path = [&](const char* name) { return dir.filePath(name); };
    const auto scene =
        synthetic::renderScene(testing::scene(synthetic::Background::wood, -6, 0, 12, cv::Size(960, 720)));
    const QImage upright = testing::toImage(scene.image);
    // Stored on its side, as phones do, with an EXIF note to turn it a quarter clockwise.
    const QByteArray sideways = testing::encodeImage(upright.transformed(QTransform().rotate(-90)), "jpeg");
    ASSERT_TRUE(testing::writeFile(path("phone.jpg"), testing::withExifOrientation(sideways, 6)));
    ASSERT_TRUE(testing::writeFile(path("junk.png"), "not an image"));

    const ScanRun run = scan({"--debug", path("debug"), "detect", path("junk.png"), path("phone.jpg")});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(run.err.contains("junk.png")) << run.err.toStdString();
    const QList<QByteArray> lines = run.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 1) << run.out.toStdString();
    const QJsonObject page = QJsonDocument::fromJson(lines[0]).object();
    EXPECT_EQ(page["image"].toString(), path("phone.jpg"));
    expectCorners(page["corners"], scene);
    // The outlines considered, drawn over the picture as displayed, and the judgement on each.
    EXPECT_EQ(QImage(path("debug/phone.jpg.debug.png")).size(), upright.size());
    QFile judgements(path("debug/phone.jpg.debug.txt"));
    ASSERT_TRUE(judgements.open(QIODevice::ReadOnly));
    const QList<QByteArray> listed = judgements.readAll().trimmed().split('\n');
    EXPECT_GT(listed.size(), 1);
    EXPECT_TRUE(listed.last().startsWith("page ")) << listed.last().toStdString();

    const ScanRun ok = scan({"extract", path("phone.jpg"), path("out.png")});
    ASSERT_EQ(ok.exitCode, 0) << ok.err.toStdString();
    const QImage extracted(path("out.png"));
    EXPECT_TRUE(extracted.hasAlphaChannel());
    EXPECT_LT(extracted.width(), extracted.height()) << "the portrait sheet, cut out of the landscape frame";
}

}  // namespace
}  // namespace vellumora
