#include <gtest/gtest.h>

#include "support/qt_printers.h"
#include "session/current_page.h"

namespace vellumora {
namespace {

TEST(StrictBase64, acceptsOnlyPaddedTextFromTheStandardAlphabet) {
    const struct {
        const char* text;
        std::optional<QByteArray> expected;
    } cases[] = {
        {"aGVsbG8=", QByteArray("hello")},
        {"aGVsbG8h", QByteArray("hello!")},
        {"aGk=", QByteArray("hi")},
        {"aA==", QByteArray("h")},
        {"+/8=", QByteArray("\xfb\xff", 2)},
        {"", QByteArray()},
        {"aGVsbG8", std::nullopt},    // padding missing
        {"aA=", std::nullopt},        // padding short
        {"aGVsbG8==", std::nullopt},  // too much padding
        {"aG=sbG8=", std::nullopt},   // padding inside
        {"====", std::nullopt},
        {"a===", std::nullopt},
        {"aGVs\nbG8=", std::nullopt},  // line break
        {"aGVsbG8=\n", std::nullopt},
        {"aGVs bG8=", std::nullopt},  // space
        {"aGVs*G8=", std::nullopt},   // outside the alphabet
        {"-_8=", std::nullopt},       // URL-safe alphabet
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeStrictBase64(QByteArrayView(c.text)), c.expected) << '"' << c.text << '"';
    }
}

TEST(PageConversions, aWirePageBecomesACurrentPage) {
    const struct {
        const char* base64;
        std::optional<QByteArray> imageData;
    } cases[] = {
        {"iVBORw0KGgo=", QByteArray("\x89PNG\r\n\x1a\n", 8)},
        {"", std::nullopt},             // a blank page
        {"iVBORw0KGgo", std::nullopt},  // not strict Base64: the page stays, without image
        {"iVBO Rw0KGgo=", std::nullopt},
    };
    for (const auto& c : cases) {
        const WirePage wire{"builtin-fox", "Fox", "image/jpeg", c.base64};
        const CurrentPage page = toCurrentPage(wire);
        EXPECT_EQ(page.pageId, "builtin-fox");
        EXPECT_EQ(page.displayName, "Fox");
        EXPECT_EQ(page.imageData, c.imageData) << '"' << c.base64 << '"';
    }
}

TEST(PageConversions, aCurrentPageTravelsAsPngAndComesBackUnchanged) {
    QByteArray bytes;
    for (int i = 0; i < 1000; ++i) {
        bytes.append(char(i * 7));
    }
    const CurrentPage withImage{"import-1", QStringLiteral("Ünïcode / page"), bytes};
    const WirePage wire = toWirePage(withImage);
    EXPECT_EQ(wire.pageId, "import-1");
    EXPECT_EQ(wire.displayName, "Ünïcode / page");
    EXPECT_EQ(wire.mimeType, "image/png");
    EXPECT_EQ(wire.imageBase64.find('\n'), std::string::npos);
    EXPECT_EQ(wire.imageBase64.size(), std::size_t((bytes.size() + 2) / 3 * 4));
    EXPECT_EQ(toCurrentPage(wire), withImage);

    const CurrentPage blank{"blank", "Blank", std::nullopt};
    const WirePage blankWire = toWirePage(blank);
    EXPECT_EQ(blankWire.imageBase64, "");
    EXPECT_EQ(blankWire.mimeType, "image/png");
    EXPECT_EQ(toCurrentPage(blankWire), blank);
}

}  // namespace
}  // namespace vellumora
