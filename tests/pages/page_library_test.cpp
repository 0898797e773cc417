#include "pages/page_library.h"

#include <gtest/gtest.h>

#include "support/qt_printers.h"
#include "support/test_images.h"

namespace vellumora {
namespace {

constexpr int kSide = PageLibrary::kPageSide;

TEST(PageLibrary, listsBlankPaperAndTheThreeDrawingsAsTransparentSquaresInTheInkColour) {
    const QList<CurrentPage> pages = PageLibrary::builtIn();
    ASSERT_EQ(pages.size(), 4);
    const QStringList ids{"blank", "mandala", "flower", "cottage"};
    const QRgb ink =
        QColor::fromRgbF(PageLibrary::kInkRed, PageLibrary::kInkGreen, PageLibrary::kInkBlue).rgb();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(pages[i].pageId, ids[i]);
        EXPECT_EQ(pages[i].imageData.has_value(), i != 0);
        if (i == 0) continue;
        const QImage image = testing::decodedPng(pages[i].imageData);
        ASSERT_EQ(image.size(), QSize(kSide, kSide));
        int inked = 0, offColour = 0;
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x) {
                const QRgb px = image.pixel(x, y);
                inked += qAlpha(px) > 0 ? 1 : 0;
                offColour += qAlpha(px) > 0 && (px | 0xFF000000) != ink ? 1 : 0;
            }
        EXPECT_EQ(offColour, 0) << ids[i].toStdString();
        EXPECT_GT(inked, kSide * 10) << ids[i].toStdString();
        EXPECT_LT(inked, kSide * kSide / 4) << ids[i].toStdString();  // mostly transparent
    }
}

}  // namespace
}  // namespace vellumora
