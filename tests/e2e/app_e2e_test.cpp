// The real vellumora binary against the real server, under the real keyring, driven from
// outside like a person at the keyboard would drive it.

#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include "app_instance.h"
#include "server/test_client.h"
#include "support/qt_test_app.h"
#include "support/scripted_server.h"
#include "support/server_process.h"

namespace vellumora::testing {
namespace {

class AppEndToEndTest : public ::testing::Test {
  protected:
    QUrl base() const { return QUrl(QString::fromStdString(server.baseUrl())); }

    // Signs up through the window: switch to sign-up, type both fields, press Return.
    QString signUp(AppInstance& app, const char* username) {
        const QString name = username + QUuid::createUuid().toString(QUuid::Id128).left(8);
        EXPECT_TRUE(app.waitShowing("Username")) << "no login screen";
        app.focusWindow();
        EXPECT_TRUE(app.press("No account yet? Sign up"));
        EXPECT_TRUE(app.waitShowing("Create account"));
        app.type(name);
        app.key("Tab");
        app.type("password1");
        app.key("Return");
        EXPECT_TRUE(app.waitShowing("My sketchbook")) << "sign-up did not reach the main layout";
        return name;
    }

    bool metricReaches(const char* name, std::int64_t value) {
        return runUntil([&] { return metric(server.port(), name) == value; });
    }

    std::int64_t historyBytes() { return metric(server.port(), "vellumora_history_bytes"); }

    // Outside canvas mode the mouse draws where it is dragged, as in any drawing program.
    void drawWithTheMouse(AppInstance& app) {
        const std::int64_t history = historyBytes();
        app.focusWindow();
        for (const char* step :
             {"mousemove --window WINDOW 300 250", "mousedown 1", "mousemove_relative -- 40 10",
              "mousemove_relative -- 40 25", "mousemove_relative -- 30 40", "mouseup 1"}) {
            app.pointer(QString::fromLatin1(step));
        }
        EXPECT_TRUE(runUntil([&] { return historyBytes() > history; }))
            << "the mouse stroke never reached the room";
    }

    // Canvas mode grabs the pointer: its motion moves the cursor, with the button held it draws.
    // One stroke reaches the room's history, then the cursor moves on without ink.
    void drawAStroke(AppInstance& app) {
        const std::int64_t history = metric(server.port(), "vellumora_history_bytes");
        // The pointer starts over the canvas, so the motion that takes it there adds no stroke.
        app.focusWindow();
        app.pointer("mousemove --window WINDOW 480 400");
        app.key("space");
        EXPECT_TRUE(app.waitShowing("Canvas mode"));
        for (const char* step : {"mousemove_relative -- 5 5", "mousedown 1", "mousemove_relative -- 60 20",
                                 "mousemove_relative -- 60 40", "mousemove_relative -- 40 60", "mouseup 1",
                                 "mousemove_relative -- 30 -20"}) {
            app.pointer(QString::fromLatin1(step));
        }
        EXPECT_TRUE(runUntil([&] { return metric(server.port(), "vellumora_history_bytes") > history; }))
            << "the stroke never reached the room";
    }

    ServerProcess server{{{"--auth-rate-limit", "0"}}};
};

// Ann's sign-up survives quitting and an outage and is restored without typing; then Bo signs
// up, and the two meet in their shared room.
TEST_F(AppEndToEndTest, aSignUpSurvivesQuittingAndAnOutageThenTwoFriendsMeetInTheirSharedRoom) {
    QTemporaryDir homeA;
    QTemporaryDir homeB;
    AppInstance ann(homeA.path());
    AppInstance bo(homeB.path());
    ann.launch(base());
    ASSERT_TRUE(ann.waitShowing("Username"));
    ann.screenshot("login");
    const QString annName = signUp(ann, "ann");
    ASSERT_FALSE(::testing::Test::HasFailure());
    ann.screenshot("placeholder");

    // The sketchbook row has the keyboard; Space opens it and the drawing controls appear, with
    // a hint on how to draw until the first stroke.
    ann.key("space");
    ASSERT_TRUE(ann.waitShowing("Palette"));
    ASSERT_TRUE(metricReaches("vellumora_connections", 1));
    const QString hint = "Drag on the paper to draw. Space: use the touchpad as paper.";
    EXPECT_TRUE(ann.waitShowing(hint));
    ann.screenshot("first-room-hint");
    drawWithTheMouse(ann);
    EXPECT_TRUE(runUntil([&] { return !ann.isShowing(hint); }));
    drawAStroke(ann);
    ann.screenshot("sketchbook-drawing");
    ann.key("Escape");

    // The account menu (the "…" at the panel's top right) lists the shortcuts, pointer ones too;
    // Esc closes the list.
    ann.pointer("mousemove --window WINDOW 1245 20");
    ann.pointer("click 1");
    runFor(std::chrono::milliseconds(500));
    ann.key("Down");
    ann.key("Return");
    ASSERT_TRUE(ann.waitShowing("Ctrl+wheel"));
    ann.screenshot("keyboard-shortcuts", "^Keyboard shortcuts");
    ann.key("Escape");
    EXPECT_TRUE(runUntil([&] { return !ann.isShowing("Ctrl+wheel"); }));
    EXPECT_TRUE(ann.quit());
    ASSERT_TRUE(metricReaches("vellumora_connections", 0));

    // A server that does not answer: the check of the stored session waits on the loading screen.
    ScriptedResponder silent;
    silent.script("GET", "/auth/me", {ScriptedAnswer::never()});
    ann.launch(silent.baseUrl());
    ASSERT_TRUE(ann.waitShowing("Loading"));
    ann.screenshot("loading");
    EXPECT_TRUE(ann.quit());

    // No server at all: the login screen says so, and the session stays stored.
    ann.launch(unreachableUrl());
    ASSERT_TRUE(ann.waitShowing("Could not reach the server", true));
    EXPECT_TRUE(ann.quit());

    ann.launch(base());
    ASSERT_TRUE(ann.waitShowing("My sketchbook")) << "the stored session was not restored";
    EXPECT_FALSE(ann.isShowing("Username"));

    // Ann's window is up before Bo's: a window that appears takes the keyboard from the other.
    bo.launch(base());
    const QString boName = signUp(bo, "bo");
    ASSERT_FALSE(::testing::Test::HasFailure());
    ann.focusWindow();
    ASSERT_TRUE(ann.press("Add a friend"));
    ASSERT_TRUE(ann.waitShowing("Friend's username"));
    ann.type(boName);
    ann.screenshot("add-friend");
    ann.key("Return");

    // Bo's list is polled every five seconds.
    ASSERT_TRUE(bo.press("Accept " + annName));
    ASSERT_TRUE(bo.press(annName));
    ASSERT_TRUE(bo.waitShowing("Palette"));
    ASSERT_TRUE(ann.press(boName));
    ASSERT_TRUE(ann.waitShowing("Palette"));
    EXPECT_FALSE(ann.isShowing(hint)) << "Ann has drawn before, in an earlier launch";

    // Both connections are in one room: the one both computed from their two ids.
    ASSERT_TRUE(metricReaches("vellumora_connections", 2));
    EXPECT_TRUE(metricReaches("vellumora_rooms", 1));
    drawAStroke(ann);
    bo.screenshot("shared-room");
}

}  // namespace
}  // namespace vellumora::testing
