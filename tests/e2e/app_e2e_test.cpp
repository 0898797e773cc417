// The real vellumora binary against the real server, under the real keyring, driven from
// outside like a person at the keyboard would drive it.

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include "app_instance.h"
#include "support/qt_test_app.h"
#include "support/scripted_responder.h"
#include "support/server_process.h"

namespace vellumora::testing {
namespace {

using namespace std::chrono_literals;

QString uniqueName(const char* base) {
    return QString::fromLatin1(base) + QUuid::createUuid().toString(QUuid::Id128).left(8);
}

class AppEndToEndTest : public ::testing::Test {
  protected:
    AppEndToEndTest() : server(unlimited()) {}
    static ServerProcess::Options unlimited() {
        ServerProcess::Options options;
        options.extraArgs = {"--auth-rate-limit", "0"};
        return options;
    }
    QUrl base() const { return QUrl(QString::fromStdString(server.baseUrl())); }

    // Signs up through the window: switch to sign-up, type both fields, press Return.
    void signUp(AppInstance& app, const QString& username) {
        ASSERT_TRUE(app.waitShowing("Username")) << "no login screen";
        app.focusWindow();
        ASSERT_TRUE(app.press("No account yet? Sign up"));
        ASSERT_TRUE(app.waitShowing("Create account"));
        app.type(username);
        app.key("Tab");
        app.type("password1");
        app.key("Return");
        const bool signedIn = app.waitShowing("My sketchbook");
        if (!signedIn) {
            app.screenshot("failed-sign-up-" + username);
        }
        ASSERT_TRUE(signedIn) << "sign-up did not reach the main layout";
    }

    // A gauge or counter of the server's metrics.
    double metric(const QString& name) {
        QNetworkAccessManager http;
        QNetworkReply* reply = http.get(QNetworkRequest(base().resolved(QUrl("/metrics"))));
        runUntil([reply] { return reply->isFinished(); });
        for (const QByteArray& line : reply->readAll().split('\n')) {
            if (line.startsWith(name.toUtf8() + ' ')) {
                reply->deleteLater();
                return line.mid(name.size() + 1).toDouble();
            }
        }
        reply->deleteLater();
        return -1;
    }

    TestAppScope app;
    ServerProcess server;
};

TEST_F(AppEndToEndTest, aSignUpSurvivesQuittingAndAnOutageAndIsRestoredWithoutTyping) {
    QTemporaryDir home;
    AppInstance vellumora(home.path(), base());
    vellumora.launch();
    ASSERT_TRUE(vellumora.waitShowing("Username"));
    vellumora.screenshot("login");
    signUp(vellumora, uniqueName("ann"));
    vellumora.screenshot("placeholder");

    // The sketchbook row has the keyboard; Space opens it and the drawing controls appear.
    vellumora.key("space");
    ASSERT_TRUE(vellumora.waitShowing("Palette"));
    ASSERT_TRUE(runUntil([&] { return metric("vellumora_connections") == 1; }));

    vellumora.key("ctrl+q");
    EXPECT_EQ(vellumora.waitForExit(), 0);
    ASSERT_TRUE(runUntil([&] { return metric("vellumora_connections") == 0; }));

    // A server that does not answer: the check of the stored session waits on the loading screen.
    ScriptedResponder silent;
    silent.script("GET", "/auth/me", {ScriptedAnswer::never()});
    vellumora.setServer(silent.baseUrl());
    vellumora.launch();
    ASSERT_TRUE(vellumora.waitShowing("Loading"));
    vellumora.screenshot("loading");
    vellumora.focusWindow();
    vellumora.key("ctrl+q");
    EXPECT_EQ(vellumora.waitForExit(), 0);

    // No server at all: the login screen says so, and the session stays stored.
    vellumora.setServer(unreachableUrl());
    vellumora.launch();
    ASSERT_TRUE(vellumora.waitShowingStart("Could not reach the server"));
    vellumora.focusWindow();
    vellumora.key("ctrl+q");
    EXPECT_EQ(vellumora.waitForExit(), 0);

    vellumora.setServer(base());
    vellumora.launch();
    ASSERT_TRUE(vellumora.waitShowing("My sketchbook")) << "the stored session was not restored";
    EXPECT_FALSE(vellumora.isShowing("Username"));
    vellumora.focusWindow();
    vellumora.key("ctrl+q");
    EXPECT_EQ(vellumora.waitForExit(), 0);
}

TEST_F(AppEndToEndTest, twoFriendsMeetInTheirSharedRoom) {
    QTemporaryDir homeA;
    QTemporaryDir homeB;
    AppInstance ann(homeA.path(), base());
    AppInstance bo(homeB.path(), base());
    const QString annName = uniqueName("ann");
    const QString boName = uniqueName("bo");
    // One after the other: a window that appears takes the keyboard from the other.
    ann.launch();
    signUp(ann, annName);
    bo.launch();
    signUp(bo, boName);
    bo.moveWindow(640, 380);

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

    // Both connections are in one room: the one both computed from their two ids.
    ASSERT_TRUE(runUntil([&] { return metric("vellumora_connections") == 2; }));
    EXPECT_EQ(metric("vellumora_rooms"), 1);
    ann.screenshot("shared-room");
}

}  // namespace
}  // namespace vellumora::testing
