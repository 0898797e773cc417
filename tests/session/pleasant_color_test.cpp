#include <QRegularExpression>

#include <gtest/gtest.h>

#include <set>

#include "support/qt_printers.h"
#include "session/pleasant_color.h"

namespace vellumora {
namespace {

void expectPleasant(const QString& hex) {
    static const QRegularExpression form(QStringLiteral("^#[0-9A-F]{6}$"));
    ASSERT_TRUE(form.match(hex).hasMatch()) << hex.toStdString();
    for (int i = 0; i < 3; ++i) {
        const int channel = hex.mid(1 + 2 * i, 2).toInt(nullptr, 16);
        EXPECT_GE(channel, 0x41) << hex.toStdString();
        EXPECT_LE(channel, 0xD6) << hex.toStdString();
    }
}

TEST(PleasantColor, matchesTheKnownHues) {
    EXPECT_EQ(pleasantColorHex(0.0), "#D64141");
    EXPECT_EQ(pleasantColorHex(0.25), "#8CD641");
    EXPECT_EQ(pleasantColorHex(0.5), "#41D6D6");
    EXPECT_EQ(pleasantColorHex(0.75), "#8C41D6");
}

TEST(PleasantColor, everyHueStaysFairlySaturatedAndMediumLight) {
    for (int i = 0; i < 4096; ++i) {
        expectPleasant(pleasantColorHex(i / 4096.0));
    }
    expectPleasant(pleasantColorHex(0.9999999999));
}

TEST(PleasantColor, randomColoursAreWellFormedAndVaried) {
    std::set<QString> seen;
    for (int i = 0; i < 500; ++i) {
        const QString hex = randomPleasantColorHex();
        expectPleasant(hex);
        seen.insert(hex);
    }
    EXPECT_GT(seen.size(), 100U);
}

}  // namespace
}  // namespace vellumora
