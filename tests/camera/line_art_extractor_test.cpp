#include "camera/line_art_extractor.h"

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

QImage decodedPage(const lae::LoadResult& result) {
    return result.png ? QImage::fromData(*result.png, "PNG").convertToFormat(QImage::Format_ARGB32)
                      : QImage();
}

QRgb pixelAt(const QImage& image, QPointF fraction) {
    return image.pixel(int(fraction.x() * image.width()), int(fraction.y() * image.height()));
}

class LoadColoringPage : public ::testing::Test {
  protected:
    lae::LoadResult load(const QString& name, const QByteArray& bytes) {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(testing::writeFile(path, bytes));
        return lae::loadColoringPage(path);
    }
    QTemporaryDir dir;
};

TEST(WhiteToAlpha, everyPixelTurnsBlackWithTheOpacityOfItsDarkness) {
    struct Case {
        const char* what;
        QColor in;
        int alpha;
    };
    // Contrast 1.2 around mid grey first, then alpha = A × (1 − grey).
    const Case cases[] = {
        {"white paper", QColor(255, 255, 255), 0},
        {"paper a little off white", QColor(240, 240, 240), 0},
        {"black line", QColor(0, 0, 0), 255},
        {"line a little off black", QColor(15, 15, 15), 255},
        {"mid grey", QColor(128, 128, 128), 127},
        {"red, by its luma", QColor(255, 0, 0), 189},
        {"transparent white", QColor(255, 255, 255, 0), 0},
        {"transparent black", QColor(0, 0, 0, 0), 0},
        {"half-transparent black", QColor(0, 0, 0, 128), 128},
    };
    QImage in(int(std::size(cases)), 1, QImage::Format_ARGB32);
    for (int i = 0; i < in.width(); ++i) in.setPixelColor(i, 0, cases[i].in);
    const QImage out = lae::whiteToAlpha(in).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(out.size(), in.size());
    for (int i = 0; i < in.width(); ++i) {
        const QRgb px = out.pixel(i, 0);
        EXPECT_NEAR(qAlpha(px), cases[i].alpha, 1) << cases[i].what;
        EXPECT_EQ(qRgb(qRed(px), qGreen(px), qBlue(px)), qRgb(0, 0, 0)) << cases[i].what;
    }
}

TEST_F(LoadColoringPage, aLargePhotoIsTurnedByItsExifOrientationAndCappedOnItsLongestSide) {
    // Stored 3000 × 2000 with the ink in the top-left corner, to be shown turned a quarter clockwise.
    QImage stored(3000, 2000, QImage::Format_RGB32);
    stored.fill(Qt::white);
    for (int y = 0; y < 500; ++y)
        for (int x = 0; x < 500; ++x) stored.setPixel(x, y, qRgb(0, 0, 0));
    const auto result =
        load("turned.jpg", testing::withExifOrientation(testing::encodeImage(stored, "jpeg"), 6));
    const QImage page = decodedPage(result);
    ASSERT_FALSE(page.isNull());
    EXPECT_EQ(result.imageSize, QSize(2000, 3000));
    EXPECT_EQ(page.size(), QSize(933, 1400));
    EXPECT_EQ(pixelAt(page, {0.95, 0.05}), qRgba(0, 0, 0, 255));  // the corner is now top-right
    EXPECT_EQ(qAlpha(pixelAt(page, {0.05, 0.05})), 0);
    EXPECT_EQ(qAlpha(pixelAt(page, {0.5, 0.5})), 0);
}

// Valid pictures in encodings that are unusual for a downloaded page still import with the
// paper transparent and the lines opaque black.
TEST_F(LoadColoringPage, unusualButValidEncodingsImportWithTheirPaperTransparentAndLinesBlack) {
    const QSize size(120, 80);
    const QImage picture = testing::paperWithBlock(size);
    struct Case {
        const char* name;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"jpeg-named.png", testing::encodeImage(picture, "jpeg")},
        {"rgba16.png", testing::rawPng(size.width(), size.height(), 6, 16, testing::rawRows(picture, 6, 16))},
        {"grey16.png", testing::rawPng(size.width(), size.height(), 0, 16, testing::rawRows(picture, 0, 16))},
        {"grey-alpha.png",
         testing::rawPng(size.width(), size.height(), 4, 8, testing::rawRows(picture, 4, 8))},
        {"cmyk.jpg", testing::cmykJpeg(picture)},
    };
    for (const Case& c : cases) {
        const auto result = load(c.name, c.bytes);
        const QImage page = decodedPage(result);
        ASSERT_FALSE(page.isNull()) << c.name;
        EXPECT_EQ(page.size(), size) << c.name;
        EXPECT_EQ(qAlpha(pixelAt(page, kPaperAt)), 0) << c.name;
        EXPECT_EQ(pixelAt(page, kInkAt), qRgba(0, 0, 0, 255)) << c.name;
    }
}

// A JPEG decoder fills a file that ends early with grey; such a page must be refused, while
// data after the end of a complete picture (camera trailers, appended video) is no harm.
TEST_F(LoadColoringPage, aJpegThatEndsEarlyIsRefusedButTrailingDataIsNot) {
    const QImage picture = testing::paperWithBlock({400, 300});
    const QByteArray baseline = testing::encodeImage(picture, "jpeg");
    QByteArray progressive;
    {
        QBuffer buffer(&progressive);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setProgressiveScanWrite(true);
        ASSERT_TRUE(writer.write(picture));
    }
    QByteArray trailer;
    for (int i = 0; i < 4096; ++i) trailer += char(i % 7 == 0 ? 0xFF : i % 5 == 0 ? 0xDA : i);
    struct Case {
        const char* what;
        QByteArray bytes;
        bool usable;
    };
    const Case cases[] = {
        {"baseline", baseline, true},
        {"progressive", progressive, true},
        {"baseline with a trailer", baseline + trailer, true},
        {"cut in the last scan", baseline.left(baseline.size() - 40), false},
        {"cut halfway", baseline.left(baseline.size() / 2), false},
        {"progressive cut halfway", progressive.left(progressive.size() / 2), false},
        {"only the end marker missing", baseline.left(baseline.size() - 2), false},
    };
    for (const Case& c : cases) {
        const auto result = load("page.jpg", c.bytes);
        EXPECT_EQ(result.png.has_value(), c.usable) << c.what;
        if (!c.usable) {
            EXPECT_EQ(result.failure, lae::LoadFailure::damaged) << c.what;
        }
    }
}

}  // namespace
}  // namespace vellumora
