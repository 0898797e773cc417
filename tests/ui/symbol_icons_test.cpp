#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>

#include "ui/symbol_icons.h"

namespace vellumora::ui {
namespace {

TEST(SymbolIcons, shouldResolveEverySymbolWithTheFallbackTheme) {
    installIconTheme();
    for (const QString& symbol : knownSymbols()) {
        const QPixmap pix = symbolIcon(symbol).pixmap(24, 24);
        ASSERT_FALSE(pix.isNull()) << symbol.toStdString() << " -> " << themeIconName(symbol).toStdString();
        const QImage image = pix.toImage();
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                opaque += qAlpha(image.pixel(x, y)) > 0;
            }
        }
        EXPECT_GT(opaque, 10) << symbol.toStdString() << " draws nothing";
    }
    EXPECT_TRUE(symbolIcon("no.such.symbol").isNull());
}

TEST(SymbolIcons, shouldDrawEachBrushDifferently) {
    installIconTheme();
    const QString brushes[] = {"highlighter", "pencil", "paintbrush.pointed.fill",
                               "pencil.tip.crop.circle.fill", "paintbrush"};
    std::vector<QImage> images;
    for (const QString& symbol : brushes) {
        images.push_back(symbolIcon(symbol).pixmap(24, 24).toImage().convertToFormat(QImage::Format_ARGB32));
    }
    for (std::size_t a = 0; a < images.size(); ++a) {
        for (std::size_t b = a + 1; b < images.size(); ++b) {
            EXPECT_NE(images[a], images[b])
                << brushes[a].toStdString() << " looks like " << brushes[b].toStdString();
        }
    }
}

TEST(SymbolIcons, shouldPaintEveryInkedPixelInTheTint) {
    installIconTheme();
    const QImage image = symbolIcon("camera.fill", QColor(255, 0, 0)).pixmap(32, 32).toImage();
    int inked = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb px = image.pixel(x, y);
            if (qAlpha(px) == 255) {
                ++inked;
                EXPECT_EQ(qRgb(qRed(px), qGreen(px), qBlue(px)), qRgb(255, 0, 0));
            }
        }
    }
    EXPECT_GT(inked, 20);
}

}  // namespace
}  // namespace vellumora::ui
