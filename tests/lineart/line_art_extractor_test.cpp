#include "lineart/line_art_extractor.h"

#include <QBuffer>
#include <QImageWriter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/qt_printers.h"
#include "support/test_images.h"

namespace vellumora {
namespace {

namespace lae = LineArtExtractor;
using testing::kInkAt;
using testing::kPaperAt;
using testing::pixelAt;

class LoadColoringPage : public ::testing::Test {
  protected:
    lae::LoadResult load(const QByteArray& bytes, const QString& name) {
        EXPECT_TRUE(testing::writeFile(dir.filePath(name), bytes));
        return lae::loadColoringPage(dir.filePath(name));
    }
    QTemporaryDir dir;
};

TEST_F(LoadColoringPage, aLargePhotoIsTurnedByItsExifOrientationAndCappedOnItsLongestSide) {
    // Stored 3000 × 2000 with the ink in the top-left corner, to be shown turned a quarter clockwise.
    QImage stored(3000, 2000, QImage::Format_RGB32);
    stored.fill(Qt::white);
    for (int y = 0; y < 500; ++y)
        for (int x = 0; x < 500; ++x) stored.setPixel(x, y, qRgb(0, 0, 0));
    const lae::LoadResult result =
        load(testing::withExifOrientation(testing::encodeImage(stored, "jpeg"), 6), "photo.jpg");
    const QImage page = testing::decodedPng(result.png);
    EXPECT_EQ(result.imageSize, QSize(2000, 3000));
    ASSERT_EQ(page.size(), QSize(933, 1400));
    EXPECT_EQ(pixelAt(page, {0.95, 0.05}), qRgba(0, 0, 0, 255));  // the corner is now top-right
    EXPECT_EQ(qAlpha(pixelAt(page, {0.05, 0.05})), 0);
}

// Valid pictures in encodings unusual for a downloaded page import like any other. A JPEG
// decoder fills a file that ends early with grey; such a page must be refused, while data after
// the end of a complete picture (camera trailers, appended video) does no harm.
TEST_F(LoadColoringPage, validEncodingsImportAsLineArtButAJpegThatEndsEarlyIsRefused) {
    const QImage picture = testing::paperWithBlock({400, 300});
    const auto png = [&](QImage::Format format) {
        return testing::encodeImage(picture.convertToFormat(format), "png");
    };
    // Paper stored as transparent black: only the alpha channel tells it from ink.
    QImage clearPaper = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < clearPaper.height(); ++y)
        for (int x = 0; x < clearPaper.width(); ++x)
            if (qRed(clearPaper.pixel(x, y))) clearPaper.setPixel(x, y, 0);
    const QByteArray baseline = testing::encodeImage(picture, "jpeg");
    QByteArray progressive;
    QBuffer buffer(&progressive);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    ASSERT_TRUE(writer.write(picture));
    const QByteArray trailer = QByteArray(64, '\xFF') + QByteArray("\xFF\xDA\x00\x08 video \xFF\xC4", 14);
    const struct {
        const char* name;
        QByteArray bytes;
        bool usable;
    } cases[] = {
        {"jpeg-named.png", baseline, true},
        {"rgba16.png", png(QImage::Format_RGBA64), true},
        {"grey16.png", png(QImage::Format_Grayscale16), true},
        {"clear-paper.png", testing::encodeImage(clearPaper, "png"), true},
        {"progressive.jpg", progressive, true},
        {"trailer.jpg", baseline + trailer, true},
        {"cut-in-the-last-scan.jpg", baseline.left(baseline.size() - 40), false},
        {"progressive-cut-halfway.jpg", progressive.left(progressive.size() / 2), false},
        {"no-end-marker.jpg", baseline.left(baseline.size() - 2), false},
    };
    for (const auto& c : cases) {
        const lae::LoadResult result = load(c.bytes, c.name);
        ASSERT_EQ(result.png.has_value(), c.usable) << c.name;
        if (!c.usable) {
            EXPECT_EQ(result.failure, lae::LoadFailure::damaged) << c.name;
            continue;
        }
        const QImage page = testing::decodedPng(result.png);
        ASSERT_EQ(page.size(), picture.size()) << c.name;
        EXPECT_EQ(qAlpha(pixelAt(page, kPaperAt)), 0) << c.name;
        EXPECT_EQ(pixelAt(page, kInkAt), qRgba(0, 0, 0, 255)) << c.name;
    }
}

}  // namespace
}  // namespace vellumora
