// The app's own views: the server address, the drawing controls, the layout and the root that
// switches screens as the account signs in and out.

#include <gtest/gtest.h>

#include <QAction>
#include <QColorDialog>
#include <QLabel>
#include <QMenu>
#include <QPointingDevice>
#include <QScrollArea>
#include <QSettings>
#include <QSlider>
#include <QTabletEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "account/views/friends_panel.h"
#include "account/views/login_view.h"
#include "app/base_url.h"
#include "app/color_palette.h"
#include "app/content_view.h"
#include "app/gesture_help_footer.h"
#include "app/no_room_placeholder.h"
#include "app/page_frame.h"
#include "app/pointing_devices.h"
#include "app/root_view.h"
#include "app/side_panel.h"
#include "app/swatch_preview.h"
#include "app/tool_picker.h"
#include "session/session_model.h"
#include "support/qt_test_app.h"
#include "support/test_accounts.h"
#include "ui/appearance.h"
#include "ui/selectable_row.h"

namespace vellumora {
namespace {

const QString kDefault = QStringLiteral("http://127.0.0.1:8787");

TEST(BaseUrl, usesServerOnlyWhenItIsAWebOrigin) {
    const struct {
        const char* name;
        std::optional<QString> server;
        QString expected;
    } cases[] = {
        {"unset", std::nullopt, kDefault},
        {"https origin", "https://colour.example", "https://colour.example"},
        {"http with port and path", "http://10.0.0.2:9000/api", "http://10.0.0.2:9000/api"},
        {"surrounding blanks", "  https://colour.example  ", "https://colour.example"},
        {"empty", "", kDefault},
        {"garbage", "::not a url::", kDefault},
        {"no scheme: read as another", "localhost:8787", kDefault},
        {"no host", "http://", kDefault},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(resolveBaseUrl(c.server, kDefault), QUrl(c.expected)) << c.name;
    }
}

class DrawingControlsTest : public ::testing::Test {
  protected:
    SessionModel session{QUrl(kDefault)};
    ToolPicker picker{session};
    SwatchPreview preview{session};
};

TEST_F(DrawingControlsTest, choosingAToolSetsItsDefaultSizeEvenWhenCurrentAndTheSliderSetsWhatItsLabelReads) {
    const struct {
        Tool tool;
        double size;
        const char* name;
    } cases[] = {
        {Tool::watercolor, 11.0, "Watercolor"}, {Tool::watercolor, 11.0, "Watercolor"},
        {Tool::pencil, 1.5, "Color Pencil"},    {Tool::crayon, 6.0, "Crayon"},
        {Tool::pastel, 8.0, "Pastel"},          {Tool::sketchpen, 3.0, "Sketch Pen"},
    };
    for (const auto& c : cases) {
        session.setBrushSize(2.0);
        QTest::mouseClick(picker.rowFor(c.tool), Qt::LeftButton);
        EXPECT_EQ(session.tool(), c.tool) << c.name;
        EXPECT_EQ(session.brushSize(), c.size) << c.name;
        EXPECT_EQ(preview.toolName(), c.name);
        for (const Tool other : toolAllCases) {
            EXPECT_EQ(picker.rowFor(other)->isSelected(), other == c.tool) << c.name;
        }
    }

    // The slider sets the size its label reads.
    QSlider* slider = picker.sizeSlider();
    session.setBrushSize(3.0);
    const struct {
        Qt::Key key;
        double size;
    } keys[] = {
        {Qt::Key_Right, 3.1}, {Qt::Key_Right, 3.2},  {Qt::Key_Left, 3.1}, {Qt::Key_PageUp, 4.1},
        {Qt::Key_End, 20.0},  {Qt::Key_Right, 20.0}, {Qt::Key_Home, 0.5}, {Qt::Key_Left, 0.5},
    };
    for (const auto& k : keys) {
        QTest::keyClick(slider, k.key);
        EXPECT_NEAR(session.brushSize(), k.size, 1e-9) << k.key;
        EXPECT_EQ(picker.sizeLabel()->text(), QString::asprintf("%.1f", k.size)) << k.key;
    }
}

// "More colours…" opens the colour dialog; a colour chosen there becomes the colour and the first
// custom swatch after it; the last five are kept across launches, each once.
TEST(ColorPaletteTest, moreColoursAddsCustomSwatchesThatAreKeptAcrossLaunches) {
    QTemporaryDir config;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    SessionModel session{QUrl(kDefault)};
    const auto customNames = [](const ColorPalette& palette) {
        QStringList names;
        for (std::size_t i = ArtColor::palette().size(); i < palette.swatches().size(); ++i)
            names << palette.swatches()[i]->accessibleName();
        return names;
    };
    const QStringList kept{"#111111", "#FEDCBA", "#ABCDEF", "#123456", "#0000FF"};
    {
        ColorPalette palette(session);
        palette.show();
        QTest::keyClick(palette.moreColors(), Qt::Key_Space);
        auto* dialog = palette.findChild<QColorDialog*>();
        ASSERT_NE(dialog, nullptr);
        dialog->setCurrentColor(QColor(0x12, 0x34, 0x56));
        dialog->accept();
        EXPECT_EQ(session.color().name, "#123456");
        for (const char* pick : {"#00ff00", "#0000ff", "#123456", "#abcdef", "#fedcba", "#111111"})
            palette.chooseCustom(QColor(pick));
        EXPECT_EQ(customNames(palette), kept);
        EXPECT_TRUE(palette.swatches()[ArtColor::palette().size()]->isSelected());
    }
    EXPECT_EQ(customNames(ColorPalette(session)), kept);
}

TEST_F(DrawingControlsTest, undoAndRedoFollowTheOwnStrokesByButtonAndKeysAndAClearEndsThem) {
    picker.show();
    picker.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&picker));
    std::string undone;
    QObject::connect(&session, &SessionModel::canvasEvents, &picker, [&](const CanvasEvent& e) {
        if (const auto* u = std::get_if<CanvasEvent::StrokeUndo>(&e.value)) undone += "-" + u->strokeId;
        if (const auto* r = std::get_if<CanvasEvent::StrokeRedo>(&e.value)) undone += "+" + r->strokeId;
    });
    const auto ctrl = [&](Qt::Key key, Qt::KeyboardModifiers more = {}) {
        QTest::keyClick(&picker, key, Qt::ControlModifier | more);
    };
    const auto draw = [&](const char* id) {
        return [&, id] { session.send(ClientMessage::strokeStart({id, "me", Tool::pencil, {}, 2, {}})); };
    };
    const struct {
        std::function<void()> act;
        const char* enabled;  // undo, redo, the note that a clear ended the history
    } steps[] = {
        {[] {}, "000"},
        {draw("A"), "100"},
        {draw("B"), "100"},
        {[&] { QTest::mouseClick(picker.undoButton(), Qt::LeftButton); }, "110"},
        {[&] { ctrl(Qt::Key_Z); }, "010"},
        {[&] { ctrl(Qt::Key_Z, Qt::ShiftModifier); }, "110"},
        {draw("C"), "100"},
        {[&] { ctrl(Qt::Key_Z); }, "110"},
        {[&] { ctrl(Qt::Key_Y); }, "100"},
        {[&] { session.send(ClientMessage::clearCanvas()); }, "001"},
    };
    for (const auto& step : steps) {
        step.act();
        EXPECT_EQ(QString("%1%2%3")
                      .arg(picker.undoButton()->isEnabled())
                      .arg(picker.redoButton()->isEnabled())
                      .arg(picker.undoNote()->isVisible()),
                  step.enabled)
            << undone;
    }
    EXPECT_EQ(undone, "-B-A+A-C+C");
    EXPECT_TRUE(picker.undoButton()->toolTip().contains("ended the undo history"));
}

TEST(PointingDevices, aTouchpadIsToldByNameTheXServersPointersStandForNoneAndTheHelpLearnsOfAPen) {
    using Type = QInputDevice::DeviceType;
    const struct {
        const char* name;
        std::vector<std::pair<const char*, Type>> devices;
        PointingDevices expected;
    } cases[] = {
        {"none listed", {}, {.mouse = true}},
        {"a bare X server",
         {{"Virtual core pointer", Type::Mouse}, {"Virtual core XTEST pointer", Type::Mouse}},
         {.mouse = true}},
        {"a laptop",
         {{"SynPS/2 Synaptics TouchPad", Type::Mouse}, {"AT Translated Set 2 keyboard", Type::Keyboard}},
         {.touchpad = true}},
        {"a laptop and a mouse",
         {{"ELAN0501:00 04F3:3060 Touchpad", Type::Mouse}, {"Logitech USB Mouse", Type::Mouse}},
         {.mouse = true, .touchpad = true}},
        {"a pen tablet",
         {{"Wacom Intuos S Pen stylus", Type::Stylus}, {"Virtual core pointer", Type::Mouse}},
         {.pen = true}},
        {"a touchscreen", {{"ELAN Touchscreen", Type::TouchScreen}}, {.touchscreen = true}},
    };
    for (const auto& c : cases) {
        std::vector<std::unique_ptr<QInputDevice>> owned;
        QList<const QInputDevice*> devices;
        for (const auto& [name, type] : c.devices) {
            owned.push_back(std::make_unique<QInputDevice>(name, 7000 + qint64(owned.size()), type));
            devices.append(owned.back().get());
        }
        EXPECT_EQ(classifyPointingDevices(devices), c.expected) << c.name;
    }

    // The help says what to do with the device at hand, and learns of a pen the moment it is used.
    GestureHelpFooter footer;
    NoRoomPlaceholder placeholder;
    EXPECT_TRUE(footer.text().startsWith("Mouse: drag on the paper to color."))
        << footer.text().toStdString();
    EXPECT_EQ(placeholder.deviceHint(), "Then drag on the paper with your mouse to color.");

    const QPointingDevice pen("pen", 7100, QInputDevice::DeviceType::Stylus,
                              QPointingDevice::PointerType::Pen, QInputDevice::Capability::Position, 1, 2);
    QTabletEvent event(QEvent::TabletEnterProximity, &pen, {}, {}, 0, 0, 0, 0, 0, 0, Qt::NoModifier,
                       Qt::NoButton, Qt::NoButton);
    QApplication::sendEvent(&footer, &event);
    EXPECT_TRUE(footer.text().startsWith("Pen: touch the paper to color.")) << footer.text().toStdString();
    EXPECT_TRUE(footer.text().contains("\nMouse: ")) << "the mouse is still there";
    EXPECT_EQ(placeholder.deviceHint(), "Then color with your pen, right on the paper.");
}

class RootViewTest : public testing::SharedServerTest {
  protected:
    testing::TestKeychainItem keychain{testing::isolatedConfig(base())};
};

// Signing up hands the user to the session and shows the content, whose canvas is made only
// for an open room and whose every control takes the keyboard; signing out clears it all.
TEST_F(RootViewTest, signingInAndOutSwitchesScreensAndTheCanvasIsMadeOnlyForAnOpenRoom) {
    AuthModel auth(keychain.config);
    SessionModel session(base());
    int canvases = 0;
    const auto canvas = [&](QWidget* parent) {
        ++canvases;
        return new QWidget(parent);
    };
    // As tall as the real page picker's thumbnails and buttons.
    const auto pages = [](QWidget* parent) {
        auto* picker = new QLabel("pages", parent);
        picker->setMinimumHeight(300);
        return picker;
    };
    std::vector<std::pair<std::string, QWidget*>> canvasActions;
    const auto record = [&](std::string what) {
        return [&canvasActions, what](QWidget* target) { canvasActions.emplace_back(what, target); };
    };
    RootView root(auth, session, {canvas, pages, record("export"), record("copy")});
    int signOuts = 0;
    QObject::connect(&session, &SessionModel::currentUserChanged,
                     [&](const OptionalAuthUser& user) { signOuts += !user.has_value(); });
    root.show();
    EXPECT_TRUE(qobject_cast<LoginView*>(root.currentWidget()));
    const QString name = "root" + QUuid::createUuid().toString(QUuid::Id128).left(10);
    ASSERT_TRUE(testing::await([&](auto done) { auth.signup(name, "password1", done); }));
    ASSERT_NE(auth.signedIn(), nullptr);
    EXPECT_EQ(session.currentUser(), auth.signedIn()->user);
    EXPECT_EQ(session.currentToken(), auth.signedIn()->token);

    auto* content = qobject_cast<ContentView*>(root.currentWidget());
    ASSERT_NE(content, nullptr);
    SidePanel* side = content->sidePanel();
    EXPECT_EQ(content->stageContent(), content->placeholder());
    EXPECT_EQ(content->pageFrame(), nullptr);
    EXPECT_FALSE(side->roomControls()->isVisible());
    EXPECT_TRUE(side->friendsPanel()->isVisible());
    for (int i = 0; i < 2; ++i) session.switchRoom("solo:" + auth.signedIn()->user.id, "My sketchbook");
    ASSERT_NE(content->pageFrame(), nullptr);
    EXPECT_EQ(content->stageContent(), content->pageFrame());
    EXPECT_TRUE(side->roomControls()->isVisible());
    EXPECT_EQ(canvases, 1);
    // The picture's keys work wherever the focus is, on the open room's canvas only.
    QWidget* made = content->pageFrame()->content();
    root.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&root));
    QTest::keyClick(side->friendsPanel(), Qt::Key_E, Qt::ControlModifier);
    QTest::keyClick(made, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    using Call = std::pair<std::string, QWidget*>;
    EXPECT_EQ(canvasActions, (std::vector<Call>{{"export", made}, {"copy", made}}));
    QStringList menu;
    for (const QAction* item : side->friendsPanel()->accountMenu()->actions()) menu << item->text();
    EXPECT_EQ(menu,
              QStringList({"Keyboard shortcuts", "", "Export picture…", "Copy picture", "", "Log out"}));
    // Every control takes the keyboard and has a name. At the default size the drawing controls
    // are all in view, with room for a row or two more; the rest scrolls.
    root.resize(1280, 820);
    QApplication::processEvents();
    int focusable = 0, drawing = 0;
    for (QWidget* w : side->findChildren<QWidget*>()) {
        if (!qobject_cast<QAbstractButton*>(w) && !qobject_cast<QSlider*>(w)) continue;
        EXPECT_TRUE(w->focusPolicy() & Qt::TabFocus) << w->metaObject()->className();
        EXPECT_FALSE(w->accessibleName().isEmpty()) << w->metaObject()->className();
        ++focusable;
        if (side->friendsPanel()->isAncestorOf(w)) continue;
        EXPECT_EQ(w->visibleRegion().boundingRect(), w->rect()) << w->accessibleName().toStdString();
        ++drawing;
    }
    // Account menu, sketchbook, add friend; six tools, the slider, undo, redo, 24 swatches and
    // "More colours…".
    EXPECT_EQ(focusable, 3 + 6 + 1 + 2 + 24 + 1);
    EXPECT_EQ(drawing, 6 + 1 + 2 + 24 + 1);
    const auto* scroll = side->findChild<QScrollArea*>();
    EXPECT_GE(scroll->height(), ui::pt(150));

    ASSERT_TRUE(testing::await([&](auto done) { auth.logout(done); }));
    EXPECT_TRUE(qobject_cast<LoginView*>(root.currentWidget()));
    EXPECT_EQ(signOuts, 1) << "the session's sign-in is cleared once";
}

}  // namespace
}  // namespace vellumora
