#include <QImage>
#include <QPixmap>

#include <functional>

#include <gtest/gtest.h>

#include "ui/symbol_icons.h"

namespace vellumora::ui {
namespace {

int inked(const QImage& image, const std::function<void(QRgb)>& check = {}) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) == 255) {
                ++n;
                if (check) check(image.pixel(x, y));
            }
        }
    }
    return n;
}

// Every symbol draws something (a missing one would be a blank button), the five brushes are
// told apart, and a tint reaches every inked pixel.
TEST(SymbolIcons, drawEverySymbolTellTheBrushesApartAndTakeTheTint) {
    installIconTheme();
    for (const QString& symbol : knownSymbols()) {
        EXPECT_GT(inked(symbolIcon(symbol).pixmap(24, 24).toImage()), 10)
            << symbol.toStdString() << " -> " << themeIconName(symbol).toStdString();
    }
    EXPECT_TRUE(symbolIcon("no.such.symbol").isNull());

    std::vector<QImage> brushes;
    for (const char* brush :
         {"highlighter", "pencil", "paintbrush.pointed.fill", "pencil.tip.crop.circle.fill", "paintbrush"}) {
        brushes.push_back(symbolIcon(brush).pixmap(24, 24).toImage());
        for (std::size_t other = 0; other + 1 < brushes.size(); ++other) {
            EXPECT_NE(brushes[other], brushes.back()) << brush;
        }
    }

    const QImage red = symbolIcon("camera.fill", QColor(255, 0, 0)).pixmap(32, 32).toImage();
    EXPECT_GT(inked(red, [](QRgb px) { EXPECT_EQ(qRgb(qRed(px), qGreen(px), qBlue(px)), qRgb(255, 0, 0)); }),
              20);
}

}  // namespace
}  // namespace vellumora::ui
