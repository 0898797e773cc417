#include <QGridLayout>
#include <QLabel>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

#include "account/friends_panel.h"
#include "app/base_url.h"
#include "app/color_palette.h"
#include "app/content_view.h"
#include "app/no_room_placeholder.h"
#include "app/page_frame.h"
#include "app/side_panel.h"
#include "app/swatch_preview.h"
#include "app/tool_picker.h"
#include "session/session_model.h"
#include "support/qt_test_app.h"
#include "support/test_accounts.h"
#include "ui/selectable_row.h"

namespace vellumora {
namespace {

const QString kDefault = QStringLiteral("http://127.0.0.1:8787");

TEST(BaseUrl, usesServerOnlyWhenItIsAWebOrigin) {
    struct Case {
        const char* name;
        std::optional<QString> server;
        QString expected;
    };
    const Case cases[] = {
        {"unset", std::nullopt, kDefault},
        {"https origin", "https://colour.example", "https://colour.example"},
        {"http with port and path", "http://10.0.0.2:9000/api", "http://10.0.0.2:9000/api"},
        {"surrounding blanks", "  https://colour.example  ", "https://colour.example"},
        {"empty", "", kDefault},
        {"garbage", "::not a url::", kDefault},
        {"no scheme", "localhost:8787", kDefault},
        {"another scheme", "ftp://files.example", kDefault},
        {"no host", "http://", kDefault},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(resolveBaseUrl(c.server, kDefault), QUrl(c.expected)) << c.name;
    }
}

class DrawingControlsTest : public ::testing::Test {
  protected:
    testing::TestAppScope app;
    SessionModel session{QUrl(kDefault)};
};

TEST_F(DrawingControlsTest, choosingAToolSetsItsDefaultSizeEvenWhenItIsCurrent) {
    ToolPicker picker(session);
    SwatchPreview preview(session);
    struct Case {
        Tool tool;
        double size;
        const char* name;
    };
    const Case cases[] = {
        {Tool::watercolor, 11.0, "Watercolor"}, {Tool::watercolor, 11.0, "Watercolor"},
        {Tool::pencil, 1.5, "Color Pencil"},    {Tool::crayon, 6.0, "Crayon"},
        {Tool::pastel, 8.0, "Pastel"},          {Tool::sketchpen, 3.0, "Sketch Pen"},
    };
    for (const auto& c : cases) {
        session.setBrushSize(2.0);
        QTest::mouseClick(picker.rowFor(c.tool), Qt::LeftButton);
        EXPECT_EQ(session.tool(), c.tool) << c.name;
        EXPECT_EQ(session.brushSize(), c.size) << c.name;
        EXPECT_EQ(picker.sizeLabel()->text(), QString::asprintf("%.1f", c.size));
        EXPECT_EQ(preview.toolName(), c.name);
        for (const Tool other : toolAllCases) {
            EXPECT_EQ(picker.rowFor(other)->isSelected(), other == c.tool) << c.name;
        }
    }
}

TEST_F(DrawingControlsTest, theSizeSliderStaysWithinItsRangeAndShowsOneDecimal) {
    ToolPicker picker(session);
    QSlider* slider = picker.sizeSlider();
    struct Case {
        const char* name;
        std::function<void()> act;
        double size;
        const char* label;
    };
    const Case cases[] = {
        {"Home key", [&] { QTest::keyClick(slider, Qt::Key_Home); }, 0.5, "0.5"},
        {"left at the minimum", [&] { QTest::keyClick(slider, Qt::Key_Left); }, 0.5, "0.5"},
        {"End key", [&] { QTest::keyClick(slider, Qt::Key_End); }, 20.0, "20.0"},
        {"right at the maximum", [&] { QTest::keyClick(slider, Qt::Key_Right); }, 20.0, "20.0"},
        {"model set to 7", [&] { session.setBrushSize(7.0); }, 7.0, "7.0"},
        {"one step up", [&] { QTest::keyClick(slider, Qt::Key_Right); }, 7.1, "7.1"},
    };
    for (const auto& c : cases) {
        c.act();
        EXPECT_NEAR(session.brushSize(), c.size, 1e-9) << c.name;
        EXPECT_EQ(picker.sizeLabel()->text(), c.label) << c.name;
    }
    // A size the model holds outside the range is shown as it is; the slider only pins its knob.
    session.setBrushSize(42.0);
    EXPECT_EQ(picker.sizeLabel()->text(), "42.0");
    EXPECT_EQ(slider->value(), slider->maximum());
    EXPECT_EQ(session.brushSize(), 42.0);
}

TEST_F(DrawingControlsTest, thePaletteIsSixColumnsOfNamedSwatchesWithOneSelected) {
    ColorPalette palette(session);
    SwatchPreview preview(session);
    const std::vector<ArtColor>& colors = ArtColor::palette();
    ASSERT_EQ(palette.swatches().size(), colors.size());
    auto* grid = qobject_cast<QGridLayout*>(palette.layout());
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->columnCount(), ColorPalette::kColumns);
    for (std::size_t i = 0; i < colors.size(); ++i) {
        ColorSwatch* swatch = palette.swatches()[i];
        int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
        grid->getItemPosition(grid->indexOf(swatch), &row, &column, &rowSpan, &columnSpan);
        EXPECT_EQ(row * ColorPalette::kColumns + column, static_cast<int>(i));
        EXPECT_EQ(swatch->toolTip().toStdString(), colors[i].name);
    }
    auto selected = [&] {
        return std::count_if(palette.swatches().begin(), palette.swatches().end(),
                             [](ColorSwatch* s) { return s->isSelected(); });
    };
    EXPECT_EQ(selected(), 1);
    QTest::mouseClick(palette.swatches()[7], Qt::LeftButton);
    EXPECT_EQ(session.color(), colors[7]);
    EXPECT_EQ(preview.colorName().toStdString(), colors[7].name);
    EXPECT_EQ(selected(), 1);
    EXPECT_TRUE(palette.swatches()[7]->isSelected());

    ArtColor offPalette = colors[7];
    offPalette.g += 0.01;
    session.setColor(offPalette);
    EXPECT_EQ(selected(), 0);
}

class LayoutTest : public testing::SharedServerTest {
  protected:
    LayoutTest() {
        session.setCurrentUser(ann.user());
        session.setCurrentToken(ann.token());
    }

    testing::TestAppScope app;
    testing::TestAccount ann{base(), "ann"};
    SessionModel session{base()};
};

TEST_F(LayoutTest, theCanvasIsMadeOnlyForAnOpenRoom) {
    int canvases = 0;
    int pickers = 0;
    ViewFactories factories{[&](QWidget* parent) {
                                ++canvases;
                                return new QWidget(parent);
                            },
                            [&](QWidget* parent) {
                                ++pickers;
                                return new QLabel(QStringLiteral("pages"), parent);
                            }};
    ContentView content(ann.auth(), session, factories);
    content.show();
    SidePanel* side = content.sidePanel();

    EXPECT_EQ(content.stageContent(), content.placeholder());
    EXPECT_EQ(content.pageFrame(), nullptr);
    EXPECT_EQ(canvases, 0);
    EXPECT_EQ(pickers, 1);
    EXPECT_FALSE(side->roomControls()->isVisible());
    EXPECT_TRUE(side->friendsPanel()->isVisible());

    session.switchRoom("solo:" + ann.user().id, "My sketchbook");
    ASSERT_NE(content.pageFrame(), nullptr);
    EXPECT_EQ(content.stageContent(), content.pageFrame());
    EXPECT_TRUE(side->roomControls()->isVisible());

    session.switchRoom("solo:" + ann.user().id, "My sketchbook");
    EXPECT_EQ(canvases, 1);

    session.clearAuth();
    EXPECT_EQ(content.stageContent(), content.placeholder());
    EXPECT_FALSE(side->roomControls()->isVisible());
}

TEST_F(LayoutTest, everySidePanelControlTakesKeyboardFocus) {
    session.switchRoom("solo:" + ann.user().id, "My sketchbook");
    SidePanel side(ann.auth(), session, {});
    side.show();
    int focusable = 0;
    for (QWidget* w : side.findChildren<QWidget*>()) {
        if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QSlider*>(w)) {
            EXPECT_TRUE(w->focusPolicy() & Qt::TabFocus) << w->metaObject()->className();
            EXPECT_FALSE(w->accessibleName().isEmpty()) << w->metaObject()->className();
            ++focusable;
        }
    }
    // Account menu, sketchbook, add friend, five tools, the slider and 24 swatches.
    EXPECT_EQ(focusable, 3 + 5 + 1 + 24);
}

}  // namespace
}  // namespace vellumora
