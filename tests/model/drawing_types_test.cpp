#include <gtest/gtest.h>

#include <set>

#include "model/drawing_types.h"
#include "model/json_forms.h"

using namespace vellumora;

TEST(Tool, tableOrderNamesAndSymbols) {
    struct Row {
        Tool tool;
        const char* raw;
        const char* display;
        const char* symbol;
    };
    const Row rows[] = {
        {Tool::sketchpen, "sketchpen", "Sketch Pen", "highlighter"},
        {Tool::pencil, "pencil", "Color Pencil", "pencil"},
        {Tool::watercolor, "watercolor", "Watercolor", "paintbrush.pointed.fill"},
        {Tool::crayon, "crayon", "Crayon", "pencil.tip.crop.circle.fill"},
        {Tool::pastel, "pastel", "Pastel", "paintbrush"},
    };
    ASSERT_EQ(toolAllCases.size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].raw);
        EXPECT_EQ(toolAllCases[i], rows[i].tool);
        EXPECT_EQ(rawValue(rows[i].tool), rows[i].raw);
        EXPECT_EQ(displayName(rows[i].tool), rows[i].display);
        EXPECT_EQ(symbolName(rows[i].tool), rows[i].symbol);
        EXPECT_EQ(toolFromRawValue(rows[i].raw), rows[i].tool);
    }
}

TEST(Tool, rawValueMatchIsExactAndCaseSensitive) {
    EXPECT_EQ(toolFromRawValue("watercolor"), Tool::watercolor);
    EXPECT_FALSE(toolFromRawValue("Pencil"));
    EXPECT_FALSE(toolFromRawValue("marker"));
    EXPECT_FALSE(toolFromRawValue("pencil "));
    EXPECT_FALSE(toolFromRawValue(""));
}

TEST(Palette, hasTwentyFourDistinctEntriesInOrder) {
    const auto& palette = ArtColor::palette();
    ASSERT_EQ(palette.size(), 24u);
    std::set<std::string> ids;
    for (const auto& entry : palette) ids.insert(entry.id);
    EXPECT_EQ(ids.size(), 24u);
    EXPECT_EQ(palette.front(), (ArtColor{"ink-black", "Ink Black", 0.08, 0.08, 0.10}));
    EXPECT_EQ(palette[2], (ArtColor{"cherry-red", "Cherry Red", 0.86, 0.18, 0.18}));
    EXPECT_EQ(palette[9], (ArtColor{"grass", "Grass Green", 0.30, 0.72, 0.28}));
    EXPECT_EQ(palette.back(), (ArtColor{"slate", "Slate", 0.46, 0.52, 0.62}));
    EXPECT_EQ(palette[2].wireColor(), (WireColor{0.86, 0.18, 0.18, 1.0}));
    ASSERT_NE(ArtColor::byId("lavender"), nullptr);
    EXPECT_EQ(ArtColor::byId("lavender")->name, "Lavender");
    EXPECT_EQ(ArtColor::byId("Lavender"), nullptr);
}

TEST(HexColor, parsesWithOrWithoutHashInEitherCase) {
    const RGBA32 orange{1.0f, 128.0f / 255.0f, 0.0f, 1.0f};
    EXPECT_EQ(parseHexColor("#FF8000"), orange);
    EXPECT_EQ(parseHexColor("ff8000"), orange);
    EXPECT_NEAR(parseHexColor("#FF8000").g, 0.50196f, 1e-5f);
    const auto grey = parseHexColor("#888888");
    EXPECT_FLOAT_EQ(grey.r, 136.0f / 255.0f);
    EXPECT_NE(grey.r, 0.5f);
}

TEST(HexColor, invalidTextGivesOpaqueMidGrey) {
    const RGBA32 fallback{0.5f, 0.5f, 0.5f, 1.0f};
    for (const char* text :
         {"", "#", "#FFF", "##FFFFFF", "#FFFFFFFF", "#GG0000", "#12345 ", " 123456", "#-12345"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parseHexColor(text), fallback);
    }
}

TEST(HexColor, writingTruncatesAndUsesUpperCase) {
    EXPECT_EQ(hexColorText(0.999, 0.5, 0.0), "#FE7F00");
    EXPECT_EQ(hexColorText(1.0, 1.0, 1.0), "#FFFFFF");
    EXPECT_EQ(hexColorText(0.0, 0.0, 0.0), "#000000");
    EXPECT_EQ(hexColorText(136.0 / 255.0, 0.0, 171.0 / 255.0).substr(0, 3), "#88");
    // Out-of-range input still gives seven characters.
    EXPECT_EQ(hexColorText(1.5, -0.2, 2.0), "#FF00FF");
}

TEST(JsonForms, strokePointAcceptsIntegersAndNeedsEveryKey) {
    const auto point = decodeStrokePoint(R"({"x": 0.25, "y": 0.75, "pressure": 1, "t": 1733400000.5})");
    ASSERT_TRUE(point);
    EXPECT_EQ(*point, (StrokePoint{0.25, 0.75, 1.0, 1733400000.5}));
    EXPECT_FALSE(decodeStrokePoint(R"({"x": 0.25, "y": 0.75, "pressure": 1})"));
    EXPECT_FALSE(decodeStrokePoint(R"({"x": "0.25", "y": 0.75, "pressure": 1, "t": 0})"));
    EXPECT_FALSE(decodeStrokePoint(R"({"x": null, "y": 0.75, "pressure": 1, "t": 0})"));
    EXPECT_FALSE(decodeStrokePoint("[0.25, 0.75, 1, 0]"));
    // Unknown members are ignored; the first of a repeated member counts.
    EXPECT_EQ(decodeStrokePoint(R"({"x":1,"x":2,"y":0,"pressure":1,"t":0,"extra":{}})")->x, 1.0);
}

TEST(JsonForms, headerColourToolAndPaletteEntryRoundTrip) {
    const StrokeHeader header{"S-1", "u/1", Tool::crayon, {0.1, 0.2, 0.3, 1.0}, 4.5};
    std::string text;
    json::Writer writer(text);
    json::write(writer, header);
    EXPECT_EQ(
        text,
        R"({"id":"S-1","userId":"u\/1","tool":"crayon","color":{"r":0.1,"g":0.2,"b":0.3,"a":1},"brushSize":4.5})");
    EXPECT_EQ(decodeStrokeHeader(text), header);
    EXPECT_FALSE(decodeStrokeHeader(
        R"({"id":"S","userId":"u","tool":"marker","color":{"r":0,"g":0,"b":0,"a":1},"brushSize":1})"));
    EXPECT_EQ(decodeTool(R"("pastel")"), Tool::pastel);
    EXPECT_FALSE(decodeTool("3"));
    EXPECT_FALSE(decodeWireColor(R"({"r":0,"g":0,"b":0})"));

    const ArtColor& teal = *ArtColor::byId("teal");
    std::string tealText;
    json::Writer tealWriter(tealText);
    json::write(tealWriter, teal);
    EXPECT_EQ(decodeArtColor(tealText), teal);
    EXPECT_FALSE(decodeArtColor(R"({"id":"teal","name":"Teal","r":0.12,"g":0.66})"));
}
